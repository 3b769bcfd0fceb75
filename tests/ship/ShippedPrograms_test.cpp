// The dialog programs as a user starts them from where a package put them (the folder in
// TOL_SHIPPED_DIR, a Windows path): each shows its dialog, carries the project's version in its
// version resource, and its test-print button reaches a network printer.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "TolVersion.h"
#include "dialog/DialogIds.h"
#include "tests/e2e/DialogDriver.h"
#include "tests/e2e/E2eUtil.h"
#include "tests/support/FakePrinters.h"

namespace {

constexpr DWORD kPrinterAt = Ip(127, 0, 0, 4);
constexpr int kEthernet = 6;  // the port list's last entry

struct Shipped {
    const wchar_t* exe;
    const wchar_t* caption;
};

std::wstring ShippedDir() {
    wchar_t dir[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"TOL_SHIPPED_DIR", dir, MAX_PATH);
    return dir;
}

// The "FileVersion" string and the fixed file version of a program's version resource.
std::wstring VersionOf(const std::wstring& path, std::wstring& fixed) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) {
        return L"(no version resource)";
    }
    std::string data(size, '\0');
    if (!GetFileVersionInfoW(path.c_str(), 0, size, &data[0])) {
        return L"(unreadable version resource)";
    }
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) && info != nullptr) {
        fixed = std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." +
                std::to_wstring(LOWORD(info->dwFileVersionMS)) + L"." +
                std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." +
                std::to_wstring(LOWORD(info->dwFileVersionLS));
    }
    wchar_t* text = nullptr;
    if (!VerQueryValueW(data.data(), L"\\StringFileInfo\\040904b0\\FileVersion",
                        reinterpret_cast<void**>(&text), &length) ||
        text == nullptr) {
        return L"(no FileVersion)";
    }
    return text;
}

class ShippedProgram : public ::testing::TestWithParam<Shipped> {
  protected:
    static void SetUpTestSuite() {
        printer = new FakePrinter(FakePrinter::Kind::Good, Dotted(kPrinterAt), 9100);
        ASSERT_TRUE(printer->Listening()) << "cannot listen on 127.0.0.4:9100: " << printer->Failure();
    }
    static void TearDownTestSuite() {
        delete printer;
        printer = nullptr;
    }
    static FakePrinter* printer;
};
FakePrinter* ShippedProgram::printer = nullptr;

TEST_P(ShippedProgram, ShowsItsDialogCarriesTheVersionAndPrints) {
    const std::wstring dir = ShippedDir();
    ASSERT_FALSE(dir.empty()) << "TOL_SHIPPED_DIR is not set";
    const std::wstring path = dir + L"\\" + GetParam().exe;

    std::wstring fixed;
    const std::wstring version = VersionOf(path, fixed);
    const std::string expected = TOL_VERSION_TEXT;
    EXPECT_EQ(version, std::wstring(expected.begin(), expected.end()));
    EXPECT_EQ(fixed, std::wstring(expected.begin(), expected.end()));

    DialogDriver dlg;
    ASSERT_TRUE(dlg.Launch(path, GetParam().caption)) << "no dialog from the shipped program";
    dlg.SelectCombo(IDC_PORT, kEthernet);
    dlg.SetAddress(IDC_PRINTER_IP, kPrinterAt);
    dlg.Click(IDC_TEST_CONNECT);
    std::string bytes;
    EXPECT_TRUE(printer->NextConnection(bytes, 5000)) << "the test print reached no printer";
    EXPECT_EQ(bytes, TestPrintBytes());
    EXPECT_EQ(dlg.WaitForBox(0), nullptr) << "the test print showed a message";

    dlg.SysCommand(SC_CLOSE);
    ASSERT_TRUE(dlg.WaitForExit(5000)) << "the program did not end when closed";
    EXPECT_EQ(dlg.ExitCode(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Programs,
                         ShippedProgram,
                         ::testing::Values(Shipped{L"tolvane.exe", L"WIFI & Bluetooth & Ethernet"},
                                           Shipped{L"tolwire.exe", L"tolwire"}),
                         [](const ::testing::TestParamInfo<Shipped>& info) {
                             return info.index == 0 ? std::string("tolvane") : std::string("tolwire");
                         });

}  // namespace

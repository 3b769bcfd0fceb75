#include "DialogTest.h"

#include <windows.h>
// dbt.h needs the Windows types first.
#include <dbt.h>

#include "E2eUtil.h"

FakeNetworkPrinter* DialogTest::printer = nullptr;

void DialogTest::SetUpTestSuite() {
    printer = new FakeNetworkPrinter();
    ASSERT_TRUE(printer->Start("127.0.0.2", 9100)) << "cannot listen on 127.0.0.2:9100";
}

void DialogTest::TearDownTestSuite() {
    delete printer;
    printer = nullptr;
}

void DialogTest::Launch(const char* exe, const wchar_t* caption) {
    ASSERT_TRUE(dlg.Launch(WinePath(exe), caption)) << exe << " did not show its dialog";
}

void DialogTest::UseNetworkPrinter(DWORD address) {
    dlg.SelectCombo(1000, 6);
    dlg.SetAddress(1042, address);
}

std::string DialogTest::Press(int id) {
    dlg.Click(id);
    std::string bytes;
    EXPECT_TRUE(printer->NextConnection(bytes, kWait)) << "button " << id << " sent nothing";
    EXPECT_EQ(dlg.WaitForBox(0), nullptr) << "button " << id << " showed a message";
    return bytes;
}

std::wstring DialogTest::PressExpectingMessage(int id, const std::wstring& caption) {
    dlg.Click(id);
    HWND box = dlg.WaitForBox(kWait);
    EXPECT_NE(box, nullptr) << "button " << id << " showed no message";
    if (box == nullptr) {
        return L"";
    }
    const std::wstring text = dlg.BoxText(box);
    EXPECT_EQ(dlg.BoxTitle(box), caption);
    dlg.CloseBox(box);
    EXPECT_EQ(dlg.WaitForBox(300), nullptr) << "button " << id << " showed a second message";
    return text;
}

void DialogTest::DeviceChange(WPARAM event, const std::wstring& devicePath) {
    struct {
        DEV_BROADCAST_DEVICEINTERFACE_W header;
        wchar_t rest[260];
    } broadcast = {};
    broadcast.header.dbcc_size = static_cast<DWORD>(sizeof broadcast);
    broadcast.header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast.header.dbcc_classguid = {
        0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
    wcsncpy(broadcast.header.dbcc_name, devicePath.c_str(), 259);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(dlg.Window(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&broadcast),
                        SMTO_ABORTIFHUNG, 5000, &result);
}

#include "tests/e2e/DialogTest.h"

#include <windows.h>
// dbt.h needs the Windows types first.
#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <regex>

#include "tests/e2e/E2eUtil.h"
#include "tests/e2e/ExitWatch.h"
#include "tests/wine/FakeUsbPrinter.h"
#include "tests/wine/WineBench.h"

namespace {

const wchar_t kImageOptions[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\";
const wchar_t* const kPrograms[] = {L"tolvane.exe", L"tolwire.exe"};
// Tail and free checks and parameter validation of the heap (what gflags calls them): a freed
// block is filled with a pattern, so that a pointer read from it afterwards leads nowhere and the
// program crashes at once instead of going on with stale data.
constexpr DWORD kHeapChecks = 0x10 | 0x20 | 0x40;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::string HexCode(DWORD code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(code));
    return text;
}

int SecondsOfDay(int hour, int minute, int second) {
    return (hour * 60 + minute) * 60 + second;
}

std::string DateOf(const SYSTEMTIME& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.wYear, t.wMonth, t.wDay);
    return text;
}

// How far the clock field lags behind `now`, in seconds; large when it is wrong.
int LagOf(const std::string& clock, const SYSTEMTIME& now) {
    int h = 0, m = 0, s = 0;
    if (std::sscanf(clock.c_str(), "%d:%d:%d", &h, &m, &s) != 3) {
        return 86400;
    }
    return (SecondsOfDay(now.wHour, now.wMinute, now.wSecond) - SecondsOfDay(h, m, s) + 86400) % 86400;
}

std::string Describe(const ShownControl& c) {
    std::string line = std::to_string(c.id) + " " + Narrow(c.className) + " \"" + Narrow(c.text) + "\"";
    if ((c.style & WS_TABSTOP) != 0) {
        line += " tabstop";
    }
    if ((c.style & WS_DISABLED) != 0) {
        line += " disabled";
    }
    if ((c.style & WS_VISIBLE) == 0) {
        line += " hidden";
    }
    return line;
}

}  // namespace

namespace {

// 127.91.X.Y with X and Y drawn once per run; Y stays below 254 so that NobodyAt is another
// address of the same kind.
DWORD ChoosePrinterAddress() {
    std::random_device random;
    return Ip(127, 91, 1 + random() % 254, 1 + random() % 252);
}

}  // namespace

DWORD PrinterAt() {
    static const DWORD address = ChoosePrinterAddress();
    return address;
}

DWORD NobodyAt() {
    return PrinterAt() + 1;
}

FakePrinter* DialogTest::printer = nullptr;

void DialogTest::SetUpTestSuite() {
    const DWORD at = PrinterAt();
    const std::string address = std::to_string(at >> 24) + "." + std::to_string((at >> 16) & 255) + "." +
                                std::to_string((at >> 8) & 255) + "." + std::to_string(at & 255);
    printer = new FakePrinter(FakePrinter::Kind::Good, address, 9100);
    ASSERT_TRUE(printer->Listening()) << "cannot listen on " << address << ":9100: " << printer->Failure();
    for (const wchar_t* program : kPrograms) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kImageOptions) + program).c_str(), 0,
                                  nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"GlobalFlag", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kHeapChecks),
                       sizeof kHeapChecks);
        RegCloseKey(key);
    }
    // Under Wine a crash would wait in the debugger's dialog for a person; this way the crashed
    // program ends at once, with the exception's code.
    HKEY wineDbg = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\WineDbg", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &wineDbg, nullptr) == ERROR_SUCCESS) {
        const DWORD no = 0;
        RegSetValueExW(wineDbg, L"ShowCrashDialog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&no),
                       sizeof no);
        RegCloseKey(wineDbg);
    }
}

void DialogTest::TearDownTestSuite() {
    delete printer;
    printer = nullptr;
    for (const wchar_t* program : kPrograms) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kImageOptions) + program).c_str());
    }
}

void DialogTest::TearDown() {
    if (!m_bEndExpected && dlg.ProcessId() != 0 && dlg.WaitForExit(0)) {
        ADD_FAILURE() << "the program ended during the test (exit code " << HexCode(dlg.ExitCode()) << ")";
    }
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

void DialogTest::ExpectEnds() {
    m_bEndExpected = true;
    ASSERT_TRUE(dlg.WaitForExit(kWait)) << "the program did not end";
    EXPECT_EQ(dlg.ExitCode(), 0u) << "the program ended with " << HexCode(dlg.ExitCode())
                                  << " (0xc0000005: it touched memory it must not)";
}

void DialogTest::ExpectClock(int dateId, int timeId) {
    // The first tick comes a second after the window was made, which was after the start.
    const std::wstring startDate = dlg.Text(dateId);
    const std::wstring startTime = dlg.Text(timeId);
    if (dlg.SinceLaunch() < 900) {
        EXPECT_EQ(startDate, L"") << "the date showed before the first second was over";
        EXPECT_EQ(startTime, L"") << "the time showed before the first second was over";
    }
    for (DWORD start = GetTickCount(); dlg.Text(timeId).empty() && GetTickCount() - start < kWait;) {
        Sleep(20);
    }

    SYSTEMTIME before, after;
    GetLocalTime(&before);
    const std::string date = Narrow(dlg.Text(dateId));
    const std::string first = Narrow(dlg.Text(timeId));
    GetLocalTime(&after);
    EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d{4}-\d{2}-\d{2})"))) << date;
    EXPECT_TRUE(std::regex_match(first, std::regex(R"(\d{2}:\d{2}:\d{2})"))) << first;
    EXPECT_TRUE(date == DateOf(before) || date == DateOf(after)) << date << " is not today's local date";
    EXPECT_LE(LagOf(first, after), 3) << first << " is not the local time";

    // Read again a second or more later: the time has moved on, and keeps up with the clock.
    Sleep(1100);
    std::string second = Narrow(dlg.Text(timeId));
    for (DWORD start = GetTickCount(); second == first && GetTickCount() - start < kWait; Sleep(20)) {
        second = Narrow(dlg.Text(timeId));
    }
    GetLocalTime(&after);
    EXPECT_NE(second, first) << "the time did not move on";
    EXPECT_TRUE(std::regex_match(second, std::regex(R"(\d{2}:\d{2}:\d{2})"))) << second;
    EXPECT_LE(LagOf(second, after), 3) << second << " is not the local time";
}

void DialogTest::ExpectControls(const std::vector<ExpectedControl>& expected) {
    const std::vector<ShownControl> shown = dlg.Controls();
    std::vector<std::string> want;
    std::vector<std::string> got;
    for (size_t i = 0; i < std::max(shown.size(), expected.size()); ++i) {
        if (i < shown.size()) {
            got.push_back(Describe(shown[i]));
        }
        if (i < expected.size()) {
            const ExpectedControl& e = expected[i];
            // A text that is not compared here is taken as shown.
            const std::wstring text = e.text != nullptr ? e.text : i < shown.size() ? shown[i].text : L"";
            want.push_back(Describe({e.id, e.className, text, e.flags | WS_VISIBLE}));
        }
    }
    EXPECT_EQ(got, want);
}

void DialogTest::ExpectComboEntries(int id, const std::vector<std::wstring>& entries, int selected) {
    EXPECT_EQ(dlg.ComboEntries(id), entries) << "combo box " << id;
    EXPECT_EQ(dlg.ComboIndex(id), selected) << "combo box " << id;
}

void DialogTest::ExpectSystemMenuAbout(const std::wstring& programLine, int editId) {
    const std::vector<ShownMenuItem> menu = dlg.SystemMenu();
    ASSERT_GE(menu.size(), 3u) << "the system menu could not be read";
    const ShownMenuItem& last = menu[menu.size() - 1];
    const ShownMenuItem& separator = menu[menu.size() - 2];
    EXPECT_TRUE(separator.separator) << "no separator before the last item";
    EXPECT_FALSE(last.separator);
    EXPECT_EQ(last.text, L"&About printer...");
    EXPECT_EQ(last.id & 0xFFF0u, 0x0010u);
    EXPECT_EQ(std::count_if(menu.begin(), menu.end(),
                            [](const ShownMenuItem& item) { return item.text == L"&About printer..."; }),
              1);

    // Chosen as a person would: Alt+Space, up from the first item to the last, Enter.
    dlg.SetText(editId, L"kept");
    ASSERT_TRUE(dlg.OpenSystemMenu()) << "the system menu did not open";
    dlg.MenuKeys({VK_UP, VK_RETURN});
    HWND about = dlg.WaitForBox(kWait);
    ASSERT_NE(about, nullptr) << "no About box";
    EXPECT_EQ(dlg.BoxTitle(about), L"About printer");
    const std::vector<std::wstring> texts = dlg.BoxTexts(about);
    EXPECT_NE(std::find(texts.begin(), texts.end(), programLine), texts.end()) << Narrow(programLine);
    dlg.CloseBox(about);
    EXPECT_EQ(dlg.WaitForBox(200), nullptr);
    EXPECT_EQ(dlg.Text(editId), L"kept");
    EXPECT_TRUE(IsWindowVisible(dlg.Window()));
}

void DialogTest::CloseDuringFailureMessage(int actionId, const std::function<void()>& close) {
    FakeUsbPrinter::RemoveAll();
    ASSERT_EQ(dlg.ComboIndex(1000), 0) << "the port is not USB001";
    dlg.Click(actionId);
    HWND box = dlg.WaitForBox(kWait);
    ASSERT_NE(box, nullptr) << "no printer, yet no failure message";
    ASSERT_EQ(dlg.BoxText(box), L"Can not open communication port!");

    close();
    // The action has not returned yet: its message, the dialog and the program are all still
    // there, the close only noted.
    EXPECT_FALSE(dlg.WaitForExit(0)) << "the program ended under its own message box";
    EXPECT_TRUE(IsWindowVisible(box));
    EXPECT_TRUE(IsWindowVisible(dlg.Window())) << "the dialog closed while its action still ran";

    // Once the message is closed and the action has returned, the close is carried out.
    dlg.CloseBox(box);
    EXPECT_EQ(dlg.WaitForBox(0), nullptr);
    ExpectEnds();
}

void DialogTest::CloseReleasesUsbPrinter(int actionId,
                                         const std::string& serial,
                                         const std::function<void()>& close) {
    if (!wine_bench::Available()) {
        GTEST_SKIP() << "run through tests/e2e/run-e2e.sh for the fake USB printer";
    }
    FakeUsbPrinter::RemoveAll();
    FakeUsbPrinter usb(serial);
    ASSERT_TRUE(usb.Created());
    ASSERT_TRUE(wine_bench::Pty(usb.DosName()));
    ASSERT_EQ(dlg.ComboIndex(1000), 0) << "the port is not USB001";
    dlg.Click(actionId);
    EXPECT_EQ(dlg.WaitForBox(0), nullptr) << "the USB printer was not reached";
    EXPECT_FALSE(wine_bench::Captured(usb.DosName(), 1).empty()) << "nothing arrived at the USB printer";
    ASSERT_GT(HoldersWhen(usb.DosName(), true), 0) << "the program does not hold the USB printer";

    int holdersAtExit = -1;
    ExitWatch watch(dlg.ProcessId(), [&] { holdersAtExit = wine_bench::Holders(usb.DosName()); });
    ASSERT_TRUE(watch.Ready(kWait)) << watch.Failure();
    close();
    EXPECT_TRUE(watch.Finished(kWait)) << watch.Failure();
    EXPECT_EQ(holdersAtExit, 0) << "the program still held the USB printer when it began to exit";
    ExpectEnds();
    wine_bench::Remove(usb.DosName());
}

int HoldersWhen(const std::string& name, bool held, int timeoutMs) {
    int count = wine_bench::Holders(name);
    for (DWORD start = GetTickCount();
         count >= 0 && (count > 0) != held && GetTickCount() - start < static_cast<DWORD>(timeoutMs);
         Sleep(50)) {
        count = wine_bench::Holders(name);
    }
    return count;
}

// tolwire driven from another process: its controls, lists and defaults, the instruction panel
// and clock, the red tip, the system menu and About box, the port strip, its four buttons, the
// failure message, USB arrival, and the ways of closing.
#include <gtest/gtest.h>

#include <windows.h>
// dbt.h needs the Windows types first.
#include <dbt.h>

#include "tests/e2e/DialogTest.h"
#include "tests/e2e/E2eUtil.h"
#include "tests/wine/FakeUsbPrinter.h"
#include "tests/wine/WineBench.h"
#include "tolwire/resource.h"

namespace {

const wchar_t kCaption[] = L"tolwire";
const wchar_t kInstructions[] =
    L"1.  Select the right port to configure the parameter.\r"
    L"2.  AP(Wireless AccessPoint) mode,can be used to connect for the other station device.\r"
    L"3.  STA(Station) mode is this device should be connect to the other AccessPoint.\r"
    L"4.  If we just want to use the AP mode,we can set the AP name and WIFI mode to AP.\r"
    L"5.  If we want to use the STA mode,we should configure the STA parameter.\r"
    L"6.  If we use the printer with the PC we open this software now,we can use the default IP address "
    L"and gateway,unless the default IP address is used by other device.\r"
    L"7.  No matter which mode we choose,when we input all the parameter we just can click 1 times button "
    L"to save the parameter.";

constexpr LONG T = WS_TABSTOP;
constexpr LONG D = WS_DISABLED;

class Tolwire : public DialogTest {
  protected:
    void SetUp() override { Launch(TOLWIRE_EXE, kCaption); }
};

TEST_F(Tolwire, ShowsEveryControlWithItsCaptionListAndDefault) {
    ExpectControls({
        {-1, L"Static", L"Choose Printer Port", 0},
        {IDC_PORT, L"ComboBox", L"USB001", T},
        {-1, L"Static", L"COM Baudrate", 0},
        {IDC_BAUD, L"ComboBox", L"9600", T | D},
        {-1, L"Static", L"LAN IP Address", 0},
        {IDC_PORT_TEST, L"Button", L"Printer Port Test", T},
        {IDC_CLOSE, L"Button", L"Cancle", T},
        {IDC_DATE, L"Static", nullptr, 0},
        {IDC_TIME, L"Static", nullptr, 0},
        {IDC_PRINTER_IP, L"SysIPAddress32", nullptr, T | D},
        {IDC_SAVE_PARAMETER, L"Button", L"Save Parameter", T},
        {-1, L"Static", L"WIFI Name:", 0},
        {IDC_WIFI_FACTORY, L"Button", L"Factory Mode", T},
        {-1, L"Static", L"Printer WIFI IP Address:", 0},
        {IDC_WIFI_NAME, L"Edit", L"WIFI Name", T},
        {-1, L"Static", L"WIFI Password:", 0},
        {IDC_AUTH_MODE, L"ComboBox", L"WPA2PSK", T},
        {IDC_ENCRYPTION, L"ComboBox", L"AES", T},
        {IDC_WIFI_PASSWORD, L"Edit", L"WIFI Password", T},
        {IDC_STA_IP, L"SysIPAddress32", nullptr, T},
        {IDC_STA_MASK, L"SysIPAddress32", nullptr, T},
        {IDC_STA_GATEWAY, L"SysIPAddress32", nullptr, T},
        {-1, L"Static", L"Printer WIFI Subnet Mask:", 0},
        {-1, L"Static", L"Printer WIFI Gateway:", 0},
        {IDC_TIP, L"Static", L"Tips:Get WIFI name and password from the router.", 0},
        {-1, L"Button", L"WIFI STA Parameter", 0},
        {-1, L"Static", L"Printer AP Name:", 0},
        {IDC_AP_NAME, L"Edit", L"Thermal Printer", T},
        {IDC_WIFI_MODE, L"ComboBox", L"0-AP", T},
        {-1, L"Static", L"Printer WIFI Mode:", 0},
        {IDC_SAVE_AP, L"Button", L"Save Name&&Mode", T},
        {-1, L"Button", L"Step && Tips", 0},
        {-1, L"Static", L"Designed by R&&D Department.", 0},
        {IDC_INSTRUCTIONS, L"Static", nullptr, 0},
    });
    for (int id : {IDC_PORT_TEST, IDC_CLOSE, IDC_SAVE_AP, IDC_SAVE_PARAMETER, IDC_WIFI_FACTORY}) {
        EXPECT_FALSE(GetWindowLongW(dlg.Item(id), GWL_STYLE) & BS_DEFPUSHBUTTON) << id;
    }

    ExpectComboEntries(IDC_PORT, {L"USB001", L"LPT1", L"LPT2", L"LPT3", L"COM1", L"COM2", L"Ethernet"}, 0);
    ExpectComboEntries(IDC_BAUD, {L"9600", L"19200", L"38400", L"57600", L"115200"}, 0);
    ExpectComboEntries(IDC_WIFI_MODE, {L"0-AP", L"1-STA", L"2-APSTA"}, 0);
    ExpectComboEntries(IDC_AUTH_MODE, {L"OPEN", L"SHARED", L"WPAPSK", L"WPA2PSK"}, 3);
    ExpectComboEntries(IDC_ENCRYPTION, {L"NONE", L"WEP-H", L"WEP-A", L"TKIP", L"AES"}, 4);

    EXPECT_EQ(dlg.Address(IDC_PRINTER_IP), Ip(192, 168, 1, 100));
    const DWORD prefix = LocalAddressOfThisPc() & 0xFFFFFF00;
    EXPECT_EQ(dlg.Address(IDC_STA_IP), prefix | 200);
    EXPECT_EQ(dlg.Address(IDC_STA_MASK), Ip(255, 255, 255, 0));
    EXPECT_EQ(dlg.Address(IDC_STA_GATEWAY), prefix | 1);
}

TEST_F(Tolwire, PanelAndClockFillFromTheFirstTick) {
    const std::wstring panel = dlg.Text(IDC_INSTRUCTIONS);
    if (dlg.SinceLaunch() < 900) {
        EXPECT_EQ(panel, L"") << "the panel filled before the first second was over";
    }
    ExpectClock(IDC_DATE, IDC_TIME);
    EXPECT_EQ(dlg.Text(IDC_INSTRUCTIONS), kInstructions);
}

TEST_F(Tolwire, SystemMenuEndsWithTheAboutItem) {
    ExpectSystemMenuAbout(L"tolwire, Version 1.0", IDC_AP_NAME);
}

// Pixels of the label as they are on the screen that are clearly red.
int RedPixels(HWND label) {
    RECT area;
    GetWindowRect(label, &area);
    HDC screen = GetDC(nullptr);
    int red = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            const COLORREF c = GetPixel(screen, x, y);
            if (c != CLR_INVALID && GetRValue(c) > 200 && GetGValue(c) < 80 && GetBValue(c) < 80) {
                ++red;
            }
        }
    }
    ReleaseDC(nullptr, screen);
    return red;
}

TEST_F(Tolwire, TipLabelIsDrawnRedAndOnlyIt) {
    SetForegroundWindow(dlg.Window());
    RedrawWindow(dlg.Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    int red = RedPixels(dlg.Item(IDC_TIP));
    for (DWORD start = GetTickCount(); red <= 20 && GetTickCount() - start < kWait; Sleep(50)) {
        red = RedPixels(dlg.Item(IDC_TIP));
    }
    EXPECT_GT(red, 20);
    EXPECT_EQ(RedPixels(dlg.Item(IDC_INSTRUCTIONS)), 0);
    EXPECT_EQ(RedPixels(dlg.Item(IDC_AP_NAME)), 0);
}

TEST_F(Tolwire, EnablingRuleKeepsStationFieldsEnabled) {
    for (int port = 0; port < 7; ++port) {
        dlg.SelectCombo(IDC_PORT, port);
        EXPECT_EQ(dlg.Enabled(IDC_BAUD), port == 4 || port == 5) << port;
        EXPECT_EQ(dlg.Enabled(IDC_PRINTER_IP), port == 6) << port;
        for (int id : {IDC_STA_IP, IDC_STA_MASK, IDC_STA_GATEWAY}) {
            EXPECT_TRUE(dlg.Enabled(id)) << port;
        }
    }
}

TEST_F(Tolwire, FourButtonsSendTheWorkedExamples) {
    UseNetworkPrinter();
    EXPECT_EQ(Press(IDC_PORT_TEST), TestPrintBytes());
    EXPECT_EQ(Press(IDC_SAVE_AP), Hex("1f 1a 1f 1b 1f 03 0a 0b 0c 00 0f") + "Thermal Printer");
    dlg.SetText(IDC_AP_NAME, L"");
    dlg.SelectCombo(IDC_WIFI_MODE, 2);
    EXPECT_EQ(Press(IDC_SAVE_AP), Hex("1f 1a 1f 1b 1f 03 0a 0b 0c 02 00"));

    dlg.SetText(IDC_WIFI_PASSWORD, L"12345678");
    dlg.SetAddress(IDC_STA_IP, Ip(192, 168, 1, 200));
    dlg.SetAddress(IDC_STA_MASK, Ip(255, 255, 255, 0));
    dlg.SetAddress(IDC_STA_GATEWAY, Ip(192, 168, 1, 1));
    const std::string expected = Hex("1f 1a 1f 1b 1f 03 07 08 09 03 04 09 08 27") +
                                 "WIFI Name12345678192.168.1.200,255.255.255.0,192.168.1.1";
    ASSERT_EQ(expected.size(), 70u);
    EXPECT_EQ(Press(IDC_SAVE_PARAMETER), expected);
    EXPECT_EQ(Press(IDC_SAVE_PARAMETER), expected);  // the same again; the name field is unchanged
    EXPECT_EQ(dlg.Text(IDC_WIFI_NAME), L"WIFI Name");

    dlg.BlankAddressField(IDC_STA_GATEWAY, 3);
    EXPECT_EQ(Press(IDC_SAVE_PARAMETER).substr(14),
              "WIFI Name12345678192.168.1.200,255.255.255.0,192.168.1.0");
    EXPECT_EQ(Press(IDC_WIFI_FACTORY), Hex("1f 1b 1f 11"));
}

TEST_F(Tolwire, RefusedTextAndTheFailureMessage) {
    UseNetworkPrinter();
    dlg.SetText(IDC_AP_NAME, std::wstring(40, L'x'));
    dlg.Click(IDC_SAVE_AP);
    HWND refused = dlg.WaitForBox(kWait);
    ASSERT_NE(refused, nullptr);
    EXPECT_NE(dlg.BoxText(refused).find(L"31"), std::wstring::npos);
    dlg.CloseBox(refused);
    EXPECT_EQ(printer->CountConnections(300), 0);

    UseNetworkPrinter(NobodyAt());
    for (int id : {IDC_PORT_TEST, IDC_SAVE_PARAMETER, IDC_WIFI_FACTORY}) {
        dlg.Click(id);
        HWND box = dlg.WaitForBox(kWait);
        ASSERT_NE(box, nullptr) << id;
        EXPECT_EQ(dlg.BoxTitle(box), L"tolwire");
        EXPECT_EQ(dlg.BoxText(box), L"Can not open communication port!");
        dlg.CloseBox(box);
        EXPECT_EQ(dlg.WaitForBox(200), nullptr);
    }
}

TEST_F(Tolwire, SerialPort) {
    CapturedPort com1("TOL_E2E_COM1_CAPTURE");
    if (!com1.Available()) {
        GTEST_SKIP() << "run through tests/e2e/run-e2e.sh for the fake COM1";
    }
    dlg.SelectCombo(IDC_PORT, 4);
    dlg.SelectCombo(IDC_BAUD, 1);
    dlg.Click(IDC_WIFI_FACTORY);
    EXPECT_EQ(dlg.WaitForBox(0), nullptr);
    EXPECT_EQ(com1.Take(4, kWait), Hex("1f 1b 1f 11"));
}

// USB001 without a printer fails; once one is plugged in, the arrival opens it for the next action.
TEST_F(Tolwire, UsbPrinterAfterArrival) {
    if (!wine_bench::Available()) {
        GTEST_SKIP() << "run through tests/e2e/run-e2e.sh for the fake USB printer";
    }
    FakeUsbPrinter::RemoveAll();
    EXPECT_EQ(PressExpectingMessage(IDC_PORT_TEST, L"tolwire"), L"Can not open communication port!");

    FakeUsbPrinter usb("E2E00002");
    ASSERT_TRUE(usb.Created());
    ASSERT_TRUE(wine_bench::Pty(usb.DosName()));
    EXPECT_EQ(wine_bench::Holders(usb.DosName()), 0);
    DeviceChange(DBT_DEVICEARRIVAL, usb.DevicePath());
    EXPECT_GT(HoldersWhen(usb.DosName(), true), 0) << "the arrival did not open the printer";
    dlg.Click(IDC_WIFI_FACTORY);
    EXPECT_EQ(dlg.WaitForBox(0), nullptr);
    EXPECT_EQ(wine_bench::Captured(usb.DosName(), 4), Hex("1f 1b 1f 11"));
    DeviceChange(DBT_DEVICEREMOVECOMPLETE, usb.DevicePath());
    EXPECT_EQ(HoldersWhen(usb.DosName(), false), 0) << "the removal did not close the printer";
    wine_bench::Remove(usb.DosName());
}

TEST_F(Tolwire, EnterAndEscChangeNothing) {
    UseNetworkPrinter();
    dlg.PressKey(VK_RETURN);
    dlg.PressKey(VK_ESCAPE);
    // The dialog still takes presses, and the keys sent nothing.
    dlg.Click(IDC_PORT_TEST);
    std::string bytes;
    ASSERT_TRUE(printer->NextConnection(bytes, kWait)) << "the dialog no longer takes presses";
    EXPECT_EQ(bytes, TestPrintBytes()) << "a key sent something";
    dlg.Sync();
    EXPECT_TRUE(IsWindowVisible(dlg.Window()));
    EXPECT_EQ(dlg.WaitForBox(0), nullptr);
    EXPECT_EQ(printer->CountConnections(200), 0);
}

TEST_F(Tolwire, CancleLetsGoOfTheUsbPrinterBeforeTheProgramEnds) {
    CloseReleasesUsbPrinter(IDC_WIFI_FACTORY, "E2E00005", [this] { dlg.Click(IDC_CLOSE); });
}

TEST_F(Tolwire, SystemCloseLetsGoOfTheUsbPrinterBeforeTheProgramEnds) {
    CloseReleasesUsbPrinter(IDC_PORT_TEST, "E2E00006", [this] { dlg.SysCommand(SC_CLOSE); });
}

TEST_F(Tolwire, SystemCloseDuringAFailureMessageWaitsForTheAction) {
    CloseDuringFailureMessage(IDC_SAVE_AP, [this] { dlg.SysCommand(SC_CLOSE); });
}

TEST_F(Tolwire, CancleDuringAFailureMessageWaitsForTheAction) {
    CloseDuringFailureMessage(IDC_PORT_TEST, [this] { dlg.Click(IDC_CLOSE); });
}

}  // namespace

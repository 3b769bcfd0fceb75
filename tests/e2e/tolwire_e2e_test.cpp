// tolwire driven from another process: defaults, the instruction panel and clock, the red tip,
// the port strip, its four buttons, the failure message and the ways of closing.
#include <gtest/gtest.h>

#include <windows.h>
// dbt.h needs the Windows types first.
#include <dbt.h>

#include <regex>

#include "../../tolwire/resource.h"
#include "DialogTest.h"
#include "E2eUtil.h"
#include "FakeUsbPrinter.h"
#include "WineBench.h"

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

class Tolwire : public DialogTest {
  protected:
    void SetUp() override { Launch(TOLWIRE_EXE, kCaption); }
};

TEST_F(Tolwire, StartsWithEveryDefaultAndFillsPanelAndClockAfterOneSecond) {
    EXPECT_EQ(dlg.Text(IDC_INSTRUCTIONS), L"");
    EXPECT_EQ(dlg.Text(IDC_DATE), L"");
    EXPECT_EQ(dlg.Text(IDC_TIME), L"");

    EXPECT_EQ(dlg.Text(IDC_PORT), L"USB001");
    EXPECT_EQ(dlg.ComboCount(IDC_PORT), 7);
    EXPECT_EQ(dlg.Text(IDC_BAUD), L"9600");
    EXPECT_EQ(dlg.ComboCount(IDC_BAUD), 5);
    EXPECT_FALSE(dlg.Enabled(IDC_BAUD));
    EXPECT_EQ(dlg.Address(IDC_PRINTER_IP), Ip(192, 168, 1, 100));
    EXPECT_FALSE(dlg.Enabled(IDC_PRINTER_IP));
    EXPECT_EQ(dlg.Text(IDC_AP_NAME), L"Thermal Printer");
    EXPECT_EQ(dlg.Text(IDC_WIFI_MODE), L"0-AP");
    EXPECT_EQ(dlg.Text(IDC_WIFI_NAME), L"WIFI Name");
    EXPECT_EQ(dlg.Text(IDC_AUTH_MODE), L"WPA2PSK");
    EXPECT_EQ(dlg.Text(IDC_ENCRYPTION), L"AES");
    EXPECT_EQ(dlg.Text(IDC_WIFI_PASSWORD), L"WIFI Password");
    const DWORD prefix = LocalAddressOfThisPc() & 0xFFFFFF00;
    EXPECT_EQ(dlg.Address(IDC_STA_IP), prefix | 200);
    EXPECT_EQ(dlg.Address(IDC_STA_MASK), Ip(255, 255, 255, 0));
    EXPECT_EQ(dlg.Address(IDC_STA_GATEWAY), prefix | 1);
    EXPECT_EQ(dlg.Text(IDC_TIP), L"Tips:Get WIFI name and password from the router.");

    Sleep(1500);
    dlg.Sync();
    const std::wstring panel = dlg.Text(IDC_INSTRUCTIONS);
    EXPECT_EQ(panel.size(), 666u);
    EXPECT_EQ(panel, kInstructions);
    const std::wstring wideDate = dlg.Text(IDC_DATE);
    const std::string date(wideDate.begin(), wideDate.end());
    EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d{4}-\d{2}-\d{2})"))) << date;
    const std::wstring time = dlg.Text(IDC_TIME);
    EXPECT_EQ(time.size(), 8u);
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
    dlg.Sync();
    Sleep(300);
    EXPECT_GT(RedPixels(dlg.Item(IDC_TIP)), 20);
    EXPECT_EQ(RedPixels(dlg.Item(IDC_INSTRUCTIONS)), 0);
    EXPECT_EQ(RedPixels(dlg.Item(IDC_AP_NAME)), 0);
}

TEST_F(Tolwire, TabStopsInOrder) {
    const std::vector<int> expected = {1000, 1001, 1004, 1005, 1042, 1046, 1048, 1050, 1063,
                                       1064, 1055, 1070, 1071, 1072, 1066, 1049, 1017};
    std::vector<int> stops;
    for (HWND child = GetWindow(dlg.Window(), GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) {
            stops.push_back(GetDlgCtrlID(child));
        }
    }
    EXPECT_EQ(stops, expected);
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

    UseNetworkPrinter(kNobodyAt);
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

TEST_F(Tolwire, UsbPrinterAfterArrival) {
    if (!wine_bench::Available()) {
        GTEST_SKIP() << "run through tests/e2e/run-e2e.sh for the fake USB printer";
    }
    FakeUsbPrinter::RemoveAll();
    dlg.Click(IDC_PORT_TEST);  // USB001 without a printer
    HWND box = dlg.WaitForBox(kWait);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(dlg.BoxText(box), L"Can not open communication port!");
    dlg.CloseBox(box);

    FakeUsbPrinter usb("E2E00002");
    ASSERT_TRUE(usb.Created());
    ASSERT_TRUE(wine_bench::Pty(usb.DosName()));
    DeviceChange(DBT_DEVICEARRIVAL, usb.DevicePath());
    dlg.Click(IDC_WIFI_FACTORY);
    EXPECT_EQ(dlg.WaitForBox(300), nullptr);
    EXPECT_EQ(wine_bench::Captured(usb.DosName(), 4), Hex("1f 1b 1f 11"));
    wine_bench::Remove(usb.DosName());
}

TEST_F(Tolwire, EnterEscAboutAndClosing) {
    dlg.PressKey(VK_RETURN);
    dlg.PressKey(VK_ESCAPE);
    EXPECT_FALSE(dlg.WaitForExit(300));
    dlg.SysCommand(0x0010);
    HWND about = dlg.WaitForBox(kWait);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(dlg.BoxTitle(about), L"About printer");
    dlg.CloseBox(about);
    dlg.Click(IDC_CLOSE);
    EXPECT_TRUE(dlg.WaitForExit(kWait));
}

TEST_F(Tolwire, SystemCloseEndsTheProgram) {
    dlg.SysCommand(SC_CLOSE);
    EXPECT_TRUE(dlg.WaitForExit(kWait));
}

}  // namespace

// tolvane driven from another process: defaults, the port strip, all seventeen buttons, the
// failure message, refused text, keys, the About box and the ways of closing.
#include <gtest/gtest.h>

#include <windows.h>
// dbt.h needs the Windows types first.
#include <dbt.h>

#include <regex>

#include "../../tolvane/resource.h"
#include "DialogTest.h"
#include "E2eUtil.h"
#include "FakeUsbPrinter.h"
#include "WineBench.h"

namespace {

const wchar_t kCaption[] = L"WIFI & Bluetooth & Ethernet";

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

class Tolvane : public DialogTest {
  protected:
    void SetUp() override { Launch(TOLVANE_EXE, kCaption); }

    // Presses a button that must show one message box and send nothing; answers its text.
    std::wstring PressRefused(int id) { return PressExpectingMessage(id, L"tolvane"); }
};

TEST_F(Tolvane, StartsWithEveryDefault) {
    // The clock is empty during the first second.
    EXPECT_EQ(dlg.Text(IDC_DATE), L"");
    EXPECT_EQ(dlg.Text(IDC_TIME), L"");

    EXPECT_EQ(dlg.ComboCount(IDC_PORT), 7);
    EXPECT_EQ(dlg.ComboIndex(IDC_PORT), 0);
    EXPECT_EQ(dlg.Text(IDC_PORT), L"USB001");
    EXPECT_EQ(dlg.ComboCount(IDC_BAUD), 5);  // from the template's initialization data
    EXPECT_EQ(dlg.Text(IDC_BAUD), L"9600");
    EXPECT_FALSE(dlg.Enabled(IDC_BAUD));
    EXPECT_EQ(dlg.Address(IDC_PRINTER_IP), Ip(192, 168, 1, 100));
    EXPECT_FALSE(dlg.Enabled(IDC_PRINTER_IP));

    EXPECT_EQ(dlg.Text(IDC_WIFI_MODE), L"0-AP");
    EXPECT_EQ(dlg.ComboCount(IDC_WIFI_MODE), 3);
    EXPECT_EQ(dlg.Text(IDC_DHCP), L"1-Enable");
    EXPECT_EQ(dlg.ComboIndex(IDC_DHCP), 1);
    EXPECT_EQ(dlg.Text(IDC_AUTH_MODE), L"WPA2PSK");
    EXPECT_EQ(dlg.Text(IDC_ENCRYPTION), L"AES");

    EXPECT_EQ(dlg.Text(IDC_WIFI_NAME), L"WIFI Name");
    EXPECT_EQ(dlg.Text(IDC_WIFI_PASSWORD), L"WIFI Password");
    EXPECT_EQ(dlg.Text(IDC_AP_NAME), L"Thermal Printer");
    EXPECT_EQ(dlg.Text(IDC_BT_NAME), L"Printer");
    EXPECT_EQ(dlg.Text(IDC_BT_PIN), L"6042");

    // Seeded from the PC's own address, found the way the program finds it.
    const DWORD prefix = LocalAddressOfThisPc() & 0xFFFFFF00;
    EXPECT_EQ(dlg.Address(IDC_STA_IP), prefix | 200);
    EXPECT_EQ(dlg.Address(IDC_STA_MASK), Ip(255, 255, 255, 0));
    EXPECT_EQ(dlg.Address(IDC_STA_GATEWAY), prefix | 1);
    EXPECT_EQ(dlg.Address(IDC_LAN_IP), prefix | 123);
    EXPECT_EQ(dlg.Address(IDC_LAN_MASK), Ip(255, 255, 255, 0));
    EXPECT_EQ(dlg.Address(IDC_LAN_GATEWAY), prefix | 1);
    EXPECT_EQ(dlg.Address(IDC_LAN_MAC), Ip(158, 34, 86, 28));

    // The clock shows local date and time from the first tick on.
    Sleep(1500);
    dlg.Sync();
    EXPECT_TRUE(std::regex_match(Narrow(dlg.Text(IDC_DATE)), std::regex(R"(\d{4}-\d{2}-\d{2})")));
    EXPECT_TRUE(std::regex_match(Narrow(dlg.Text(IDC_TIME)), std::regex(R"(\d{2}:\d{2}:\d{2})")));
    const std::wstring first = dlg.Text(IDC_TIME);
    Sleep(1200);
    EXPECT_NE(dlg.Text(IDC_TIME), first) << "the time did not move on";
}

TEST_F(Tolvane, TabStopsFollowTheTemplateOrder) {
    const int expected[] = {1000, 1001, 1004, 1042, 1046, 1048, 1050, 1063, 1064, 1055, 1070, 1071, 1072,
                            1066, 1049, 1017, 1067, 1018, 1035, 1019, 1065, 1079, 1080, 1081, 1082, 1045,
                            1047, 1069, 1052, 1083, 1005, 1085, 1086, 1087, 1088, 1089, 1053};
    std::vector<int> stops;
    for (HWND child = GetWindow(dlg.Window(), GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) {
            stops.push_back(GetDlgCtrlID(child));
        }
    }
    EXPECT_EQ(stops, std::vector<int>(std::begin(expected), std::end(expected)));
    for (int id : {IDC_TEST_CONNECT, IDC_CLOSE, IDC_SAVE_AP, IDC_CUT_PAPER}) {
        EXPECT_FALSE(GetWindowLongW(dlg.Item(id), GWL_STYLE) & BS_DEFPUSHBUTTON) << id;
    }
}

TEST_F(Tolvane, EnablingRuleForEveryPort) {
    const bool baudOn[] = {false, false, false, false, true, true, false};
    const bool addressOn[] = {false, false, false, false, false, false, true};
    for (int port = 0; port < 7; ++port) {
        dlg.SelectCombo(IDC_PORT, port);
        EXPECT_EQ(dlg.Enabled(IDC_BAUD), baudOn[port]) << "port " << port;
        EXPECT_EQ(dlg.Enabled(IDC_PRINTER_IP), addressOn[port]) << "port " << port;
        EXPECT_TRUE(dlg.Enabled(IDC_STA_IP));
        EXPECT_TRUE(dlg.Enabled(IDC_LAN_IP));
    }
    // A baud rate chosen on COM1 survives a change to another port and back.
    dlg.SelectCombo(IDC_PORT, 4);
    dlg.SelectCombo(IDC_BAUD, 3);
    dlg.SelectCombo(IDC_PORT, 6);
    dlg.SelectCombo(IDC_PORT, 5);
    EXPECT_EQ(dlg.Text(IDC_BAUD), L"57600");
    EXPECT_EQ(printer->CountConnections(200), 0) << "changing the port sent something";
}

TEST_F(Tolvane, AllSeventeenButtonsWithTheDefaults) {
    UseNetworkPrinter();
    const DWORD prefix = LocalAddressOfThisPc() & 0xFFFFFF00;
    const std::string addresses = Dotted(prefix | 200) + ",255.255.255.0," + Dotted(prefix | 1);
    const std::string station = "WIFI NameWIFI Password" + addresses;

    EXPECT_EQ(Press(IDC_TEST_CONNECT), TestPrintBytes());
    EXPECT_EQ(Press(IDC_SAVE_AP), Hex("1f 1a 1f 1b 1f 03 0a 0b 0c 00 0f") + "Thermal Printer");
    EXPECT_EQ(Press(IDC_CONNECT_WIFI), Hex("1f 1a 1f 1b 1f 03 07 08 09 03 04 09 0d") +
                                           std::string(1, static_cast<char>(addresses.size())) + station);
    EXPECT_EQ(Press(IDC_WIFI_FACTORY), Hex("1f 1b 1f 11"));
    EXPECT_EQ(Press(IDC_SAVE_BT_NAME), Hex("1f 1b 1f f0 07") + "Printer");
    EXPECT_EQ(Press(IDC_SAVE_BT_PIN), Hex("1f 1b 1f 09 04") + "6042");
    EXPECT_EQ(Press(IDC_READ_BT_PIN), Hex("1f 1b 1f 0a"));
    EXPECT_EQ(Press(IDC_CHECK_BT), Hex("1f 1b 1f 0b"));
    const std::string prefixBytes = {static_cast<char>(prefix >> 24), static_cast<char>(prefix >> 16),
                                     static_cast<char>(prefix >> 8)};
    EXPECT_EQ(Press(IDC_SAVE_LAN_IP), Hex("1f 1b 1d 00") + prefixBytes + Hex("7b"));
    EXPECT_EQ(Press(IDC_SAVE_LAN_MASK), Hex("1f 1b 1d 01 ff ff ff 00"));
    EXPECT_EQ(Press(IDC_SAVE_LAN_GATEWAY), Hex("1f 1b 1d 02") + prefixBytes + Hex("01"));
    EXPECT_EQ(Press(IDC_SAVE_LAN_MAC), Hex("1f 1b 1d 03 bc 20 9e 22 56 1c"));
    EXPECT_EQ(Press(IDC_SAVE_DHCP), Hex("1f 1a 1f 1b 1f 1b 08 01"));
    EXPECT_EQ(Press(IDC_CUT_PAPER), Hex("1d 56 01"));
    EXPECT_EQ(Press(IDC_OPEN_DRAWER), Hex("1b 70 00 40 50"));
    EXPECT_EQ(Press(IDC_FACTORY_MODE), Hex("1f 1a 1b 1c"));
    EXPECT_EQ(Press(IDC_HEX_MODE), Hex("1f 28 41"));
    // The station text is never written back to the name field; a second press sends the same.
    EXPECT_EQ(dlg.Text(IDC_WIFI_NAME), L"WIFI Name");
    EXPECT_EQ(Press(IDC_CONNECT_WIFI).substr(14), station);
}

TEST_F(Tolvane, EditedValues) {
    UseNetworkPrinter();
    dlg.SelectCombo(IDC_WIFI_MODE, 2);
    dlg.SetText(IDC_AP_NAME, L"");
    EXPECT_EQ(Press(IDC_SAVE_AP), Hex("1f 1a 1f 1b 1f 03 0a 0b 0c 02 00"));
    dlg.SetText(IDC_AP_NAME, std::wstring(31, L'a'));
    EXPECT_EQ(Press(IDC_SAVE_AP), Hex("1f 1a 1f 1b 1f 03 0a 0b 0c 02 1f") + std::string(31, 'a'));
    dlg.SetText(IDC_AP_NAME, L"Caf\u00e9");  // é is 82 in the OEM code page
    EXPECT_EQ(Press(IDC_SAVE_AP), Hex("1f 1a 1f 1b 1f 03 0a 0b 0c 02 04") + "Caf\x82");

    dlg.SetText(IDC_WIFI_NAME, L"Home");
    dlg.SetText(IDC_WIFI_PASSWORD, L"");
    dlg.SelectCombo(IDC_AUTH_MODE, 0);
    dlg.SelectCombo(IDC_ENCRYPTION, 0);
    dlg.SetAddress(IDC_STA_IP, Ip(192, 168, 1, 5));
    dlg.SetAddress(IDC_STA_MASK, Ip(255, 255, 255, 0));
    dlg.SetAddress(IDC_STA_GATEWAY, Ip(192, 168, 1, 1));
    dlg.BlankAddressField(IDC_STA_GATEWAY, 3);  // a blank field counts as 0
    EXPECT_EQ(Press(IDC_CONNECT_WIFI),
              Hex("1f 1a 1f 1b 1f 03 07 08 09 00 00 04 00 25") + "Home192.168.1.5,255.255.255.0,192.168.1.0");

    dlg.SetText(IDC_BT_NAME, L"");
    EXPECT_EQ(Press(IDC_SAVE_BT_NAME), Hex("1f 1b 1f f0 00"));
    std::wstring longName;
    for (int i = 0; i < 70; ++i) {
        longName += static_cast<wchar_t>(L'A' + i % 26);
    }
    dlg.SetText(IDC_BT_NAME, longName);
    const std::string cut = Press(IDC_SAVE_BT_NAME);
    EXPECT_EQ(cut.size(), 68u);
    EXPECT_EQ(cut.substr(0, 5), Hex("1f 1b 1f f0 3f"));
    dlg.SetText(IDC_BT_PIN, L"12ab");
    EXPECT_EQ(Press(IDC_SAVE_BT_PIN), Hex("1f 1b 1f 09 04") + "12ab");

    dlg.SetAddress(IDC_LAN_IP, Ip(192, 168, 1, 123));
    EXPECT_EQ(Press(IDC_SAVE_LAN_IP), Hex("1f 1b 1d 00 c0 a8 01 7b"));
    for (int field = 0; field < 4; ++field) {
        dlg.BlankAddressField(IDC_LAN_GATEWAY, field);
    }
    EXPECT_EQ(Press(IDC_SAVE_LAN_GATEWAY), Hex("1f 1b 1d 02 00 00 00 00"));
    dlg.SelectCombo(IDC_DHCP, 0);
    EXPECT_EQ(Press(IDC_SAVE_DHCP), Hex("1f 1a 1f 1b 1f 1b 08 00"));
}

TEST_F(Tolvane, TextThatDoesNotFitIsRefusedAndNothingSent) {
    UseNetworkPrinter();
    dlg.SetText(IDC_AP_NAME, std::wstring(32, L'n'));
    const std::wstring ap = PressRefused(IDC_SAVE_AP);
    EXPECT_NE(ap.find(L"access point name"), std::wstring::npos) << Narrow(ap);
    EXPECT_NE(ap.find(L"31"), std::wstring::npos) << Narrow(ap);

    dlg.SetText(IDC_WIFI_NAME, std::wstring(60, L's'));
    dlg.SetText(IDC_WIFI_PASSWORD, std::wstring(60, L'p'));
    const std::wstring station = PressRefused(IDC_CONNECT_WIFI);
    EXPECT_NE(station.find(L"127"), std::wstring::npos) << Narrow(station);
    EXPECT_EQ(printer->CountConnections(300), 0) << "refused text reached the printer";
}

TEST_F(Tolvane, NoPrinterShowsTheFailureOncePerPress) {
    UseNetworkPrinter(kNobodyAt);
    for (int id : {IDC_TEST_CONNECT, IDC_SAVE_AP, IDC_CONNECT_WIFI, IDC_WIFI_FACTORY, IDC_SAVE_BT_NAME,
                   IDC_SAVE_BT_PIN, IDC_READ_BT_PIN, IDC_CHECK_BT, IDC_SAVE_LAN_IP, IDC_SAVE_LAN_MASK,
                   IDC_SAVE_LAN_GATEWAY, IDC_SAVE_LAN_MAC, IDC_SAVE_DHCP, IDC_CUT_PAPER, IDC_OPEN_DRAWER,
                   IDC_FACTORY_MODE, IDC_HEX_MODE}) {
        dlg.Click(id);
        HWND box = dlg.WaitForBox(kWait);
        ASSERT_NE(box, nullptr) << "button " << id;
        EXPECT_EQ(dlg.BoxTitle(box), L"tolvane");
        EXPECT_EQ(dlg.BoxText(box), L"Can not open communication port!");
        EXPECT_FALSE(dlg.BoxHasIcon(box));
        EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr) << "only an OK button";
        dlg.CloseBox(box);
        EXPECT_EQ(dlg.WaitForBox(200), nullptr) << "button " << id << " showed a second message";
    }
    EXPECT_EQ(printer->CountConnections(100), 0);
}

TEST_F(Tolvane, EnterAndEscChangeNothing) {
    UseNetworkPrinter();
    dlg.PressKey(VK_RETURN);
    dlg.PressKey(VK_ESCAPE);
    EXPECT_FALSE(dlg.WaitForExit(300)) << "a key closed the dialog";
    EXPECT_TRUE(IsWindowVisible(dlg.Window()));
    EXPECT_EQ(dlg.WaitForBox(0), nullptr);
    EXPECT_EQ(printer->CountConnections(200), 0);
}

TEST_F(Tolvane, AboutBoxFromTheSystemMenu) {
    dlg.SetText(IDC_AP_NAME, L"kept");
    dlg.SysCommand(0x0010);
    HWND about = dlg.WaitForBox(kWait);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(dlg.BoxTitle(about), L"About printer");
    const std::vector<std::wstring> texts = dlg.BoxTexts(about);
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"tolvane, Version 1.0"), texts.end());
    dlg.CloseBox(about);
    EXPECT_EQ(dlg.WaitForBox(200), nullptr);
    EXPECT_EQ(dlg.Text(IDC_AP_NAME), L"kept");
}

TEST_F(Tolvane, CancelEndsTheProgram) {
    dlg.Click(IDC_CLOSE);
    EXPECT_TRUE(dlg.WaitForExit(kWait));
}

TEST_F(Tolvane, SystemCloseEndsTheProgram) {
    dlg.SysCommand(SC_CLOSE);
    EXPECT_TRUE(dlg.WaitForExit(kWait));
}

// The fake serial and parallel ports exist only when the test script made them.
TEST_F(Tolvane, SerialAndParallelPorts) {
    CapturedPort com1("TOL_E2E_COM1_CAPTURE");
    CapturedPort lpt1("TOL_E2E_LPT1_CAPTURE");
    if (!com1.Available() || !lpt1.Available()) {
        GTEST_SKIP() << "run through tests/e2e/run-e2e.sh for the fake COM1 and LPT1";
    }
    dlg.SelectCombo(IDC_PORT, 4);
    dlg.SelectCombo(IDC_BAUD, 1);  // 19200, which the script checks on the port afterwards
    dlg.Click(IDC_CUT_PAPER);
    EXPECT_EQ(dlg.WaitForBox(0), nullptr);
    EXPECT_EQ(com1.Take(3, kWait), Hex("1d 56 01"));

    dlg.SelectCombo(IDC_PORT, 1);
    dlg.Click(IDC_SAVE_LAN_MAC);
    EXPECT_EQ(dlg.WaitForBox(0), nullptr);
    EXPECT_EQ(lpt1.Take(10, kWait), Hex("1f 1b 1d 03 bc 20 9e 22 56 1c"));

    // COM2 and LPT2 have no device behind them.
    for (int port : {5, 2}) {
        dlg.SelectCombo(IDC_PORT, port);
        dlg.Click(IDC_HEX_MODE);
        HWND box = dlg.WaitForBox(kWait);
        ASSERT_NE(box, nullptr) << "port " << port;
        EXPECT_EQ(dlg.BoxText(box), L"Can not open communication port!");
        dlg.CloseBox(box);
    }
}

// USB001: the first action without a printer fails, an arrival opens the printer for the next
// action, a removal closes it again.
TEST_F(Tolvane, UsbPrinterArrivalAndRemoval) {
    if (!wine_bench::Available()) {
        GTEST_SKIP() << "run through tests/e2e/run-e2e.sh for the fake USB printer";
    }
    FakeUsbPrinter::RemoveAll();
    ASSERT_EQ(dlg.ComboIndex(IDC_PORT), 0);

    // A notification before any USB action changes nothing and creates nothing.
    DeviceChange(DBT_DEVICEARRIVAL, L"\\\\?\\usb#none");
    EXPECT_EQ(dlg.WaitForBox(200), nullptr);

    dlg.Click(IDC_CUT_PAPER);
    HWND box = dlg.WaitForBox(kWait);
    ASSERT_NE(box, nullptr) << "no printer, yet no failure message";
    EXPECT_EQ(dlg.BoxText(box), L"Can not open communication port!");
    dlg.CloseBox(box);

    {
        FakeUsbPrinter usb("E2E00001");
        ASSERT_TRUE(usb.Created());
        ASSERT_TRUE(wine_bench::Pty(usb.DosName()));
        DeviceChange(DBT_DEVICEARRIVAL, usb.DevicePath());
        dlg.Click(IDC_CUT_PAPER);
        EXPECT_EQ(dlg.WaitForBox(300), nullptr) << "the arrival did not open the printer";
        EXPECT_EQ(wine_bench::Captured(usb.DosName(), 3), Hex("1d 56 01"));
        dlg.Click(IDC_HEX_MODE);
        EXPECT_EQ(wine_bench::Captured(usb.DosName(), 6), Hex("1d 56 01 1f 28 41"));

        // Unplugged: the removal closes the device, and the next action fails.
        ASSERT_TRUE(wine_bench::Unplug(usb.DosName()));
        DeviceChange(DBT_DEVICEREMOVECOMPLETE, usb.DevicePath());
        dlg.Click(IDC_CUT_PAPER);
        box = dlg.WaitForBox(kWait);
        ASSERT_NE(box, nullptr) << "removed printer, yet no failure message";
        EXPECT_EQ(dlg.BoxText(box), L"Can not open communication port!");
        dlg.CloseBox(box);
        wine_bench::Remove(usb.DosName());
    }
    // Closing deletes the USB messenger and ends the program.
    dlg.Click(IDC_CLOSE);
    EXPECT_TRUE(dlg.WaitForExit(kWait));
}

}  // namespace

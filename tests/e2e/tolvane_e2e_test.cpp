// tolvane driven from another process: its controls, lists and defaults, the clock, the system
// menu and About box, the port strip, all seventeen buttons, the failure message, refused text,
// keys, USB arrival and removal, and the ways of closing.
#include <gtest/gtest.h>

#include <windows.h>
// dbt.h needs the Windows types first.
#include <dbt.h>

#include "tests/e2e/DialogTest.h"
#include "tests/e2e/E2eUtil.h"
#include "tests/wine/FakeUsbPrinter.h"
#include "tests/wine/WineBench.h"
#include "tolvane/resource.h"

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

constexpr LONG T = WS_TABSTOP;
constexpr LONG D = WS_DISABLED;

TEST_F(Tolvane, ShowsEveryControlWithItsCaptionListAndDefault) {
    ExpectControls({
        {-1, L"Static", L"Choose Printer Port", 0},
        {IDC_PORT, L"ComboBox", L"USB001", T},
        {-1, L"Static", L"COM Baudrate", 0},
        {IDC_BAUD, L"ComboBox", L"9600", T | D},
        {-1, L"Static", L"Printer IP Address", 0},
        {IDC_TEST_CONNECT, L"Button", L"Test Connect", T},
        {IDC_DATE, L"Static", nullptr, 0},
        {IDC_TIME, L"Static", nullptr, 0},
        {IDC_PRINTER_IP, L"SysIPAddress32", nullptr, T | D},
        {IDC_CONNECT_WIFI, L"Button", L"Connect WIFI", T},
        {-1, L"Static", L"WIFI Name:", 0},
        {IDC_WIFI_FACTORY, L"Button", L"WIFI Factory Mode", T},
        {-1, L"Static", L"Static IP Address:", 0},
        {IDC_WIFI_NAME, L"Edit", L"WIFI Name", T},
        {-1, L"Static", L"WIFI Password:", 0},
        {IDC_AUTH_MODE, L"ComboBox", L"WPA2PSK", T},
        {IDC_ENCRYPTION, L"ComboBox", L"AES", T},
        {IDC_WIFI_PASSWORD, L"Edit", L"WIFI Password", T},
        {IDC_STA_IP, L"SysIPAddress32", nullptr, T},
        {IDC_STA_MASK, L"SysIPAddress32", nullptr, T},
        {IDC_STA_GATEWAY, L"SysIPAddress32", nullptr, T},
        {-1, L"Static", L"Subnet Mask:", 0},
        {-1, L"Static", L"Gateway:", 0},
        {-1, L"Button", L"WIFI STA Parameter", 0},
        {-1, L"Static", L"Printer AP Name:", 0},
        {IDC_AP_NAME, L"Edit", L"Thermal Printer", T},
        {IDC_WIFI_MODE, L"ComboBox", L"0-AP", T},
        {-1, L"Static", L"Printer WIFI Mode:", 0},
        {IDC_SAVE_AP, L"Button", L"Save Name && Mode", T},
        {-1, L"Static", L"Designed by R&&D Department.", 0},
        {-1, L"Button", L"WIFI Parameter", 0},
        {-1, L"Static", L"Printer Name", 0},
        {IDC_BT_NAME, L"Edit", L"Printer", T},
        {IDC_SAVE_BT_NAME, L"Button", L"Save Name", T},
        {IDC_BT_PIN, L"Edit", L"6042", T},
        {IDC_SAVE_BT_PIN, L"Button", L"Save Pincode", T},
        {IDC_READ_BT_PIN, L"Button", L"Read Pincode", T},
        {-1, L"Static", L"Pin Code", 0},
        {-1, L"Button", L"Bluetooth Parameter", 0},
        {IDC_ETHERNET_GROUP, L"Button", L"Ethernet Port", 0},
        {IDC_LAN_IP, L"SysIPAddress32", nullptr, T},
        {IDC_LAN_MASK, L"SysIPAddress32", nullptr, T},
        {IDC_LAN_GATEWAY, L"SysIPAddress32", nullptr, T},
        {IDC_LAN_MAC, L"SysIPAddress32", nullptr, T},
        {-1, L"Static", L"IP Address:", 0},
        {-1, L"Static", L"Subnet Mask:", 0},
        {-1, L"Static", L"Gateway", 0},
        {-1, L"Static", L"Mac:(Last 4)", 0},
        {IDC_CHECK_BT, L"Button", L"Check Bluetooth", T},
        {IDC_SAVE_LAN_IP, L"Button", L"Save IP", T},
        {IDC_SAVE_LAN_MASK, L"Button", L"Save Mask", T},
        {IDC_SAVE_LAN_GATEWAY, L"Button", L"Save Gateway", T},
        {IDC_SAVE_LAN_MAC, L"Button", L"Save Mac", T},
        {IDC_CLOSE, L"Button", L"Cancel", T},
        {IDC_CUT_PAPER, L"Button", L"Cut Paper", T},
        {IDC_OPEN_DRAWER, L"Button", L"Open CashDrawer", T},
        {IDC_FACTORY_MODE, L"Button", L"Printer Factory Mode", T},
        {IDC_HEX_MODE, L"Button", L"Enter Hex Mode", T},
        {IDC_SAVE_DHCP, L"Button", L"Save", T},
        {-1, L"Static", L"DHCP Function:", 0},
        {IDC_DHCP, L"ComboBox", L"1-Enable", T},
    });
    for (int id : {IDC_TEST_CONNECT, IDC_CLOSE, IDC_SAVE_AP, IDC_CUT_PAPER, IDC_SAVE_DHCP}) {
        EXPECT_FALSE(GetWindowLongW(dlg.Item(id), GWL_STYLE) & BS_DEFPUSHBUTTON) << id;
    }

    ExpectComboEntries(IDC_PORT, {L"USB001", L"LPT1", L"LPT2", L"LPT3", L"COM1", L"COM2", L"Ethernet"}, 0);
    ExpectComboEntries(IDC_BAUD, {L"9600", L"19200", L"38400", L"57600", L"115200"}, 0);
    ExpectComboEntries(IDC_WIFI_MODE, {L"0-AP", L"1-STA", L"2-APSTA"}, 0);
    ExpectComboEntries(IDC_DHCP, {L"0-Disable", L"1-Enable"}, 1);
    ExpectComboEntries(IDC_AUTH_MODE, {L"OPEN", L"SHARED", L"WPAPSK", L"WPA2PSK"}, 3);
    ExpectComboEntries(IDC_ENCRYPTION, {L"NONE", L"WEP-H", L"WEP-A", L"TKIP", L"AES"}, 4);

    // Seeded from the PC's own address, found the way the program finds it.
    EXPECT_EQ(dlg.Address(IDC_PRINTER_IP), Ip(192, 168, 1, 100));
    const DWORD prefix = LocalAddressOfThisPc() & 0xFFFFFF00;
    EXPECT_EQ(dlg.Address(IDC_STA_IP), prefix | 200);
    EXPECT_EQ(dlg.Address(IDC_STA_MASK), Ip(255, 255, 255, 0));
    EXPECT_EQ(dlg.Address(IDC_STA_GATEWAY), prefix | 1);
    EXPECT_EQ(dlg.Address(IDC_LAN_IP), prefix | 123);
    EXPECT_EQ(dlg.Address(IDC_LAN_MASK), Ip(255, 255, 255, 0));
    EXPECT_EQ(dlg.Address(IDC_LAN_GATEWAY), prefix | 1);
    EXPECT_EQ(dlg.Address(IDC_LAN_MAC), Ip(158, 34, 86, 28));
}

TEST_F(Tolvane, ClockShowsLocalDateAndTimeEverySecond) {
    ExpectClock(IDC_DATE, IDC_TIME);
}

TEST_F(Tolvane, SystemMenuEndsWithTheAboutItem) {
    ExpectSystemMenuAbout(L"tolvane, Version 1.0", IDC_AP_NAME);
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
    UseNetworkPrinter(NobodyAt());
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
    // The dialog still takes presses, and the keys sent nothing.
    dlg.Click(IDC_TEST_CONNECT);
    std::string bytes;
    ASSERT_TRUE(printer->NextConnection(bytes, kWait)) << "the dialog no longer takes presses";
    EXPECT_EQ(bytes, TestPrintBytes()) << "a key sent something";
    dlg.Sync();
    EXPECT_TRUE(IsWindowVisible(dlg.Window()));
    EXPECT_EQ(dlg.WaitForBox(0), nullptr);
    EXPECT_EQ(printer->CountConnections(200), 0);
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

// USB001: notifications before any USB action take nothing; the first action takes the printer;
// a removal lets go of it, and actions fail until an arrival takes it again.
TEST_F(Tolvane, UsbPrinterArrivalAndRemoval) {
    if (!wine_bench::Available()) {
        GTEST_SKIP() << "run through tests/e2e/run-e2e.sh for the fake USB printer";
    }
    FakeUsbPrinter::RemoveAll();
    FakeUsbPrinter usb("E2E00001");
    ASSERT_TRUE(usb.Created());
    ASSERT_TRUE(wine_bench::Pty(usb.DosName()));
    const std::string device = usb.DosName();
    ASSERT_EQ(dlg.ComboIndex(IDC_PORT), 0);

    DeviceChange(DBT_DEVICEARRIVAL, usb.DevicePath());
    EXPECT_EQ(wine_bench::Holders(device), 0) << "an arrival before any USB action opened the printer";
    DeviceChange(DBT_DEVICEREMOVECOMPLETE, usb.DevicePath());
    EXPECT_EQ(dlg.WaitForBox(0), nullptr);

    dlg.Click(IDC_CUT_PAPER);
    EXPECT_EQ(dlg.WaitForBox(0), nullptr) << "the first USB action did not reach the printer";
    EXPECT_EQ(wine_bench::Captured(device, 3), Hex("1d 56 01"));
    EXPECT_GT(HoldersWhen(device, true), 0);

    // The removal closes the device, though it is still there; no action opens it again.
    DeviceChange(DBT_DEVICEREMOVECOMPLETE, usb.DevicePath());
    EXPECT_EQ(HoldersWhen(device, false), 0) << "the removal did not close the device";
    EXPECT_EQ(PressExpectingMessage(IDC_HEX_MODE, L"tolvane"), L"Can not open communication port!");
    EXPECT_EQ(wine_bench::Holders(device), 0) << "an action opened the device by itself";

    // An arrival opens it again; a second one changes nothing.
    DeviceChange(DBT_DEVICEARRIVAL, usb.DevicePath());
    EXPECT_GT(HoldersWhen(device, true), 0) << "the arrival did not open the device";
    DeviceChange(DBT_DEVICEARRIVAL, usb.DevicePath());
    dlg.Click(IDC_HEX_MODE);
    EXPECT_EQ(dlg.WaitForBox(0), nullptr);
    EXPECT_EQ(wine_bench::Captured(device, 6), Hex("1d 56 01 1f 28 41"));

    // Unplugged, then the removal: the next action fails.
    ASSERT_TRUE(wine_bench::Unplug(device));
    DeviceChange(DBT_DEVICEREMOVECOMPLETE, usb.DevicePath());
    EXPECT_EQ(PressExpectingMessage(IDC_CUT_PAPER, L"tolvane"), L"Can not open communication port!");
    wine_bench::Remove(device);
}

TEST_F(Tolvane, CancelLetsGoOfTheUsbPrinterBeforeTheProgramEnds) {
    CloseReleasesUsbPrinter(IDC_CUT_PAPER, "E2E00003", [this] { dlg.Click(IDC_CLOSE); });
}

TEST_F(Tolvane, SystemCloseLetsGoOfTheUsbPrinterBeforeTheProgramEnds) {
    CloseReleasesUsbPrinter(IDC_OPEN_DRAWER, "E2E00004", [this] { dlg.SysCommand(SC_CLOSE); });
}

// The close box, Alt+F4 or the taskbar while "Can not open communication port!" shows: the
// action still holds the USB messenger that the clean-up deletes.
TEST_F(Tolvane, SystemCloseDuringAFailureMessageWaitsForTheAction) {
    CloseDuringFailureMessage(IDC_TEST_CONNECT, [this] { dlg.SysCommand(SC_CLOSE); });
}

TEST_F(Tolvane, CancelDuringAFailureMessageWaitsForTheAction) {
    CloseDuringFailureMessage(IDC_CUT_PAPER, [this] { dlg.Click(IDC_CLOSE); });
}

}  // namespace

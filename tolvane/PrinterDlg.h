// tolvane's main dialog, "WIFI & Bluetooth & Ethernet": seventeen buttons, each sends one command.
#pragma once

#include <string>

#include "dialog/WifiDialog.h"

class CprinterDlg : public CWifiDialog {
  public:
    explicit CprinterDlg(CDialog* parent = nullptr);

    // The port choice and the Wi-Fi members come from the shared bases.

    DWORD m_dwLanIp = 0;
    DWORD m_dwLanMask = 0;
    DWORD m_dwLanGateway = 0;
    DWORD m_dwLanMac = 0;
    std::wstring m_strBtName;
    std::wstring m_strBtPin;
    int m_nDhcp = 0;

  protected:
    /// The Bluetooth, Ethernet and utility buttons; the rest comes from the bases.
    const MessageMap* GetMessageMap() const override;
    /// The port strip and the Wi-Fi fields, then DHCP, the Ethernet addresses, the Bluetooth
    /// name and PIN.
    void DoDataExchange(CDataExchange* pDX) override;
    /// The port strip and the Wi-Fi fields, then the Ethernet fields seeded from the local
    /// prefix and the DHCP list.
    void InitControls(DWORD localPrefix) override;

    // Bluetooth
    void OnSaveBtName();
    void OnSaveBtPin();
    void OnReadBtPin();
    void OnCheckBluetooth();
    // Ethernet
    void OnSaveLanIp();
    void OnSaveLanMask();
    void OnSaveLanGateway();
    void OnSaveLanMac();
    void OnSaveDhcp();
    // Printer utilities
    void OnCutPaper();
    void OnOpenCashDrawer();
    void OnPrinterFactoryMode();
    void OnEnterHexMode();
};

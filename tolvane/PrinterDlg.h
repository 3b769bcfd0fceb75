// tolvane's main dialog, "WIFI & Bluetooth & Ethernet": seventeen buttons, each sends one command.
#pragma once

#include <string>

#include "WifiDialog.h"

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
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

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

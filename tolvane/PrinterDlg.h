// tolvane's main dialog, "WIFI & Bluetooth & Ethernet": seventeen buttons, each sends one command.
#pragma once

#include <string>

#include "PrinterDialog.h"

class CprinterDlg : public CPrinterDialog {
  public:
    explicit CprinterDlg(CDialog* parent = nullptr);

    DWORD m_dwStaIp = 0;
    DWORD m_dwStaMask = 0;
    DWORD m_dwStaGateway = 0;
    DWORD m_dwLanIp = 0;
    DWORD m_dwLanMask = 0;
    DWORD m_dwLanGateway = 0;
    DWORD m_dwLanMac = 0;
    std::wstring m_strApName;
    std::wstring m_strWifiName;
    std::wstring m_strBtName;
    std::wstring m_strBtPin;
    int m_nWifiMode = 0;
    int m_nDhcp = 0;
    int m_nAuthMode = 0;
    int m_nEncryption = 0;
    std::wstring m_strWifiPassword;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    // Port strip
    void OnTestConnect();
    // Wi-Fi
    void OnSaveApNameAndMode();
    void OnConnectWifi();
    void OnWifiFactoryMode();
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

// What both main dialogs share about the printer's Wi-Fi module: its own access point (name and
// mode), the network it joins as a station, and the actions that send them.
#pragma once

#include <string>

#include "PrinterDialog.h"

/// Control IDs of the Wi-Fi fields, the same in both programs.
enum WifiControl {
    kIdSaveAp = 1017,
    kIdWifiMode = 1049,
    kIdWifiName = 1050,
    kIdWifiPassword = 1055,
    kIdAuthMode = 1063,
    kIdEncryption = 1064,
    kIdApName = 1066,
    kIdStaIp = 1070,
    kIdStaMask = 1071,
    kIdStaGateway = 1072,
};

class CWifiDialog : public CPrinterDialog {
  public:
    explicit CWifiDialog(CDialog* parent);

    DWORD m_dwStaIp = 0;
    DWORD m_dwStaMask = 0;
    DWORD m_dwStaGateway = 0;
    std::wstring m_strApName;
    std::wstring m_strWifiName;
    int m_nWifiMode = 0;
    int m_nAuthMode = 0;
    int m_nEncryption = 0;
    std::wstring m_strWifiPassword;

  protected:
    /// Seeds the station address fields from the local prefix (p1.p2.p3.200, 255.255.255.0,
    /// p1.p2.p3.1), enables them, and fills the mode, authentication and encryption lists.
    void InitWifiControls(DWORD prefix);

    /// The connection-test print.
    void OnTestConnect();
    /// The access point name and the Wi-Fi mode.
    void OnSaveApNameAndMode();
    /// The network the printer joins: security, the station text and its three lengths.
    void OnSaveStationParameters();
    /// The Wi-Fi module's factory mode.
    void OnWifiFactoryMode();
};

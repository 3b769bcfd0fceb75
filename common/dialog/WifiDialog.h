// What both main dialogs share about the printer's Wi-Fi module: its own access point (name and
// mode), the network it joins as a station, and the actions that send them.
#pragma once

#include <string>

#include "dialog/PortDialogBase.h"

class CWifiDialog : public CPortDialogBase {
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
    /// The three Wi-Fi buttons.
    const MessageMap* GetMessageMap() const override;
    /// The port strip, then mode, station addresses, name, password, AP name, security.
    void DoDataExchange(CDataExchange* pDX) override;
    /// The port strip, then the station address fields seeded from the local prefix
    /// (p1.p2.p3.200, 255.255.255.0, p1.p2.p3.1), and the mode, authentication and encryption
    /// lists.
    void InitControls(DWORD localPrefix) override;

    /// The access point name and the Wi-Fi mode.
    void OnSaveApNameAndMode();
    /// The network the printer joins: security, the station text and its three lengths.
    void OnSaveStationParameters();
    /// The Wi-Fi module's factory mode.
    void OnWifiFactoryMode();
};

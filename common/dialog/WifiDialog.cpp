#include "dialog/WifiDialog.h"

#include <commctrl.h>

#include "commands/Commands.h"

namespace {

const wchar_t* const kWifiModes[] = {L"0-AP", L"1-STA", L"2-APSTA"};
const wchar_t* const kAuthModes[] = {L"OPEN", L"SHARED", L"WPAPSK", L"WPA2PSK"};
const wchar_t* const kEncryptions[] = {L"NONE", L"WEP-H", L"WEP-A", L"TKIP", L"AES"};

}  // namespace

CWifiDialog::CWifiDialog(CDialog* parent)
    : CPortDialogBase(parent),
      m_strApName(L"Thermal Printer"),
      m_strWifiName(L"WIFI Name"),
      m_strWifiPassword(L"WIFI Password") {}

const MessageMap* CWifiDialog::GetMessageMap() const {
    using Dlg = CWifiDialog;
    static const MessageMapEntry kEntries[] = {
        OnCommand<Dlg>(IDC_SAVE_AP, BN_CLICKED, &Dlg::OnSaveApNameAndMode),
        OnCommand<Dlg>(IDC_SAVE_STATION, BN_CLICKED, &Dlg::OnSaveStationParameters),
        OnCommand<Dlg>(IDC_WIFI_FACTORY, BN_CLICKED, &Dlg::OnWifiFactoryMode),
    };
    static const MessageMap kMap(CPortDialogBase::GetMessageMap(), kEntries);
    return &kMap;
}

void CWifiDialog::DoDataExchange(CDataExchange* pDX) {
    CPortDialogBase::DoDataExchange(pDX);
    DDX_CBIndex(pDX, IDC_WIFI_MODE, m_nWifiMode);
    DDX_IPAddress(pDX, IDC_STA_IP, m_dwStaIp);
    DDX_IPAddress(pDX, IDC_STA_MASK, m_dwStaMask);
    DDX_IPAddress(pDX, IDC_STA_GATEWAY, m_dwStaGateway);
    DDX_Text(pDX, IDC_WIFI_NAME, m_strWifiName);
    DDX_Text(pDX, IDC_WIFI_PASSWORD, m_strWifiPassword);
    DDX_Text(pDX, IDC_AP_NAME, m_strApName);
    DDX_CBIndex(pDX, IDC_AUTH_MODE, m_nAuthMode);
    DDX_CBIndex(pDX, IDC_ENCRYPTION, m_nEncryption);
}

void CWifiDialog::InitControls(DWORD localPrefix) {
    CPortDialogBase::InitControls(localPrefix);
    // Enabled for every port by their template style.
    const int ids[] = {IDC_STA_IP, IDC_STA_MASK, IDC_STA_GATEWAY};
    const DWORD seeds[] = {localPrefix | 200, 0xFFFFFF00, localPrefix | 1};
    for (int i = 0; i < 3; ++i) {
        SendDlgItemMessageW(m_hWnd, ids[i], IPM_SETADDRESS, 0, static_cast<LPARAM>(seeds[i]));
    }
    // The mode list is sorted; its digit prefixes keep this order.
    FillComboBox(m_hWnd, IDC_WIFI_MODE, kWifiModes, 0);
    FillComboBox(m_hWnd, IDC_AUTH_MODE, kAuthModes, 3);
    FillComboBox(m_hWnd, IDC_ENCRYPTION, kEncryptions, 4);
}

void CWifiDialog::OnSaveApNameAndMode() {
    UpdateData(TRUE);
    const int mode = m_nWifiMode;
    const int nameLength = static_cast<int>(m_strApName.size());
    if (RefuseText(CmdTextField::ApName, m_strApName)) {
        return;
    }
    SendCommand<SetAPParaCmd>(mode, nameLength, m_strApName);
}

void CWifiDialog::OnSaveStationParameters() {
    UpdateData(TRUE);
    const StationText station =
        BuildStationText(m_strWifiName, m_strWifiPassword, m_dwStaIp, m_dwStaMask, m_dwStaGateway);
    if (RefuseText(CmdTextField::StationText, station.text)) {
        return;
    }
    SendCommand<WifiTestParaCmd>(m_nAuthMode, m_nEncryption, station.nameLength, station.passwordLength,
                                 station.addressLength, station.text);
}

void CWifiDialog::OnWifiFactoryMode() {
    UpdateData(TRUE);
    SendCommand<WifiRefacCmd>();
}

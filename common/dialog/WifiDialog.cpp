#include "WifiDialog.h"

#include <commctrl.h>

#include "Commands.h"

namespace {

const wchar_t* const kWifiModes[] = {L"0-AP", L"1-STA", L"2-APSTA"};
const wchar_t* const kAuthModes[] = {L"OPEN", L"SHARED", L"WPAPSK", L"WPA2PSK"};
const wchar_t* const kEncryptions[] = {L"NONE", L"WEP-H", L"WEP-A", L"TKIP", L"AES"};

}  // namespace

CWifiDialog::CWifiDialog(CDialog* parent)
    : CPrinterDialog(parent),
      m_strApName(L"Thermal Printer"),
      m_strWifiName(L"WIFI Name"),
      m_strWifiPassword(L"WIFI Password") {}

void CWifiDialog::InitWifiControls(DWORD prefix) {
    const int ids[] = {kIdStaIp, kIdStaMask, kIdStaGateway};
    const DWORD seeds[] = {prefix | 200, 0xFFFFFF00, prefix | 1};
    for (int i = 0; i < 3; ++i) {
        SendDlgItemMessageW(m_hWnd, ids[i], IPM_SETADDRESS, 0, static_cast<LPARAM>(seeds[i]));
        EnableWindow(GetDlgItem(ids[i]), TRUE);
    }
    // The mode list is sorted; its digit prefixes keep this order.
    FillComboBox(m_hWnd, kIdWifiMode, kWifiModes, 0);
    FillComboBox(m_hWnd, kIdAuthMode, kAuthModes, 3);
    FillComboBox(m_hWnd, kIdEncryption, kEncryptions, 4);
}

void CWifiDialog::OnTestConnect() {
    UpdateData(TRUE);
    SendCommand<PrintTestCmd>();
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

#include "tolvane/PrinterDlg.h"

#include <commctrl.h>

#include "commands/Commands.h"
#include "tolvane/resource.h"

namespace {

const wchar_t* const kDhcpChoices[] = {L"0-Disable", L"1-Enable"};

void SetAddress(HWND dialog, int id, DWORD value) {
    SendDlgItemMessageW(dialog, id, IPM_SETADDRESS, 0, static_cast<LPARAM>(value));
}

}  // namespace

CprinterDlg::CprinterDlg(CDialog* parent)
    : CWifiDialog(parent), m_strBtName(L"Printer"), m_strBtPin(L"6042") {}

const MessageMap* CprinterDlg::GetMessageMap() const {
    using Dlg = CprinterDlg;
    static const MessageMapEntry kEntries[] = {
        OnCommand<Dlg>(IDC_SAVE_BT_NAME, BN_CLICKED, &Dlg::OnSaveBtName),
        OnCommand<Dlg>(IDC_SAVE_BT_PIN, BN_CLICKED, &Dlg::OnSaveBtPin),
        OnCommand<Dlg>(IDC_READ_BT_PIN, BN_CLICKED, &Dlg::OnReadBtPin),
        OnCommand<Dlg>(IDC_CHECK_BT, BN_CLICKED, &Dlg::OnCheckBluetooth),
        OnCommand<Dlg>(IDC_SAVE_LAN_IP, BN_CLICKED, &Dlg::OnSaveLanIp),
        OnCommand<Dlg>(IDC_SAVE_LAN_MASK, BN_CLICKED, &Dlg::OnSaveLanMask),
        OnCommand<Dlg>(IDC_SAVE_LAN_GATEWAY, BN_CLICKED, &Dlg::OnSaveLanGateway),
        OnCommand<Dlg>(IDC_SAVE_LAN_MAC, BN_CLICKED, &Dlg::OnSaveLanMac),
        OnCommand<Dlg>(IDC_SAVE_DHCP, BN_CLICKED, &Dlg::OnSaveDhcp),
        OnCommand<Dlg>(IDC_CUT_PAPER, BN_CLICKED, &Dlg::OnCutPaper),
        OnCommand<Dlg>(IDC_OPEN_DRAWER, BN_CLICKED, &Dlg::OnOpenCashDrawer),
        OnCommand<Dlg>(IDC_FACTORY_MODE, BN_CLICKED, &Dlg::OnPrinterFactoryMode),
        OnCommand<Dlg>(IDC_HEX_MODE, BN_CLICKED, &Dlg::OnEnterHexMode),
    };
    static const MessageMap kMap(CWifiDialog::GetMessageMap(), kEntries);
    return &kMap;
}

void CprinterDlg::DoDataExchange(CDataExchange* pDX) {
    CWifiDialog::DoDataExchange(pDX);
    DDX_CBIndex(pDX, IDC_DHCP, m_nDhcp);
    DDX_IPAddress(pDX, IDC_LAN_IP, m_dwLanIp);
    DDX_IPAddress(pDX, IDC_LAN_MASK, m_dwLanMask);
    DDX_IPAddress(pDX, IDC_LAN_GATEWAY, m_dwLanGateway);
    DDX_IPAddress(pDX, IDC_LAN_MAC, m_dwLanMac);
    DDX_Text(pDX, IDC_BT_NAME, m_strBtName);
    DDX_Text(pDX, IDC_BT_PIN, m_strBtPin);
}

void CprinterDlg::InitControls(DWORD localPrefix) {
    CWifiDialog::InitControls(localPrefix);
    SetAddress(m_hWnd, IDC_LAN_IP, localPrefix | 123);
    SetAddress(m_hWnd, IDC_LAN_MASK, 0xFFFFFF00);
    SetAddress(m_hWnd, IDC_LAN_GATEWAY, localPrefix | 1);
    SetAddress(m_hWnd, IDC_LAN_MAC, (158u << 24) | (34u << 16) | (86u << 8) | 28u);
    // A sorted list: the digit prefixes keep this order.
    FillComboBox(m_hWnd, IDC_DHCP, kDhcpChoices, 1);
}

void CprinterDlg::OnSaveBtName() {
    UpdateData(TRUE);
    if (!RefuseText(CmdTextField::BtName, m_strBtName)) {
        SendCommand<SetBtNameCmd>(m_strBtName);
    }
}

void CprinterDlg::OnSaveBtPin() {
    UpdateData(TRUE);
    if (!RefuseText(CmdTextField::BtPin, m_strBtPin)) {
        SendCommand<SetBtPinCmd>(m_strBtPin);
    }
}

void CprinterDlg::OnReadBtPin() {
    UpdateData(TRUE);
    SendCommand<ReadPinCmd>();
}

void CprinterDlg::OnCheckBluetooth() {
    UpdateData(TRUE);
    SendCommand<CheckSpeedCmd>();
}

void CprinterDlg::OnSaveLanIp() {
    UpdateData(TRUE);
    SendCommand<SetIPCmd>(m_dwLanIp);
}

void CprinterDlg::OnSaveLanMask() {
    UpdateData(TRUE);
    SendCommand<SetMASKCmd>(m_dwLanMask);
}

void CprinterDlg::OnSaveLanGateway() {
    UpdateData(TRUE);
    SendCommand<SetGATECmd>(m_dwLanGateway);
}

void CprinterDlg::OnSaveLanMac() {
    UpdateData(TRUE);
    SendCommand<SetMACCmd>(m_dwLanMac);
}

void CprinterDlg::OnSaveDhcp() {
    UpdateData(TRUE);
    SendCommand<SetLanDHCPCmd>(m_nDhcp);
}

void CprinterDlg::OnCutPaper() {
    UpdateData(TRUE);
    SendCommand<CutPaper>();
}

void CprinterDlg::OnOpenCashDrawer() {
    UpdateData(TRUE);
    SendCommand<OpenCashBoxCmd>();
}

void CprinterDlg::OnPrinterFactoryMode() {
    UpdateData(TRUE);
    SendCommand<FacModeCmd>();
}

void CprinterDlg::OnEnterHexMode() {
    UpdateData(TRUE);
    SendCommand<HexModeCmd>();
}

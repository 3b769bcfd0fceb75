#include "PrinterDlg.h"

#include <commctrl.h>

#include <cstdio>

#include "Commands.h"
#include "resource.h"

namespace {

const wchar_t* const kDhcpChoices[] = {L"0-Disable", L"1-Enable"};

void SetAddress(HWND dialog, int id, DWORD value) {
    SendDlgItemMessageW(dialog, id, IPM_SETADDRESS, 0, static_cast<LPARAM>(value));
}

}  // namespace

CprinterDlg::CprinterDlg(CDialog* parent)
    : CWifiDialog(parent), m_strBtName(L"Printer"), m_strBtPin(L"6042") {}

void CprinterDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_CBIndex(pDX, IDC_PORT, m_nPortSel);
    DDX_CBIndex(pDX, IDC_BAUD, m_nBaudSel);
    DDX_CBIndex(pDX, IDC_WIFI_MODE, m_nWifiMode);
    DDX_CBIndex(pDX, IDC_DHCP, m_nDhcp);
    DDX_IPAddress(pDX, IDC_PRINTER_IP, m_dwPrinterIp);
    DDX_IPAddress(pDX, IDC_STA_IP, m_dwStaIp);
    DDX_IPAddress(pDX, IDC_STA_MASK, m_dwStaMask);
    DDX_IPAddress(pDX, IDC_STA_GATEWAY, m_dwStaGateway);
    DDX_IPAddress(pDX, IDC_LAN_IP, m_dwLanIp);
    DDX_IPAddress(pDX, IDC_LAN_MASK, m_dwLanMask);
    DDX_IPAddress(pDX, IDC_LAN_GATEWAY, m_dwLanGateway);
    DDX_IPAddress(pDX, IDC_LAN_MAC, m_dwLanMac);
    DDX_Text(pDX, IDC_WIFI_NAME, m_strWifiName);
    DDX_Text(pDX, IDC_WIFI_PASSWORD, m_strWifiPassword);
    DDX_Text(pDX, IDC_AP_NAME, m_strApName);
    DDX_Text(pDX, IDC_BT_NAME, m_strBtName);
    DDX_Text(pDX, IDC_BT_PIN, m_strBtPin);
    DDX_CBIndex(pDX, IDC_AUTH_MODE, m_nAuthMode);
    DDX_CBIndex(pDX, IDC_ENCRYPTION, m_nEncryption);
}

BOOL CprinterDlg::OnInitDialog() {
    const DWORD prefix = InitSharedControls();

    InitWifiControls(prefix);
    SetAddress(m_hWnd, IDC_LAN_IP, prefix | 123);
    SetAddress(m_hWnd, IDC_LAN_MASK, 0xFFFFFF00);
    SetAddress(m_hWnd, IDC_LAN_GATEWAY, prefix | 1);
    SetAddress(m_hWnd, IDC_LAN_MAC, (158u << 24) | (34u << 16) | (86u << 8) | 28u);

    // A sorted list: the digit prefixes keep this order.
    FillComboBox(m_hWnd, IDC_DHCP, kDhcpChoices, 1);

    if (!DoRegisterDeviceInterface(&m_hDevNotify)) {
        std::printf("DoRegisterDeviceInterface failed\n");
    }
    return TRUE;
}

bool CprinterDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    using Dlg = CprinterDlg;
    static const MessageMapEntry<Dlg> kMessageMap[] = {
        OnMessage<Dlg>(WM_SYSCOMMAND, &Dlg::OnSysCommand),
        OnMessage<Dlg>(WM_PAINT, &Dlg::OnPaint),
        OnMessage<Dlg>(WM_QUERYDRAGICON, &Dlg::OnQueryDragIcon),
        OnMessage<Dlg>(WM_CREATE, &Dlg::OnCreate),
        OnMessage<Dlg>(WM_TIMER, &Dlg::OnTimer),
        OnMessage<Dlg>(WM_DEVICECHANGE, &Dlg::OnDeviceChange),
        OnCommand<Dlg>(IDC_PORT, CBN_SELCHANGE, &Dlg::OnSelchangePort),
        OnCommand<Dlg>(IDC_TEST_CONNECT, BN_CLICKED, &Dlg::OnTestConnect),
        OnCommand<Dlg>(IDC_CLOSE, BN_CLICKED, &Dlg::OnClose),
        OnCommand<Dlg>(IDC_SAVE_AP, BN_CLICKED, &Dlg::OnSaveApNameAndMode),
        OnCommand<Dlg>(IDC_CONNECT_WIFI, BN_CLICKED, &Dlg::OnSaveStationParameters),
        OnCommand<Dlg>(IDC_WIFI_FACTORY, BN_CLICKED, &Dlg::OnWifiFactoryMode),
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
    return RouteMessage(this, kMessageMap, message, wParam, lParam, result);
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

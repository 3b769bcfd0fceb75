#include "dialog/PortDialogBase.h"

#include <commctrl.h>
#include <dbt.h>

#include <cstdio>
#include <ctime>

#include "commands/Commands.h"
#include "dialog/LocalAddress.h"
#include "transport/UsbMessenger.h"
#include "winui/WinApp.h"

namespace {

constexpr int kNotifyFilterSize = 32;
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) <= kNotifyFilterSize, "the filter fits its block");

const wchar_t* const kPorts[] = {L"USB001", L"LPT1", L"LPT2", L"LPT3", L"COM1", L"COM2", L"Ethernet"};

constexpr DWORD kDefaultPrinterIp = (192u << 24) | (168u << 16) | (1u << 8) | 100u;

std::wstring Widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

}  // namespace

CPortDialogBase::CPortDialogBase(CDialog* parent) : CDialog(IDD_PRINTER_DIALOG, parent) {
    m_hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CPortDialogBase::~CPortDialogBase() = default;

const MessageMap* CPortDialogBase::GetMessageMap() const {
    using Dlg = CPortDialogBase;
    static const MessageMapEntry kEntries[] = {
        OnMessage<Dlg>(WM_SYSCOMMAND, &Dlg::OnSysCommand),
        OnMessage<Dlg>(WM_PAINT, &Dlg::OnPaint),
        OnMessage<Dlg>(WM_QUERYDRAGICON, &Dlg::OnQueryDragIcon),
        OnMessage<Dlg>(WM_CREATE, &Dlg::OnCreate),
        OnMessage<Dlg>(WM_TIMER, &Dlg::OnTimer),
        OnMessage<Dlg>(WM_DEVICECHANGE, &Dlg::OnDeviceChange),
        OnCommand<Dlg>(IDC_PORT, CBN_SELCHANGE, &Dlg::OnSelchangePort),
        OnCommand<Dlg>(IDC_TEST_CONNECT, BN_CLICKED, &Dlg::OnTestConnect),
        OnCommand<Dlg>(IDC_CLOSE, BN_CLICKED, &Dlg::OnClose),
    };
    static const MessageMap kMap(CDialog::GetMessageMap(), kEntries);
    return &kMap;
}

void CPortDialogBase::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_CBIndex(pDX, IDC_PORT, m_nPortSel);
    DDX_CBIndex(pDX, IDC_BAUD, m_nBaudSel);
    DDX_IPAddress(pDX, IDC_PRINTER_IP, m_dwPrinterIp);
}

BOOL CPortDialogBase::OnInitDialog() {
    CDialog::OnInitDialog();

    wchar_t about[256] = L"";
    LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, about, 256);
    HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE);
    if (systemMenu != nullptr && about[0] != L'\0') {
        AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
    }

    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    GetLocalIpAddress();
    // Read at once: the text lives in the sockets library's storage (see GetLocalIpAddress).
    InitControls(LocalPrefix(g_pszLocalIp));

    if (!DoRegisterDeviceInterface(&m_hDevNotify)) {
        std::printf("DoRegisterDeviceInterface failed\n");
    }
    OnSelchangePort();
    return TRUE;
}

void CPortDialogBase::InitControls(DWORD) {
    for (const wchar_t* port : kPorts) {
        SendDlgItemMessageW(m_hWnd, IDC_PORT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(port));
    }
    SendDlgItemMessageW(m_hWnd, IDC_PORT, CB_SETCURSEL, 0, 0);
    // The list itself comes from the template's initialization data.
    SendDlgItemMessageW(m_hWnd, IDC_BAUD, CB_SETCURSEL, 0, 0);
    SendDlgItemMessageW(m_hWnd, IDC_PRINTER_IP, IPM_SETADDRESS, 0, static_cast<LPARAM>(kDefaultPrinterIp));
}

LRESULT CPortDialogBase::OnCreate(WPARAM, LPARAM) {
    SetTimer(m_hWnd, kClockTimer, 1000, nullptr);
    return 0;
}

LRESULT CPortDialogBase::OnTimer(WPARAM, LPARAM) {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    wchar_t date[32] = L"";
    wchar_t clock[32] = L"";
    if (local != nullptr) {
        wcsftime(clock, 32, L"%H:%M:%S", local);
        wcsftime(date, 32, L"%Y-%m-%d", local);
    }
    SetDlgItemTextW(m_hWnd, IDC_DATE, date);
    SetDlgItemTextW(m_hWnd, IDC_TIME, clock);
    Default();
    return 0;
}

void CPortDialogBase::CleanUp() {
    if (m_bCleanedUp) {
        return;
    }
    m_bCleanedUp = true;
    KillTimer(m_hWnd, kClockTimer);
    DestroyUsbMessenger();
    m_hDevNotify.Reset();
    delete[] static_cast<unsigned char*>(m_pNotifyFilter);
    m_pNotifyFilter = nullptr;
}

LRESULT CPortDialogBase::OnDeviceChange(WPARAM wParam, LPARAM lParam) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return TRUE;
    }
    // Only USB printer interfaces are registered, so the class is not looked at. The messenger
    // is never created here: before the first USB action there is nothing to open or close.
    if (wParam == DBT_DEVICEARRIVAL && g_pUsbMessenger != nullptr) {
        g_pUsbMessenger->Open();
    } else if (wParam == DBT_DEVICEREMOVECOMPLETE && g_pUsbMessenger != nullptr) {
        g_pUsbMessenger->Close();
    }
    Default();
    return TRUE;
}

LRESULT CPortDialogBase::OnSysCommand(WPARAM wParam, LPARAM) {
    const UINT command = static_cast<UINT>(wParam);
    if (command == SC_CLOSE) {
        RequestClose();
    } else if ((command & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.DoModal();
    } else {
        Default();
    }
    return 0;
}

LRESULT CPortDialogBase::OnPaint(WPARAM, LPARAM) {
    if (!IsIconic(m_hWnd)) {
        Default();
        return 0;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
    return 0;
}

LRESULT CPortDialogBase::OnQueryDragIcon(WPARAM, LPARAM) {
    return reinterpret_cast<LRESULT>(m_hIcon);
}

void CPortDialogBase::OnSelchangePort() {
    // Read from the control itself: members are refreshed only when an action starts.
    const int port = static_cast<int>(SendDlgItemMessageW(m_hWnd, IDC_PORT, CB_GETCURSEL, 0, 0));
    EnableWindow(GetDlgItem(IDC_BAUD), port == kPortCom1 || port == kPortCom2);
    EnableWindow(GetDlgItem(IDC_PRINTER_IP), port == kPortEthernet);
}

void CPortDialogBase::OnTestConnect() {
    UpdateData(TRUE);
    SendCommand<PrintTestCmd>();
}

void CPortDialogBase::OnClose() {
    RequestClose();
}

void CPortDialogBase::RequestClose() {
    if (m_nActionsRunning > 0) {
        m_bCloseRequested = true;
        return;
    }
    CleanUp();
    EndDialog(IDCANCEL);
}

void CPortDialogBase::EndAction() {
    if (--m_nActionsRunning == 0 && m_bCloseRequested) {
        m_bCloseRequested = false;
        RequestClose();
    }
}

BOOL CPortDialogBase::DoRegisterDeviceInterface(UniqueDevNotify* handle) {
    auto* block = new unsigned char[kNotifyFilterSize]();
    m_pNotifyFilter = block;
    auto* filter = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(block);
    filter->dbcc_size = kNotifyFilterSize;
    filter->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter->dbcc_classguid = kUsbPrintInterface;
    handle->Reset(RegisterDeviceNotificationW(m_hWnd, filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    if (!handle->Valid()) {
        std::printf("RegisterDeviceNotification failed: %d\n", static_cast<int>(GetLastError()));
        return FALSE;
    }
    return TRUE;
}

bool CPortDialogBase::RefuseText(CmdTextField field, const std::wstring& text) {
    const std::string problem = CheckCmdText(field, text);
    if (problem.empty()) {
        return false;
    }
    // The refusing action runs until its message has been closed.
    const ActionScope action(*this);
    const std::wstring message = Widen(problem) + L"\n\nNothing was sent.";
    MessageBoxW(m_hWnd, message.c_str(), AfxGetApp()->m_pszAppName, MB_OK | MB_ICONEXCLAMATION);
    return true;
}

void CPortDialogBase::ShowFailure() {
    MessageBoxW(m_hWnd, L"Can not open communication port!", AfxGetApp()->m_pszAppName, MB_OK);
}

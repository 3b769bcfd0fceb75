#include "tolwire/PrinterDlg.h"

#include "tolwire/resource.h"

namespace {

// Items are separated by a lone carriage return, which the static control starts a line at.
const wchar_t kInstructions[] =
    L"1.  Select the right port to configure the parameter.\r"
    L"2.  AP(Wireless AccessPoint) mode,can be used to connect for the other station device.\r"
    L"3.  STA(Station) mode is this device should be connect to the other AccessPoint.\r"
    L"4.  If we just want to use the AP mode,we can set the AP name and WIFI mode to AP.\r"
    L"5.  If we want to use the STA mode,we should configure the STA parameter.\r"
    L"6.  If we use the printer with the PC we open this software now,we can use the default IP address and "
    L"gateway,unless the default IP address is used by other device.\r"
    L"7.  No matter which mode we choose,when we input all the parameter we just can click 1 times button to "
    L"save the parameter.";

static_assert(sizeof kInstructions / sizeof kInstructions[0] == 666 + 1, "the panel text is 666 characters");

}  // namespace

CprinterDlg::CprinterDlg(CDialog* parent) : CWifiDialog(parent) {
    LOGFONTW tip = {};
    tip.lfHeight = 16;
    wcscpy_s(tip.lfFaceName, L"Arial");
    m_hTipFont = CreateFontIndirectW(&tip);
}

CprinterDlg::~CprinterDlg() {
    if (m_hTipFont != nullptr) {
        DeleteObject(m_hTipFont);
    }
}

const MessageMap* CprinterDlg::GetMessageMap() const {
    using Dlg = CprinterDlg;
    static const MessageMapEntry kEntries[] = {
        OnMessage<Dlg>(WM_CTLCOLORSTATIC, &Dlg::OnCtlColor),
    };
    static const MessageMap kMap(CWifiDialog::GetMessageMap(), kEntries);
    return &kMap;
}

LRESULT CprinterDlg::OnTimer(WPARAM wParam, LPARAM lParam) {
    SetDlgItemTextW(m_hWnd, IDC_INSTRUCTIONS, kInstructions);
    return CWifiDialog::OnTimer(wParam, lParam);
}

LRESULT CprinterDlg::OnCtlColor(WPARAM wParam, LPARAM lParam) {
    // The system's own answer (the dialog's background brush) stays the answer; only the tip
    // label changes its text colour and font.
    const LRESULT brush = DefWindowProcW(m_hWnd, WM_CTLCOLORSTATIC, wParam, lParam);
    if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == IDC_TIP) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(255, 0, 0));
        SelectObject(dc, m_hTipFont);
    }
    return brush;
}

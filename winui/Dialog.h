// A thin modal dialog base over raw Win32, shaped like the classic dialog framework's: a dialog
// from a template, data exchange between controls and members, and a message map per dialog.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

class CDialog;

/// Direction and target of one data exchange.
class CDataExchange {
  public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    BOOL m_bSaveAndValidate;  // TRUE: controls to members; FALSE: members to controls
    CDialog* m_pDlgWnd;
};

/// Zero-based index of the selected entry of a combo box.
void DDX_CBIndex(CDataExchange* pDX, int id, int& index);
/// The four fields of an IP address control, the first in bits 31-24; a blank field is 0.
void DDX_IPAddress(CDataExchange* pDX, int id, DWORD& value);
/// The text of a control, as typed.
void DDX_Text(CDataExchange* pDX, int id, std::wstring& value);

class CDialog {
  public:
    CDialog(UINT templateId, CDialog* parent = nullptr);
    virtual ~CDialog();

    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    /// Runs the dialog modally from its template in the program's resources; answers the value
    /// given to EndDialog, or -1 when the dialog could not be created.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

    /// Exchanges every member with its control: TRUE controls to members, FALSE the reverse.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

  protected:
    /// Fills lists from the template's initialization data, then shows the members in the
    /// controls. Answer TRUE to let the focus go to the first tab stop.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX);
    /// Enter and Esc: the base ends the dialog with IDOK / IDCANCEL.
    virtual void OnOK();
    virtual void OnCancel();

    /// Routes one message to the dialog's handlers. Answer true when a handler took it, with
    /// the handler's result; false lets the system's dialog processing run.
    virtual bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    /// Called from a handler: after it returns, the system's own processing runs as well and
    /// its answer becomes the message's answer.
    void Default() { m_bDefault = true; }

    HWND m_hWnd = nullptr;
    UINT m_nIDTemplate;
    CDialog* m_pParentWnd;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void ExecuteDlgInit();

    bool m_bDefault = false;
};

/// One line of a dialog's message map: a window message, or a control notification
/// (WM_COMMAND with a control id and a notification code).
template <class T>
struct MessageMapEntry {
    UINT message;
    UINT id;
    UINT code;
    void (T::*onCommand)();
    LRESULT (T::*onMessage)(WPARAM, LPARAM);
};

/// ON_COMMAND-style entry: notification `code` from control `id`.
template <class T>
constexpr MessageMapEntry<T> OnCommand(UINT id, UINT code, void (T::*handler)()) {
    return {WM_COMMAND, id, code, handler, nullptr};
}

/// ON_MESSAGE-style entry: a window message with its wParam and lParam.
template <class T>
constexpr MessageMapEntry<T> OnMessage(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM)) {
    return {message, 0, 0, nullptr, handler};
}

/// Finds the entry for a message in `map` and calls it on `self`.
template <class T, std::size_t N>
bool RouteMessage(T* self,
                  const MessageMapEntry<T> (&map)[N],
                  UINT message,
                  WPARAM wParam,
                  LPARAM lParam,
                  LRESULT& result) {
    for (const MessageMapEntry<T>& entry : map) {
        if (entry.message != message) {
            continue;
        }
        if (message == WM_COMMAND) {
            if (entry.id == LOWORD(wParam) && entry.code == HIWORD(wParam)) {
                (self->*entry.onCommand)();
                result = 0;
                return true;
            }
            continue;
        }
        result = (self->*entry.onMessage)(wParam, lParam);
        return true;
    }
    return false;
}

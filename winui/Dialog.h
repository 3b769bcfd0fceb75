// A thin modal dialog base over raw Win32, shaped like the classic dialog framework's: a dialog
// from a template, data exchange between controls and members, and a message map per class that
// falls through to its base class's map.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <type_traits>

class CDialog;

/// One line of a message map: a window message, or a control notification (WM_COMMAND with a
/// control id and a notification code), and the member that handles it. Written with OnCommand
/// and OnMessage, which take the handler from the dialog's own class.
struct MessageMapEntry {
    UINT message;
    UINT id;
    UINT code;
    void (CDialog::*onCommand)();
    LRESULT (CDialog::*onMessage)(WPARAM, LPARAM);
};

/// A class's message map: its own entries, and the map of its base class, which gets every
/// message that none of these entries takes.
struct MessageMap {
    template <std::size_t N>
    MessageMap(const MessageMap* baseMap, const MessageMapEntry (&entryList)[N])
        : base(baseMap), entries(entryList), count(N) {}

    const MessageMap* base;
    const MessageMapEntry* entries;
    std::size_t count;
};

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

    /// The message map of the dialog's class. A class with handlers of its own overrides this
    /// with a map of its entries whose base is its base class's map (the qualified call
    /// Base::GetMessageMap()): a message goes to the most derived class's entry for it, and
    /// falls through to the bases. CDialog's own map sends IDOK and IDCANCEL (Enter and Esc) to
    /// OnOK and OnCancel.
    virtual const MessageMap* GetMessageMap() const;

    /// Called from a handler: after it returns, the system's own processing runs as well and
    /// its answer becomes the message's answer.
    void Default() { m_bDefault = true; }

    HWND m_hWnd = nullptr;
    UINT m_nIDTemplate;
    CDialog* m_pParentWnd;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    /// Finds the entry for a message in the class's map or its bases' and calls it. Answers true
    /// when a handler took it, with the handler's result; false lets the system's dialog
    /// processing run.
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void ExecuteDlgInit();

    bool m_bDefault = false;
};

/// ON_COMMAND-style entry: notification `code` from control `id`, handled by a member of T or of
/// one of its bases.
template <class T>
constexpr MessageMapEntry OnCommand(UINT id, UINT code, void (T::*handler)()) {
    static_assert(std::is_base_of<CDialog, T>::value, "a message map entry of a dialog class");
    // Stored as a member of CDialog; it is only ever called on a T.
    return {WM_COMMAND, id, code, static_cast<void (CDialog::*)()>(handler), nullptr};
}

/// ON_MESSAGE-style entry: a window message with its wParam and lParam.
template <class T>
constexpr MessageMapEntry OnMessage(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM)) {
    static_assert(std::is_base_of<CDialog, T>::value, "a message map entry of a dialog class");
    return {message, 0, 0, nullptr, static_cast<LRESULT (CDialog::*)(WPARAM, LPARAM)>(handler)};
}

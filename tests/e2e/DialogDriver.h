// Drives a dialog program from another process, as a person would: finds its window, reads and
// sets its controls, presses its buttons, answers its message boxes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

/// One child window of a dialog, as the running program shows it.
struct ShownControl {
    int id;
    std::wstring className;
    std::wstring text;
    LONG style;
};

/// One item of a menu, as the running program holds it.
struct ShownMenuItem {
    UINT id;
    bool separator;
    std::wstring text;
};

class DialogDriver {
  public:
    DialogDriver() = default;
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    /// Starts `exe` and waits (up to 10 s) for its visible dialog with `caption`.
    bool Launch(const std::wstring& exe, const std::wstring& caption);
    /// Milliseconds since the program was started.
    DWORD SinceLaunch() const { return GetTickCount() - m_dwLaunchTick; }

    HWND Window() const { return m_hDialog; }
    DWORD ProcessId() const { return m_process.dwProcessId; }

    HWND Item(int id) const { return GetDlgItem(m_hDialog, id); }
    std::wstring Text(int id) const;
    bool Enabled(int id) const;
    int ComboIndex(int id) const;
    int ComboCount(int id) const;
    /// Every entry of a combo box's list, in list order.
    std::vector<std::wstring> ComboEntries(int id) const;
    /// The dialog's child windows in their order (the template's).
    std::vector<ShownControl> Controls() const;
    /// The main dialog's system menu, read inside the program (under Wine another process
    /// cannot read a window's menu); empty when it cannot be read.
    std::vector<ShownMenuItem> SystemMenu() const;
    /// The four fields of an IP address control (read from its edit fields; blank reads 0).
    DWORD Address(int id) const;

    // What a person does. Each fails the test, and does nothing, when the control is missing,
    // hidden or disabled.

    void SetText(int id, const std::wstring& text) const;
    /// Selects an entry: the selection, then the change notification.
    void SelectCombo(int id, int index) const;
    void SetAddress(int id, DWORD value) const;
    /// Sets one field of an IP address control to blank.
    void BlankAddressField(int id, int field) const;
    /// Presses a button through the button itself (BM_CLICK, posted), in order after what was
    /// posted before; returns once the press has been handled or a modal box it opened runs.
    void Click(int id) const;
    /// A key for the control with the focus, as the keyboard gives it; returns once handled.
    void PressKey(UINT virtualKey) const;
    /// A system command, posted as the close box, the system menu or the taskbar post it;
    /// returns once it has been handled or a modal box it opened runs.
    void SysCommand(WPARAM command) const;
    /// Opens the system menu with Alt+Space; true once it shows.
    bool OpenSystemMenu() const;
    /// Keys for the open menu, in order.
    void MenuKeys(std::initializer_list<UINT> virtualKeys) const;
    /// Waits until everything posted to the program so far has been handled (or a modal box that
    /// it opened runs).
    void Sync() const;

    /// A visible dialog box of the program other than the main dialog (message box, About box).
    HWND WaitForBox(int timeoutMs) const;
    std::wstring BoxTitle(HWND box) const;
    std::wstring BoxText(HWND box) const;
    /// The box's static texts and button captions, in window order.
    std::vector<std::wstring> BoxTexts(HWND box) const;
    /// Presses the box's OK button and waits until the box is gone and what opened it is done
    /// (or the next box shows).
    void CloseBox(HWND box) const;
    bool BoxHasIcon(HWND box) const;

    /// True once the process has ended (waits up to timeoutMs).
    bool WaitForExit(int timeoutMs);
    /// The exit code (STILL_ACTIVE while it runs); a crash ends it with the exception's code.
    DWORD ExitCode() const;
    void Kill();

  private:
    /// Returns once everything posted to the program before has been handled, or while a modal
    /// box opened by it serves messages (and shows), or once the program has ended.
    void Barrier() const;
    /// The control, if a person could use it now; otherwise the test fails.
    HWND Usable(int id, const char* what) const;
    bool Ended() const;

    PROCESS_INFORMATION m_process = {};
    HWND m_hDialog = nullptr;
    DWORD m_dwLaunchTick = 0;
};

/// The PC's first IPv4 address as this process sees it (host name, then its first address):
/// the program under test seeds its fields from the same lookup. 0xFFFFFFFF when there is none.
DWORD LocalAddressOfThisPc();

/// Makes an address value from its four fields.
constexpr DWORD Ip(DWORD a, DWORD b, DWORD c, DWORD d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

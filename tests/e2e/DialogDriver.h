// Drives a dialog program from another process, as a person would: finds its window, reads and
// sets its controls, presses its buttons, answers its message boxes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class DialogDriver {
  public:
    DialogDriver() = default;
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    /// Starts `exe` and waits (up to 10 s) for its visible dialog with `caption`.
    bool Launch(const std::wstring& exe, const std::wstring& caption);

    HWND Window() const { return m_hDialog; }
    DWORD ProcessId() const { return m_process.dwProcessId; }

    HWND Item(int id) const { return GetDlgItem(m_hDialog, id); }
    std::wstring Text(int id) const;
    void SetText(int id, const std::wstring& text) const;
    bool Enabled(int id) const;
    bool HasTabStop(int id) const;
    int ComboIndex(int id) const;
    int ComboCount(int id) const;
    /// Selects an entry as the user would: the selection, then the change notification.
    void SelectCombo(int id, int index) const;
    /// The four fields of an IP address control (read from its edit fields; blank reads 0).
    DWORD Address(int id) const;
    void SetAddress(int id, DWORD value) const;
    /// Sets one field of an IP address control to blank.
    void BlankAddressField(int id, int field) const;

    /// Presses a button without waiting for its handler, then waits until the dialog is idle
    /// again or shows a modal box.
    void Click(int id) const;
    /// Sends a key to the control with the focus, as the keyboard would.
    void PressKey(UINT virtualKey) const;
    void SysCommand(WPARAM command) const;
    /// Waits until the dialog has handled everything posted to it so far (or runs a modal box).
    void Sync() const;

    /// A visible dialog box of the program other than the main dialog (message box, About box).
    HWND WaitForBox(int timeoutMs) const;
    std::wstring BoxTitle(HWND box) const;
    std::wstring BoxText(HWND box) const;
    /// The box's static texts and button captions, in window order.
    std::vector<std::wstring> BoxTexts(HWND box) const;
    void CloseBox(HWND box) const;
    bool BoxHasIcon(HWND box) const;

    /// True once the process has ended (waits up to timeoutMs).
    bool WaitForExit(int timeoutMs);
    void Kill();

  private:
    PROCESS_INFORMATION m_process = {};
    HWND m_hDialog = nullptr;
};

/// The PC's first IPv4 address as this process sees it (host name, then its first address):
/// the program under test seeds its fields from the same lookup. 0xFFFFFFFF when there is none.
DWORD LocalAddressOfThisPc();

/// Makes an address value from its four fields.
constexpr DWORD Ip(DWORD a, DWORD b, DWORD c, DWORD d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

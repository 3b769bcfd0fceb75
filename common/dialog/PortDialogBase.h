// The base of both programs' main dialogs: the port strip and its enabling rule, the action shape,
// the clock, the system menu and About box, painting while minimized, USB printer arrival and
// removal, and the clean-up when the dialog closes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <utility>

#include "commands/TextCheck.h"
#include "dialog/DialogIds.h"
#include "system/WinHandles.h"
#include "transport/CmdSender.h"
#include "transport/PortFactory.h"
#include "winui/Dialog.h"

/// The clock's timer.
constexpr UINT_PTR kClockTimer = 1;

/// Fills a combo box with `entries` in order and selects one.
template <std::size_t N>
void FillComboBox(HWND dialog, int id, const wchar_t* const (&entries)[N], int selected) {
    for (const wchar_t* entry : entries) {
        SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    }
    SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

/// The About box: template IDD_ABOUTBOX, closed by its OK button.
class CAboutDlg : public CDialog {
  public:
    explicit CAboutDlg(CDialog* parent = nullptr) : CDialog(IDD_ABOUTBOX, parent) {}
};

/// What both programs' CprinterDlg (template IDD_PRINTER_DIALOG) are built on. Each class below
/// it adds its controls in three places, each of which calls its base's first: its message map
/// (GetMessageMap), DoDataExchange and InitControls.
class CPortDialogBase : public CDialog {
  public:
    explicit CPortDialogBase(CDialog* parent);
    ~CPortDialogBase() override;

    // Members that every action reads (the port choice) and the notification registration.
    void* m_pNotifyFilter = nullptr;
    UniqueDevNotify m_hDevNotify;
    HICON m_hIcon = nullptr;
    int m_nPortSel = 0;
    int m_nBaudSel = 0;
    DWORD m_dwPrinterIp = 0;

  protected:
    /// System command, painting, drag icon, creation, timer, device change, port selection,
    /// Test Connect and the close button.
    const MessageMap* GetMessageMap() const override;
    /// The port strip: port index, baud index, printer address.
    void DoDataExchange(CDataExchange* pDX) override;

    /// The initialization both programs share, in this order: the base's (the template's lists,
    /// then the members into the controls), the About item, the icons, the local address lookup,
    /// InitControls with the local prefix, the notification registration, and the enabling rule
    /// for the starting port. Answers TRUE: the focus goes to the first tab stop.
    BOOL OnInitDialog() override;
    /// Fills the lists and seeds the fields of each class's controls, given the local prefix
    /// (p1.p2.p3.0); an override calls its base's first. Here: the port strip.
    virtual void InitControls(DWORD localPrefix);

    /// Enter and Esc do nothing.
    void OnOK() override {}
    void OnCancel() override {}

    /// Runs at window creation: starts the one-second clock.
    virtual LRESULT OnCreate(WPARAM wParam, LPARAM lParam);
    /// Every tick: the date and the time into the two status fields.
    virtual LRESULT OnTimer(WPARAM wParam, LPARAM lParam);
    /// Kills the clock, deletes the USB messenger, unregisters notifications, frees the filter.
    virtual void CleanUp();
    /// USB printer arrival opens, removal closes the USB messenger, if one exists.
    virtual LRESULT OnDeviceChange(WPARAM wParam, LPARAM lParam);

    LRESULT OnSysCommand(WPARAM wParam, LPARAM lParam);
    LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
    LRESULT OnQueryDragIcon(WPARAM wParam, LPARAM lParam);
    /// The one place that decides which controls are enabled: the baud rate only for COM1 and
    /// COM2, the printer address only for Ethernet, read from the port box itself; every other
    /// control keeps the enabled state of its template. Runs on every change of the port
    /// selection and once at the end of initialization.
    void OnSelchangePort();
    /// The connection-test print.
    void OnTestConnect();
    /// The close button: clean up and end the dialog (see RequestClose).
    void OnClose();
    /// Closing ("Cancel", "Cancle" or SC_CLOSE): clean up and end the dialog. While an action
    /// runs, its message box serves messages, so a close can arrive in the middle of it; it is
    /// then only noted, and carried out as soon as the action has returned: until then the
    /// action may still hold the USB messenger that the clean-up deletes.
    void RequestClose();

    /// Registers the dialog for USB printer interface arrival and removal; stores the handle.
    BOOL DoRegisterDeviceInterface(UniqueDevNotify* handle);

    /// Text that does not fit its command is refused in a message box naming the field and the
    /// limit, before any port is opened. Answers true when refused.
    bool RefuseText(CmdTextField field, const std::wstring& text);

    /// The one shape of every action, after the members have been refreshed: get a messenger
    /// for the chosen port, send one command built from `args` through it, show the failure
    /// message on a non-zero result, and release the messenger.
    template <class C, class... Args>
    void SendCommand(Args&&... args) {
        const ActionScope action(*this);
        Messenger* messenger = CreateMessenger(m_nPortSel, m_nBaudSel, m_dwPrinterIp);
        if (messenger != nullptr) {
            CmdSender sender(messenger);
            C cmd(std::forward<Args>(args)...);
            if (sender.Send(cmd) != 0) {
                ShowFailure();
            }
        }
        ReleaseMessenger(messenger);
    }

    void ShowFailure();

    /// Marks an action as running for as long as it lives; a close that arrived meanwhile is
    /// carried out when the last running action ends.
    class ActionScope {
      public:
        explicit ActionScope(CPortDialogBase& dialog) : m_dialog(dialog) { ++m_dialog.m_nActionsRunning; }
        ~ActionScope() { m_dialog.EndAction(); }
        ActionScope(const ActionScope&) = delete;
        ActionScope& operator=(const ActionScope&) = delete;

      private:
        CPortDialogBase& m_dialog;
    };

  private:
    void EndAction();

    bool m_bCleanedUp = false;
    int m_nActionsRunning = 0;
    bool m_bCloseRequested = false;
};

// The fixture both dialog programs' end-to-end tests share: the program started fresh for every
// test (with the system's heap checks on, so that memory it touches after freeing it makes it
// crash), one fake network printer on a loopback address of its own (port 9100) for the whole
// suite, and the checks and
// scenarios that both programs must pass alike.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/CapturedPort.h"
#include "tests/e2e/DialogDriver.h"
#include "tests/support/FakePrinters.h"

/// The fake network printer: a loopback address chosen per run, so that another program of the
/// machine serving TCP port 9100 (a printer emulator, another test run) cannot get in the way.
DWORD PrinterAt();
/// The address after it: nothing listens there.
DWORD NobodyAt();
constexpr int kWait = 5000;

/// A control as the program must show it. `text` null: not compared here (it changes or is
/// checked another way). `flags`: WS_TABSTOP and WS_DISABLED as they must be.
struct ExpectedControl {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    LONG flags;
};

class DialogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    /// Unless the test ended the program, it must still run: a program that ended on its own
    /// crashed or quit.
    void TearDown() override;

    /// Starts the program (a Linux path to its .exe) and waits for its dialog.
    void Launch(const char* exe, const wchar_t* caption);
    /// Port "Ethernet" at `address`.
    void UseNetworkPrinter(DWORD address = PrinterAt());
    /// Presses a button and answers the bytes of the one connection it made; no message may show.
    std::string Press(int id);
    /// Presses a button that must show exactly one message box; answers its text after closing it.
    std::wstring PressExpectingMessage(int id, const std::wstring& caption);
    /// What the system sends the dialog when a USB printer interface comes or goes.
    void DeviceChange(WPARAM event, const std::wstring& devicePath = L"");
    /// Waits until the program has ended by itself, which it must do with exit code 0.
    void ExpectEnds();

    /// The two clock fields: empty in the first second, then the local date ("%Y-%m-%d") and
    /// time ("%H:%M:%S"), moving on every second.
    void ExpectClock(int dateId, int timeId);
    /// The dialog's child windows in order against `expected`.
    void ExpectControls(const std::vector<ExpectedControl>& expected);
    /// Every entry of a combo box, in order, and the selected one.
    void ExpectComboEntries(int id, const std::vector<std::wstring>& entries, int selected);
    /// The system menu ends with a separator and "&About printer..."; choosing that item with
    /// the keyboard shows the About box with `programLine`, its OK closes it again, and the text
    /// typed into edit `editId` before is still there.
    void ExpectSystemMenuAbout(const std::wstring& programLine, int editId);

    /// USB001 and no printer: while the failure message of the action `actionId` shows, `close`
    /// asks the program to close. The program must finish the action first (keeping the dialog
    /// and the message up) and end cleanly once the message is closed.
    void CloseDuringFailureMessage(int actionId, const std::function<void()>& close);
    /// A USB printer taken into use by `actionId`; `close` ends the program, which must have let
    /// go of the printer by the time it starts to exit.
    void CloseReleasesUsbPrinter(int actionId, const std::string& serial, const std::function<void()>& close);

    static FakePrinter* printer;
    DialogDriver dlg;
    bool m_bEndExpected = false;
};

/// How many descriptors Wine holds on the fake device `name`, once some are held (`held`) or
/// none are; the last count if that does not happen within timeoutMs.
int HoldersWhen(const std::string& name, bool held, int timeoutMs = kWait);

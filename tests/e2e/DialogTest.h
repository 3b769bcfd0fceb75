// The fixture both dialog programs' end-to-end tests share: the program started fresh for every
// test, and one fake network printer on 127.0.0.2:9100 for the whole suite.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "DialogDriver.h"
#include "FakePrinters.h"

constexpr DWORD kPrinterAt = Ip(127, 0, 0, 2);  // the fake network printer
constexpr DWORD kNobodyAt = Ip(127, 0, 0, 3);   // nothing listens here
constexpr int kWait = 5000;

class DialogTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

    /// Starts the program (a Linux path to its .exe) and waits for its dialog.
    void Launch(const char* exe, const wchar_t* caption);
    /// Port "Ethernet" at `address`.
    void UseNetworkPrinter(DWORD address = kPrinterAt);
    /// Presses a button and answers the bytes of the one connection it made; no message may show.
    std::string Press(int id);
    /// Presses a button that must show exactly one message box; answers its text after closing it.
    std::wstring PressExpectingMessage(int id, const std::wstring& caption);
    /// What the system sends the dialog when a USB printer interface comes or goes.
    void DeviceChange(WPARAM event, const std::wstring& devicePath = L"");

    static FakeNetworkPrinter* printer;
    DialogDriver dlg;
};

// A thin application base over raw Win32, shaped like the classic dialog framework's: one global
// application object whose InitInstance runs the program.
#pragma once

#include <windows.h>

#include <string>

class CDialog;

class CWinApp {
  public:
    /// The one application object registers itself; there must be exactly one.
    explicit CWinApp(const wchar_t* appName = nullptr);
    virtual ~CWinApp();

    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    /// Runs the program. Answer FALSE to end the process when it returns (a dialog program
    /// answers FALSE after its modal dialog has closed); TRUE enters a message loop.
    virtual BOOL InitInstance();

    /// Remembers the registry key name under which settings would live. Nothing is read or
    /// written under it.
    void SetRegistryKey(const wchar_t* key);

    /// The application title: the name given to the constructor or, without one, the
    /// executable's file name without extension. Caption of the program's message boxes.
    const wchar_t* m_pszAppName = nullptr;
    const wchar_t* m_pszRegistryKey = nullptr;
    HINSTANCE m_hInstance = nullptr;
    CDialog* m_pMainWnd = nullptr;

    /// Called by the entry point: sets up the instance and title, then runs InitInstance.
    int Run(HINSTANCE instance);

  private:
    std::wstring m_strAppName;
    std::wstring m_strRegistryKey;
};

/// The application object.
CWinApp* AfxGetApp();

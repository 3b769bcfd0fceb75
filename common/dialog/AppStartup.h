// The start-up both programs share: common controls, the registry key name, the modal main
// dialog as the main window.
#pragma once

#include "winui/WinApp.h"

/// Initializes the common controls the dialogs use (the Win95 set and the IP address control).
void InitDialogControls();

/// Runs a program's main dialog modally as the application's main window. The instance
/// initialization then answers FALSE, so the process ends with the dialog.
template <class MainDialog>
BOOL RunMainDialog(CWinApp& app) {
    InitDialogControls();
    app.CWinApp::InitInstance();
    // Only the name is set; nothing is read or written under it.
    app.SetRegistryKey(L"Local AppWizard-Generated Applications");
    MainDialog dlg;
    app.m_pMainWnd = &dlg;
    dlg.DoModal();
    app.m_pMainWnd = nullptr;
    return FALSE;
}

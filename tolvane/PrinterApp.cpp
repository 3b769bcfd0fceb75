#include "PrinterApp.h"

#include <commctrl.h>

#include "PrinterDlg.h"

CprinterApp theApp;

BOOL CprinterApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
    // The IP address controls belong to the internet classes.
    controls.dwICC = ICC_INTERNET_CLASSES;
    InitCommonControlsEx(&controls);

    CWinApp::InitInstance();
    SetRegistryKey(L"Local AppWizard-Generated Applications");

    CprinterDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;

    // The dialog has closed: end the process instead of entering a message loop.
    return FALSE;
}

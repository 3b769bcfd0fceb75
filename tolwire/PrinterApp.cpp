#include "PrinterApp.h"

#include "AppStartup.h"
#include "PrinterDlg.h"

CprinterApp theApp;

BOOL CprinterApp::InitInstance() {
    return RunMainDialog<CprinterDlg>(*this);
}

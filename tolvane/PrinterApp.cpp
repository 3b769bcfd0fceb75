#include "tolvane/PrinterApp.h"

#include "dialog/AppStartup.h"
#include "tolvane/PrinterDlg.h"

CprinterApp theApp;

BOOL CprinterApp::InitInstance() {
    return RunMainDialog<CprinterDlg>(*this);
}

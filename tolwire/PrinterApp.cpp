#include "tolwire/PrinterApp.h"

#include "dialog/AppStartup.h"
#include "tolwire/PrinterDlg.h"

CprinterApp theApp;

BOOL CprinterApp::InitInstance() {
    return RunMainDialog<CprinterDlg>(*this);
}

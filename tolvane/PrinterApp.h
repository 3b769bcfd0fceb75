// tolvane's application object: runs the main dialog and ends the process when it closes.
#pragma once

#include "winui/WinApp.h"

class CprinterApp : public CWinApp {
  public:
    CprinterApp() = default;
    BOOL InitInstance() override;
};

extern CprinterApp theApp;

#include "dialog/AppStartup.h"

#include <commctrl.h>

void InitDialogControls() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
    // The IP address control is in the internet classes.
    controls.dwICC = ICC_INTERNET_CLASSES;
    InitCommonControlsEx(&controls);
}

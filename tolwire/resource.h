// Resource and control IDs of tolwire: the ones both programs share, and its own.
#pragma once

#include "dialog/DialogIds.h"

// Shared buttons, named for their captions here
#define IDC_PORT_TEST IDC_TEST_CONNECT
#define IDC_SAVE_PARAMETER IDC_SAVE_STATION

// The red tip label and the step-by-step instruction panel
#define IDC_TIP 1076
#define IDC_INSTRUCTIONS 1078

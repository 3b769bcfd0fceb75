// Every printer command, for programs that use the whole set.
#pragma once

#include "BtLanCmds.h"
#include "Cmd.h"
#include "FixedCmds.h"
#include "OemText.h"
#include "TextCheck.h"
#include "WifiCmds.h"

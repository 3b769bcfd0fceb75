// Every printer command, for programs that use the whole set.
#pragma once

#include "commands/BtLanCmds.h"
#include "commands/Cmd.h"
#include "commands/FixedCmds.h"
#include "commands/TextCheck.h"
#include "commands/WifiCmds.h"
#include "system/OemText.h"

// Where the console keeps its state, and how its files are written, as the platform wants it
// (ConsoleFiles_posix.cpp / ConsoleFiles_win.cpp; what all platforms share in ConsoleFiles.cpp).
#pragma once

#include <string>
#include <vector>

#include "system/UserPlaces.h"  // MakePrivateFolder

/// The console's state folder when none is given: $XDG_STATE_HOME/tolctl/console, else
/// ~/.local/state/tolctl/console; on Windows %LOCALAPPDATA%\tolctl\console. Empty when none
/// can be found (no home folder). (ConsoleFiles.cpp.)
std::string DefaultStateDir();

/// Removes the files in the folder `path` that CreateTemporaryFor or TemporaryPathFor named for a
/// process that no longer runs: left by one killed while it wrote (they may hold passwords).
void RemoveLeftTemporaries(const std::string& path);

/// The names of the files in the folder `path` (not its folders), in no particular order.
bool ListFiles(const std::string& path, std::string& problem, std::vector<std::string>& names);

/// Opens `url` in the user's web browser (xdg-open; on Windows ShellExecute). False with
/// `problem` saying why when it could not be started.
bool OpenInBrowser(const std::string& url, std::string& problem);

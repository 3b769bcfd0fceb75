// Where tolctl keeps what it keeps for the user (the console's state, the fleet record), the
// environment it is given, and who and where it runs: UserPlaces_posix / UserPlaces_win.
#pragma once

#include <string>

/// `name` in tolctl's state folder: $XDG_STATE_HOME/tolctl/NAME, else ~/.local/state/tolctl/NAME;
/// on Windows %LOCALAPPDATA%\tolctl\NAME. Empty when there is no such folder (no home folder).
std::string StatePath(const std::string& name);

/// Makes the folder `path` and those above it that are missing; the ones made are the user's
/// alone (0700). False with `problem` saying why.
bool MakePrivateFolder(const std::string& path, std::string& problem);

/// The environment variable `name` as UTF-8; false when it is not set.
bool EnvironmentValue(const std::string& name, std::string& value);

/// The user and the computer, as "user@host" ("?" for a part that cannot be found).
std::string UserAtHost();

// Whether standard error is a terminal, as each platform tells it (Terminal_posix.cpp /
// Terminal_win.cpp).
#pragma once

/// Whether standard error is a terminal, where a progress line may be drawn.
bool StderrIsTerminal();

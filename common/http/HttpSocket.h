// The listening socket of HttpServer as the platform wants it (HttpServer_posix.cpp /
// HttpServer_win.cpp).
#pragma once

#include <cstdint>

/// Prepares a listening socket before it is bound: it may be bound while old connections of its
/// port linger, and never shares the port with another listener.
void PrepareListeningSocket(uintptr_t socket);

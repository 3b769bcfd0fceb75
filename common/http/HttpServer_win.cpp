#include <winsock2.h>

#include <cstdint>

#include "http/HttpSocket.h"

void PrepareListeningSocket(uintptr_t socket) {
    // Windows binds over lingering connections anyway; SO_EXCLUSIVEADDRUSE keeps another program
    // from taking the port too (SO_REUSEADDR would allow that here).
    const BOOL yes = TRUE;
    ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<const char*>(&yes), sizeof yes);
}

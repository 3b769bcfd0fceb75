#include <sys/socket.h>

#include <cstdint>

#include "http/HttpSocket.h"

void PrepareListeningSocket(uintptr_t socket) {
    // SO_REUSEADDR only: SO_REUSEPORT would let a second program take the same port and share
    // the connections.
    const int yes = 1;
    ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

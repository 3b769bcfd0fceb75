#include <windows.h>
#include <winsock2.h>

#include "system/FileLimit.h"

size_t RaiseOpenFileLimit() {
    return 0;  // sockets and handles have no per-process limit of this kind
}

size_t OpenDescriptorCount() {
    return 0;
}

bool OutOfDescriptors(int systemError) {
    return systemError == WSAEMFILE || systemError == ERROR_TOO_MANY_OPEN_FILES;
}

#include "system/FileLimit.h"

#include <cstdint>

size_t OpenFileRoom(size_t spare, size_t& limit) {
    limit = RaiseOpenFileLimit();
    if (limit == 0) {
        return SIZE_MAX;
    }
    const size_t kept = OpenDescriptorCount() + spare;
    return limit > kept ? limit - kept : 0;
}

#include <ostream>

#include "ListenCommand.h"
#include "Tolctl.h"

// The emulator serves tests and scripts on the development machines, which run Linux.
int RunListen(const ListenOptions&, std::ostream&, std::ostream& err) {
    err << "tolctl: listen is not available in the Windows build\n";
    return kExitUsage;
}

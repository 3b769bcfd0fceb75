#include <ostream>

#include "Listener.h"
#include "Tolctl.h"

// The printer stand-in serves tests and scripts on the development machines, which run Linux.
int RunListener(const ListenOptions&, std::ostream&, std::ostream& err) {
    err << "tolctl: listen is not available in the Windows build\n";
    return kExitUsage;
}

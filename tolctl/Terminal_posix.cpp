#include <unistd.h>

#include "tolctl/Terminal.h"

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

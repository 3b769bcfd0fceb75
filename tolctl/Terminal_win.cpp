#include <io.h>

#include <cstdio>

#include "tolctl/Terminal.h"

bool StderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

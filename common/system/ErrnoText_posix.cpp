#include "system/ErrnoText.h"

std::string SystemErrorText(int code) {
    return ErrnoText(code);  // the system's codes are errno values
}

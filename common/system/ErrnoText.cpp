#include "ErrnoText.h"

#include <system_error>

std::string ErrnoText(int code) {
    // The standard library's text is strerror's, without its thread-unsafe buffer.
    std::string text = std::generic_category().message(code);
    if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && text[1] >= 'a' && text[1] <= 'z') {
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    }
    return text;
}

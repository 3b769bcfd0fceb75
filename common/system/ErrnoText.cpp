#include "system/ErrnoText.h"

namespace {

// A sentence's first letter in lower case, to sit inside another one; a word that is all
// capitals ("I/O", "WSAStartup") keeps it.
std::string InSentence(std::string text) {
    if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && text[1] >= 'a' && text[1] <= 'z') {
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    }
    return text;
}

}  // namespace

std::string ErrnoText(int code) {
    // The standard library's text is strerror's, without its thread-unsafe buffer.
    return InSentence(std::generic_category().message(code));
}

std::string ErrorCodeText(const std::error_code& code) {
    // The categories compared by address, with no call on them: an emulator out of descriptors
    // says why with this, and the sanitizers' first check of a call on a type needs a descriptor.
    if (&code.category() == &std::generic_category()) {
        return ErrnoText(code.value());
    }
    if (&code.category() == &std::system_category()) {
        return SystemErrorText(code.value());
    }
    return InSentence(code.message());
}

// What the base messenger does the same on every platform: nothing to open, close or read, and
// the record of the last failure.
#include "transport/Messenger.h"

int Messenger::Open() {
    return kMessengerFailed;
}

int Messenger::Close() {
    return kMessengerFailed;
}

int Messenger::Read(void*, int) {
    return kMessengerFailed;
}

void Messenger::KeepError(int code, const std::string& text) {
    m_nLastError = code;
    m_strLastError = text;
}

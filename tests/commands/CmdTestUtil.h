// Helpers shared by the command tests.
#pragma once

#include <string>
#include <vector>

#include "commands/Cmd.h"
#include "system/WideText.h"

using Bytes = std::vector<unsigned char>;

inline Bytes BytesOf(const Cmd& cmd) {
    return Bytes(cmd.GetData(), cmd.GetData() + cmd.GetLength());
}

inline Bytes Concat(Bytes head, const std::string& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// Wide text from UTF-8 literals, so tests read the same on every platform.
inline WideString W(const std::string& utf8) {
    WideString wide;
    Utf8ToWide(utf8, wide);
    return wide;
}

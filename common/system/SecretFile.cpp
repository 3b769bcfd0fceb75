#include "system/SecretFile.h"

#include <istream>

#include "system/Files.h"
#include "values/Values.h"

bool ReadSecretFile(const std::string& path, std::istream& in, std::string& secret, std::string& error) {
    const bool standardInput = path == "-";
    const std::string name = standardInput ? "standard input" : ShownText(path, std::string::npos);
    std::string bytes;
    if (standardInput) {
        bytes.resize(kMaxSecretBytes + 1);
        in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
        if (in.bad()) {
            error = "cannot read " + name;
            return false;
        }
        bytes.resize(static_cast<size_t>(in.gcount()));
    } else if (!ReadFileStart(path, kMaxSecretBytes + 1, bytes, error)) {
        return false;
    }
    if (bytes.size() > kMaxSecretBytes) {
        error =
            name + " is too long for a password (more than " + std::to_string(kMaxSecretBytes) + " bytes)";
        return false;
    }
    // Neither can come from a command line, and both would change the password silently: a 00
    // byte (a UTF-16 file reads as UTF-8 with one after each letter) and a byte order mark
    // (U+FEFF, which the printer's code page writes as '?').
    if (bytes.find('\0') != std::string::npos) {
        error = name + " holds a 00 byte (UTF-16?); the password file must be UTF-8 text";
        return false;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        error = name + " begins with a byte order mark; save it as UTF-8 without one";
        return false;
    }
    if (bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0) {
        bytes.resize(bytes.size() - 2);
    } else if (!bytes.empty() && bytes.back() == '\n') {
        bytes.pop_back();
    }
    // What is left must be one line: no network password holds a line end, so one here is a
    // second line (a blank line at the end, a note below the password) that would be sent with it.
    if (bytes.find_first_of("\r\n") != std::string::npos) {
        error = name + " holds more than one line; the password file must hold the password alone";
        return false;
    }
    secret = std::move(bytes);
    return true;
}

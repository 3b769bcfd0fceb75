#include "StateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "UniqueHandle.h"

void StateFile::Set(size_t index, const std::string& name, const PrinterState& state) {
    if (index >= m_entries.size()) {
        m_entries.resize(index + 1);
    }
    const auto replace = PrinterState::Json::error_handler_t::replace;
    const std::string value = state.ToJson().dump(2, ' ', false, replace);
    std::string& entry = m_entries[index];
    entry = "    " + PrinterState::Json(name).dump(-1, ' ', false, replace) + ": ";
    entry.reserve(entry.size() + value.size() + value.size() / 8);
    for (const char c : value) {
        entry += c;
        if (c == '\n') {
            entry += "    ";
        }
    }
}

int StateFile::Write() const {
    std::string text = "{\n  \"printers\": {";
    for (size_t i = 0; i < m_entries.size(); ++i) {
        text += i == 0 ? "\n" : ",\n";
        text += m_entries[i];
    }
    text += m_entries.empty() ? "}\n}\n" : "\n  }\n}\n";

    std::vector<char> temp(m_path.begin(), m_path.end());
    for (const char c : std::string(".XXXXXX")) {
        temp.push_back(c);
    }
    temp.push_back('\0');
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.Valid()) {
        return errno;
    }
    int error = 0;
    size_t done = 0;
    while (error == 0 && done < text.size()) {
        const ssize_t wrote = ::write(fd.Get(), text.data() + done, text.size() - done);
        if (wrote > 0) {
            done += static_cast<size_t>(wrote);
        } else if (wrote < 0 && errno != EINTR) {
            error = errno;
        } else if (wrote == 0) {
            error = EIO;
        }
    }
    if (error == 0 && ::fchmod(fd.Get(), 0600) != 0) {
        error = errno;
    }
    if (::close(fd.Release()) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temp.data(), m_path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.data());
    }
    return error;
}

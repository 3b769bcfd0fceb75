#include "tolctl/Output.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ostream>

#include "system/ErrnoText.h"

StdoutBuffer::int_type StdoutBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    if (std::fputc(traits_type::to_char_type(c), stdout) == EOF) {
        Failed();
        return traits_type::eof();
    }
    return c;
}

std::streamsize StdoutBuffer::xsputn(const char* data, std::streamsize count) {
    const size_t wrote = std::fwrite(data, 1, static_cast<size_t>(count), stdout);
    if (wrote != static_cast<size_t>(count)) {
        Failed();
    }
    return static_cast<std::streamsize>(wrote);
}

int StdoutBuffer::sync() {
    if (std::fflush(stdout) != 0) {
        Failed();
        return -1;
    }
    return 0;
}

void StdoutBuffer::Failed() {
    if (m_nError == 0) {
        m_nError = errno != 0 ? errno : EIO;
    }
}

bool FinishOutput(std::ostream& out, std::ostream& err) {
    out.flush();
    if (out) {
        return true;
    }
    const auto* buffer = dynamic_cast<const StdoutBuffer*>(out.rdbuf());
    err << "tolctl: cannot write the output";
    if (buffer != nullptr && buffer->Error() != 0) {
        err << ": " << ErrnoText(buffer->Error());
    }
    err << '\n';
    return false;
}

std::string Counted(size_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

void ShowProblems(const std::vector<std::string>& problems, std::ostream& err) {
    constexpr size_t kMaxShown = 20;
    for (size_t i = 0; i < problems.size() && i < kMaxShown; ++i) {
        err << "tolctl: " << problems[i] << '\n';
    }
    if (problems.size() > kMaxShown) {
        err << "tolctl: ... and " << problems.size() - kMaxShown << " more problems\n";
    }
}

void PrintColumns(const std::vector<std::vector<std::string>>& rows, std::ostream& out) {
    if (rows.empty()) {
        return;
    }
    const size_t last = rows[0].size() - 1;
    std::vector<size_t> widths(last, 0);
    for (const auto& row : rows) {
        for (size_t column = 0; column < last; ++column) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t column = 0; column < last; ++column) {
            line += row[column] + std::string(widths[column] - row[column].size() + 2, ' ');
        }
        line += row[last];
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out << line << '\n';
    }
}

#include "system/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <random>
#include <utility>

#include "system/ErrnoText.h"
#include "system/WideText.h"
#include "values/Values.h"

bool ReadFileStart(const std::string& path, size_t limit, std::string& bytes, std::string& error) {
    const std::string name = ShownText(path, std::string::npos);
    std::FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        error = "cannot read " + name + ": " + ErrnoText(errno);
        return false;
    }
    // Read into room that grows with what comes: a small file of a large limit (16 MiB for
    // targets) never costs the whole limit.
    std::string content;
    size_t got = 0;
    for (bool more = true; more && got < limit;) {
        content.resize(std::min(limit, std::max<size_t>(2 * got, 64 * 1024)));
        const size_t want = content.size() - got;
        const size_t read = std::fread(&content[got], 1, want, file);
        got += read;
        more = read == want;
    }
    const int code = errno;
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = "cannot read " + name + ": " + ErrnoText(code);
        return false;
    }
    content.resize(got);
    bytes = std::move(content);
    return true;
}

bool ReadFileBytes(const std::string& path, size_t maxBytes, std::string& bytes, std::string& error) {
    std::string content;
    if (!ReadFileStart(path, maxBytes + 1, content, error)) {
        return false;
    }
    if (content.size() > maxBytes) {
        error = ShownText(path, std::string::npos) + " is larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    bytes = std::move(content);
    return true;
}

std::string TemporaryNameFor(const std::string& path) {
    static const char kCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;  // the system's source (getrandom, RtlGenRandom)
    std::string name = TemporaryPathFor(path) + "-";
    for (int i = 0; i < 6; ++i) {
        name += kCharacters[random() % (sizeof kCharacters - 1)];
    }
    return name;
}

std::FILE* CreateTemporaryFor(const std::string& path, bool secret, std::string& created) {
    // Another name when one is taken (by a file left behind, or one made to be in the way).
    for (int tries = 0; tries < 100; ++tries) {
        const std::string name = TemporaryNameFor(path);
        if (std::FILE* file = OpenNewFile(name, secret)) {
            created = name;
            return file;
        }
        if (errno != EEXIST) {
            return nullptr;
        }
    }
    return nullptr;
}

uint64_t TemporaryFileProcess(const std::string& name) {
    const size_t mark = name.rfind(".tmp-");
    if (mark == 0 || mark == std::string::npos) {
        return 0;
    }
    size_t at = mark + 5;
    uint64_t id = 0;
    for (; at < name.size() && at < mark + 15 && name[at] >= '0' && name[at] <= '9'; ++at) {
        id = id * 10 + static_cast<uint64_t>(name[at] - '0');
    }
    const auto random = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    };
    const bool suffix = name.size() == at + 7 && name[at] == '-' &&
                        std::all_of(name.begin() + static_cast<std::ptrdiff_t>(at) + 1, name.end(), random);
    return at > mark + 5 && (at == name.size() || suffix) ? id : 0;
}

std::string FileLabel(const std::string& path) {
    const std::string shown = ShownText(path, std::string::npos);
    return shown.substr(1, shown.size() - 2);
}

std::string PathBeside(const std::string& file, const std::string& path) {
    if (path.empty() || path == "-" || IsRootedPath(path)) {
        return path;
    }
    const size_t slash = file.find_last_of(kPathSeparators);
    return slash == std::string::npos ? path : file.substr(0, slash + 1) + path;
}
int WriteFileWholeFrom(const std::string& path,
                       const std::function<bool(std::string& piece, int& error)>& produce,
                       bool secret) {
    std::string temporary;
    std::FILE* file = CreateTemporaryFor(path, secret, temporary);
    if (file == nullptr) {
        return errno != 0 ? errno : EIO;
    }
    int error = 0;
    for (std::string piece; produce(piece, error);) {
        if (std::fwrite(piece.data(), 1, piece.size(), file) != piece.size()) {
            error = errno != 0 ? errno : EIO;
            break;
        }
    }
    return FinishFileWhole(file, temporary, path, error);
}

int FinishFileWhole(std::FILE* file, const std::string& temporary, const std::string& path, int error) {
    if (error == 0 && !SyncFile(file)) {
        error = errno != 0 ? errno : EIO;
    }
    if (std::fclose(file) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (error == 0 && !PutFileInPlace(temporary, path)) {
        error = errno != 0 ? errno : EIO;
    }
    if (error != 0) {
        RemoveFile(temporary);
    }
    return error;
}

int WriteFileWhole(const std::string& path, const std::string& bytes, bool secret) {
    bool given = false;
    return WriteFileWholeFrom(
        path,
        [&](std::string& piece, int&) {
            piece = given ? std::string() : bytes;
            return !std::exchange(given, true);
        },
        secret);
}

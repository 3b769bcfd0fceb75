#include "Files.h"

#include <cerrno>

#include "ErrnoText.h"
#include "Values.h"
#include "WideText.h"

std::FILE* OpenFile(const std::string& path, const char* mode) {
#ifdef _WIN32
    WideString wide;
    WideString wideMode;
    if (!Utf8ToWide(path, wide) || !Utf8ToWide(mode, wideMode)) {
        errno = EINVAL;
        return nullptr;
    }
    std::FILE* file = nullptr;
    const errno_t code = _wfopen_s(&file, wide.c_str(), wideMode.c_str());
    if (code != 0) {
        errno = code;
        return nullptr;
    }
    return file;
#else
    return std::fopen(path.c_str(), mode);
#endif
}

bool ReadFileStart(const std::string& path, size_t limit, std::string& bytes, std::string& error) {
    const std::string name = ShownText(path, std::string::npos);
    std::FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        error = "cannot read " + name + ": " + ErrnoText(errno);
        return false;
    }
    std::string content(limit, '\0');
    const size_t got = limit == 0 ? 0 : std::fread(&content[0], 1, content.size(), file);
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

std::string FileLabel(const std::string& path) {
    const std::string shown = ShownText(path, std::string::npos);
    return shown.substr(1, shown.size() - 2);
}

std::string PathBeside(const std::string& file, const std::string& path) {
    if (path.empty() || path == "-" || path[0] == '/') {
        return path;
    }
#ifdef _WIN32
    // "\\server\share", "\folder" and "C:..." do not depend on the current folder alone.
    if (path[0] == '\\' || (path.size() >= 2 && path[1] == ':')) {
        return path;
    }
    const size_t slash = file.find_last_of("/\\");
#else
    const size_t slash = file.find_last_of('/');
#endif
    return slash == std::string::npos ? path : file.substr(0, slash + 1) + path;
}

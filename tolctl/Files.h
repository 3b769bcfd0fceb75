// Files tolctl reads and writes, named in UTF-8 on every platform.
#pragma once

#include <cstdio>
#include <string>

/// Opens `path` (UTF-8) with the C `mode` ("rb", "wb"); null with errno set on failure.
std::FILE* OpenFile(const std::string& path, const char* mode);

/// The system's text for an errno value, in lower case to sit inside a sentence.
std::string FileErrorText(int code);

/// Reads the first `limit` bytes of `path` (all of it when shorter). On failure false, with
/// `error` naming the file and the reason ("cannot read 'x.json': no such file or directory").
bool ReadFileStart(const std::string& path, size_t limit, std::string& bytes, std::string& error);

/// Reads all of `path` as bytes, at most `maxBytes`. On failure false, with `error` naming the
/// file and the reason ("cannot read 'x.json': no such file or directory", "'x.json' is larger
/// than 1048576 bytes").
bool ReadFileBytes(const std::string& path, size_t maxBytes, std::string& bytes, std::string& error);

/// A file's name as the start of a message ("shop.json: ..."): whole, control characters escaped.
std::string FileLabel(const std::string& path);

/// `path` as seen from the folder of `file`: a relative path is taken beside `file`, an absolute
/// one (or "-") is left as it is.
std::string PathBeside(const std::string& file, const std::string& path);

/// True when `a` and `b` name one existing file, however each is written (a link, another
/// folder's path to it): the same device and inode, on Windows the same volume and file index.
bool SameFile(const std::string& a, const std::string& b);

// Files the tools read and write, named in UTF-8 on every platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

/// Opens `path` (UTF-8) with the C `mode` ("rb", "wb"); null with errno set on failure.
std::FILE* OpenFile(const std::string& path, const char* mode);

/// The file that a new `path` is written to before it takes the old one's place: beside it, named
/// after this process ("report.json.tmp-4711").
std::string TemporaryPathFor(const std::string& path);

/// TemporaryPathFor(path) and six random characters of A-Z a-z 0-9 ("report.json.tmp-4711-k3Jq9x"):
/// a name beside `path` that no one can know before.
std::string TemporaryNameFor(const std::string& path);

/// Opens `path` for writing ("wb") as a file made anew: fails with errno EEXIST when anything is
/// there, a link included (POSIX O_CREAT, O_EXCL and O_NOFOLLOW; Windows CREATE_NEW). `secret`:
/// readable by the user alone (POSIX 0600), else as the umask leaves a new file. Null with errno
/// set on failure.
std::FILE* OpenNewFile(const std::string& path, bool secret);

/// Makes the file that a new `path` is written to before it takes the old one's place: a new
/// file (OpenNewFile) named TemporaryNameFor(path). Its name in `created`; null with errno set on
/// failure.
std::FILE* CreateTemporaryFor(const std::string& path, bool secret, std::string& created);

/// The number of the process that named the file `name` (no folder) with TemporaryPathFor or
/// CreateTemporaryFor ("printers.json.tmp-4711", "x.json.tmp-4711-k3Jq9x"); 0 for another name.
uint64_t TemporaryFileProcess(const std::string& name);

/// Whether the process `id` runs on this computer (also when it is another user's).
bool ProcessRuns(uint64_t id);

/// A scratch file for reading and writing ("w+b") beside `path` that no one else sees and that
/// never outlives the process: removed as soon as it is open (POSIX), or when it is closed
/// (Windows). Null with errno set on failure.
std::FILE* OpenScratchFileBeside(const std::string& path);

/// Writes the file `path` whole and in one step: its bytes go to a new file beside it
/// (CreateTemporaryFor), which is flushed to the disk and then takes the old file's place, so that
/// a crash leaves the old file or the new one, never a part. With `secret` the file is the user's
/// alone (0600). Answers 0, or the errno of what failed; the new file is removed then.
int WriteFileWhole(const std::string& path, const std::string& bytes, bool secret);

/// The same for a file written a piece at a time, each piece as `produce` gives it until it
/// answers false, so that a large one is never whole in memory; `produce` may fail the write by
/// answering false with a non-zero `error`.
int WriteFileWholeFrom(const std::string& path,
                       const std::function<bool(std::string& piece, int& error)>& produce,
                       bool secret);

/// The last step of writing a file whole: flushes `file` (a temporary made by CreateTemporaryFor
/// for `path`) to the disk, closes it and puts it in the place of `path`. `error`: the errno of a
/// write that failed before, or 0. Answers 0, or the errno of what failed; the temporary is
/// removed then.
int FinishFileWhole(std::FILE* file, const std::string& temporary, const std::string& path, int error);

/// Puts the file `from` in the place of `to` in one step: `to` is the old file or the new one,
/// never a part of either. False with errno set on failure.
bool PutFileInPlace(const std::string& from, const std::string& to);

/// Removes the file `path`; false with errno set on failure.
bool RemoveFile(const std::string& path);

/// Moves to byte `offset` of `file` (also beyond 2 GiB); false with errno set on failure.
bool SeekFile(std::FILE* file, uint64_t offset);

/// Writes what `file` holds in its buffer and asks the system to keep it on the disk; false with
/// errno set on failure.
bool SyncFile(std::FILE* file);

/// Reads the first `limit` bytes of `path` (all of it when shorter). On failure false, with
/// `error` naming the file and the reason ("cannot read 'x.json': no such file or directory").
bool ReadFileStart(const std::string& path, size_t limit, std::string& bytes, std::string& error);

/// Reads all of `path` as bytes, at most `maxBytes`. On failure false, with `error` naming the
/// file and the reason ("cannot read 'x.json': no such file or directory", "'x.json' is larger
/// than 1048576 bytes").
bool ReadFileBytes(const std::string& path, size_t maxBytes, std::string& bytes, std::string& error);

/// A file's name as the start of a message ("shop.json: ..."): whole, control characters escaped.
std::string FileLabel(const std::string& path);

/// Whether `path` names its file without the current folder: "/x" (on Windows also "\\x",
/// "C:x" and "\\\\server\\share").
bool IsRootedPath(const std::string& path);

/// The characters that end a folder's name in a path: "/" (on Windows also "\\").
extern const char kPathSeparators[];

/// `path` as seen from the folder of `file`: a relative path is taken beside `file`, an absolute
/// one (or "-") is left as it is.
std::string PathBeside(const std::string& file, const std::string& path);

/// True when `a` and `b` name one existing file, however each is written (a link, another
/// folder's path to it): the same device and inode, on Windows the same volume and file index.
bool SameFile(const std::string& a, const std::string& b);

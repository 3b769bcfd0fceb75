#include "system/Files.h"
#include "system/WideText.h"
#include "system/WinHandles.h"

namespace {

// The volume and file index of `path`; false when it cannot be opened (it does not exist).
bool FileIndex(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    WideString wide;
    if (!Utf8ToWide(path, wide)) {
        return false;
    }
    // No access asked for: the file is only looked at, even when another program holds it.
    // FILE_FLAG_BACKUP_SEMANTICS lets a folder be opened too.
    const UniqueKernelHandle file(CreateFileW(wide.c_str(), 0,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.Valid() && GetFileInformationByHandle(file.Get(), &info) != 0;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION first{};
    BY_HANDLE_FILE_INFORMATION second{};
    return FileIndex(a, first) && FileIndex(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

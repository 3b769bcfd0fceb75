// How many files and sockets this process may have open, for the jobs that hold many at once
// (apply, status, the emulator): one check of the room there is, OpenFileRoom.
#pragma once

#include <cstddef>

/// Raises this process's soft limit of open files to its hard limit, as far as the system lets
/// it, and answers the limit then in force; 0 where the system sets no such limit (Windows).
size_t RaiseOpenFileLimit();

/// How many files and sockets this process has open now; 0 where that is not known.
size_t OpenDescriptorCount();

/// True when `systemError` (a messenger's LastError) says that this process or the system had no
/// room for one more file or socket: nothing reached the port, and it may be tried again once
/// others are closed.
bool OutOfDescriptors(int systemError);

/// How many more files and sockets this process may open now, keeping `spare` of them free
/// besides what it has open: its limit (raised first, RaiseOpenFileLimit) less what is open and
/// `spare`, 0 when that leaves none. `limit` is set to the limit; where the system sets none it
/// is 0 and the room has no bound (SIZE_MAX).
size_t OpenFileRoom(size_t spare, size_t& limit);

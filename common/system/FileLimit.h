// How many files and sockets this process may have open, for the jobs that hold many at once.
#pragma once

#include <cstddef>

/// Files a run of many jobs keeps free besides its jobs' sockets and devices and what it had open
/// at the start (a report, its scratch file, a state file).
constexpr size_t kSpareDescriptors = 16;

/// Raises this process's soft limit of open files to its hard limit, as far as the system lets
/// it, and answers the limit then in force; 0 where the system sets no such limit (Windows).
size_t RaiseOpenFileLimit();

/// How many files and sockets this process has open now; 0 where that is not known.
size_t OpenDescriptorCount();

/// True when `systemError` (a messenger's LastError) says that this process or the system had no
/// room for one more file or socket: nothing reached the port, and it may be tried again once
/// others are closed.
bool OutOfDescriptors(int systemError);

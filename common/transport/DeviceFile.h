// Ports named by a device's name or path (serial:DEVICE, parallel:DEVICE, usb:DEVICE): whether
// the name leads to a device at all, and one identity for every name of one device. Platform
// code (DeviceFile_posix / _win).
//
// A port opens only a device: on POSIX a character device or a FIFO, on Windows a character
// device or a pipe. Anything else (a regular file, a folder, a disk) is refused twice: before
// anything is sent (NotADevice on the name: a usage error) and on the very handle that was opened,
// before the first byte is written (NotADevice on the handle), so that a file put in a device's
// place between the two is still never written.
#pragma once

#include <string>

#ifdef _WIN32
#include "system/WinHandles.h"
#endif

/// Why the port `device` must not be opened: "'/tmp/x' is a regular file, not a device"; empty
/// when it is a device, when nothing is there (opening it says why), and on Windows when it is a
/// DOS device's name without a path ("COM3", "LPT4:"), which leads to a device by its kind. Nothing
/// is written: POSIX looks at the name (stat), Windows opens a path for no access to see its kind.
std::string NotADevice(const std::string& device);

/// The same for what an open of `device` gave, before anything is written to it.
#ifdef _WIN32
std::string NotADevice(HANDLE opened, const std::string& device);
#else
std::string NotADevice(int opened, const std::string& device);
#endif

/// One text for every name of one device, to tell when two ports are one: on POSIX by the device
/// number ("/dev/pts/0", "/dev//pts/0", "/dev/./pts/0" and a link to it are one; a FIFO by its
/// file), or where nothing is there, the path with "//" and "/./" taken out. On Windows the DOS
/// name in capitals without "\\.\", "\\?\" or a trailing colon ("\\.\com3" and "COM3:" are
/// "COM3"), other paths in their full form, in capitals.
std::string DeviceIdentity(const std::string& device);

#ifdef _WIN32
/// The path a device's name is opened by: "COM3" becomes "\\.\COM3", which also reaches ports
/// above COM9; a device path ("\\.\COM3", "//./COM3") or a DOS device with its colon ("COM1:")
/// stays as it is.
std::wstring DevicePath(const std::string& device);
#endif

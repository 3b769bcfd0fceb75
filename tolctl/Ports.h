// `tolctl ports`: the printer ports of this computer, with the --port URI of each.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

struct LocalPort {
    std::string uri;          // what --port takes to reach it
    std::string description;  // a few words: what kind of port, and what the system calls it
};

/// The printer ports this system has, USB printers first, then parallel and serial ports, each
/// kind in number order. Platform code (Ports_posix / Ports_win).
/// POSIX: /dev/usb/lp* (the USB search's folder, TOL_USB_DIR), /dev/lp*, /dev/ttyUSB*, /dev/ttyACM*
/// and the /dev/ttyS* that the kernel found a serial port behind. TOL_DEV_DIR stands for /dev and
/// TOL_SYS_DIR for /sys, so that tests can offer their own devices.
/// Windows: the USB printers the USB search finds, and the COM and LPT ports the system has.
std::vector<LocalPort> FindLocalPorts();

/// Prints one line per port (the URI, then its description), or with format "json" an array of
/// {"uri", "description"}. "no printer port found" on `err` when there is none. Answers tolctl's
/// exit code: 0, or 2 for a bad format.
int RunPorts(const std::string& format, std::ostream& out, std::ostream& err);

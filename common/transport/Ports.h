// The printer ports of this computer, each with the port URI that reaches it.
#pragma once

#include <string>
#include <vector>

/// One port of this computer.
struct LocalPort {
    std::string uri;          // the port URI (PortUri.h) that reaches it
    std::string description;  // a few words: what kind of port, and what the system calls it
};

/// The printer ports this system has, USB printers first, then parallel and serial ports, each
/// kind in number order. Platform code (Ports_posix / Ports_win).
/// POSIX: /dev/usb/lp* (the USB search's folder, TOL_USB_DIR), /dev/lp*, /dev/ttyUSB*, /dev/ttyACM*
/// and the /dev/ttyS* that the kernel found a serial port behind. TOL_DEV_DIR stands for /dev and
/// TOL_SYS_DIR for /sys, so that tests can offer their own devices.
/// Windows: the USB printers the USB search finds, and the COM and LPT ports the system has.
std::vector<LocalPort> FindLocalPorts();

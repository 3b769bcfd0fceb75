// Ports named as text (tolctl's --port, apply's targets): what each names, and the address of a host.
#pragma once

#include <cstdint>
#include <string>

/// A parsed --port value.
///   socket://HOST[:PORT]      TCP, port 9100 unless given (decimal); HOST an IPv4 address as
///                             four decimal fields, or a host name (never numeric shorthand)
///   A.B.C.D[:PORT]            the same as socket://A.B.C.D[:PORT]
///   serial:DEVICE[?baud=N]    a serial device at a rate of BaudRates.h
///   parallel:DEVICE           a parallel (lp) device
///   usb:  or  usb:DEVICE      the USB printer found by the search, or that device
///   USB001, LPT1-LPT3, COM1, COM2 (Windows names: the dialogs' port indexes 0-5)
struct PortUri {
    enum class Kind { Socket, Serial, Parallel, Usb, PortIndex };

    Kind kind = Kind::Socket;
    std::string host;    // Socket
    int tcpPort = 9100;  // Socket
    std::string device;  // Serial, Parallel, Usb (empty for the search)
    int baud = 0;        // Serial: from ?baud=, 0 when not given
    int portIndex = -1;  // PortIndex: 0 USB001, 1-3 LPT1-3, 4-5 COM1-2
};

#ifdef _WIN32
constexpr bool kWindowsPortNames = true;
#else
constexpr bool kWindowsPortNames = false;
#endif

/// Parses `text`; on failure answers false with `error` saying what is wrong. The Windows port
/// names are accepted only when `windowsNames` is set, and usb:DEVICE only when it is not.
bool ParsePortUri(const std::string& text, bool windowsNames, PortUri& uri, std::string& error);

/// The printer `uri` leads to as the fleet record names it, one text for every way of writing the
/// port: "socket://HOST:PORT" (an address as four decimal fields, a host name in lower case, the
/// TCP port always given), "serial:DEVICE" (without its baud rate), "parallel:DEVICE", "usb:" or
/// "usb:DEVICE", and on Windows "USB001", "LPT1"-"LPT3", "COM1", "COM2".
std::string PrinterName(const PortUri& uri);

/// The TCP port after "socket://HOST:": decimal 1-65535; on failure false with `error` saying why.
bool ParseTcpPort(const std::string& text, int& port, std::string& error);

/// The position of `baud` in the baud-rate table (0-4), or -1.
int BaudIndex(int baud);

/// The baud rates as help and messages list them: "9600, 19200, 38400, 57600 or 115200", each
/// after the first preceded by `separator`, the last by `last`.
std::string BaudRatesText(const char* separator = ", ", const char* last = " or ");

/// The Windows names of the dialogs' ports by port index (PortFactory.h), Ethernet aside.
constexpr const char* kPortIndexNames[] = {"USB001", "LPT1", "LPT2", "LPT3", "COM1", "COM2"};

/// The names of port indexes `from` to `to` as help and messages list them, three or more of one
/// kind as a range: "USB001, LPT1-LPT3, COM1, COM2"; the last preceded by `last`.
std::string PortIndexNamesText(int from, int to, const char* separator = ", ", const char* last = ", ");

/// An IPv4 address of four decimal fields, or a host name resolved to its first IPv4 address.
/// Text that CheckHost refuses never reaches the resolver.
bool ResolveIpv4(const std::string& host, uint32_t& address, std::string& error);

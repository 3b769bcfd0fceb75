// Which printers the emulator stands in for, how each of them misbehaves and what condition it
// reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// How a virtual printer treats connections (--fault ADDRESS=KIND).
struct PrinterFault {
    enum class Kind {
        None,
        Refuse,  // the address is not listened on: connections are refused
        Reset,   // connections are accepted and reset at once, nothing is read
        Stall,   // listened on with a full backlog and never accepted: connects time out
        Slow,    // connections are accepted, and read only `slowMs` later
        // Devices that say more than they are asked, for trying the status exchange:
        Surplus,  // each status answer comes with two more bytes, 16 16
        Flood,    // sends 16 16 16 ... without end from the connect on, and nothing else
        Banner,   // sends a line of text (kEmulatorBanner) first, then serves as a good printer
    };
    Kind kind = Kind::None;
    int slowMs = 0;
};

/// What a virtual printer reports to the status request (--condition ADDRESS=KIND; the answers
/// are in Conditions.h).
enum class PrinterCondition : uint8_t {
    None,
    PaperNearEnd,
    PaperEnd,
    CoverOpen,
    CutterError,
    Offline,
};

/// What a printer with the banner fault sends as it takes a connection.
constexpr char kEmulatorBanner[] = "ready\r\n";

/// One address that the emulator stands in for.
struct PlannedPrinter {
    uint32_t address = 0;
    PrinterFault fault;
    PrinterCondition condition = PrinterCondition::None;
};

/// The index of `address` in `printers` (in address order), or printers.size() when it is not
/// among them.
size_t FindPrinter(const std::vector<PlannedPrinter>& printers, uint32_t address);

/// The printers of `--bind BIND` (an address, range or network) with the faults given as
/// ADDRESS=refuse|reset|stall|slow:MS|surplus|flood|banner (ADDRESS an address, range or network within BIND;
/// MS 1-600000). An address may have one fault. On failure answers false with `error` naming
/// the option and what is wrong.
bool PlanPrinters(const std::string& bind,
                  const std::vector<std::string>& faults,
                  std::vector<PlannedPrinter>& printers,
                  std::string& error);

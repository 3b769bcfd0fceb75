#include "emulator/Faults.h"

#include <algorithm>

#include "values/AddressRange.h"
#include "values/Values.h"

namespace {

bool ParseFaultKind(const std::string& text, PrinterFault& fault, std::string& error) {
    static const struct {
        const char* name;
        PrinterFault::Kind kind;
    } kKinds[] = {{"refuse", PrinterFault::Kind::Refuse}, {"reset", PrinterFault::Kind::Reset},
                  {"stall", PrinterFault::Kind::Stall},   {"surplus", PrinterFault::Kind::Surplus},
                  {"flood", PrinterFault::Kind::Flood},   {"banner", PrinterFault::Kind::Banner}};
    for (const auto& known : kKinds) {
        if (text == known.name) {
            fault.kind = known.kind;
            return true;
        }
    }
    if (text.compare(0, 5, "slow:") == 0) {
        int64_t ms = 0;
        std::string problem;
        if (!ParseDecimal(text.substr(5), 1, 600000, ms, problem)) {
            error = "slow:MS: milliseconds " + problem;
            return false;
        }
        fault.kind = PrinterFault::Kind::Slow;
        fault.slowMs = static_cast<int>(ms);
        return true;
    }
    error = ShownText(text) + " is not refuse, reset, stall, slow:MS, surplus, flood or banner";
    return false;
}

}  // namespace

size_t FindPrinter(const std::vector<PlannedPrinter>& printers, uint32_t address) {
    const auto at = std::lower_bound(printers.begin(), printers.end(), address,
                                     [](const PlannedPrinter& p, uint32_t a) { return p.address < a; });
    return at != printers.end() && at->address == address ? static_cast<size_t>(at - printers.begin())
                                                          : printers.size();
}

bool PlanPrinters(const std::string& bind,
                  const std::vector<std::string>& faults,
                  std::vector<PlannedPrinter>& printers,
                  std::string& error) {
    printers.clear();
    std::vector<uint32_t> addresses;
    if (!ParseAddressRange(bind, addresses, error)) {
        error = "--bind: " + error;
        return false;
    }
    for (const uint32_t address : addresses) {
        printers.push_back({address, PrinterFault(), PrinterCondition::None});
    }
    std::vector<bool> faulted(printers.size());
    for (const std::string& text : faults) {
        const size_t equals = text.find('=');
        PrinterFault fault;
        std::vector<uint32_t> chosen;
        std::string problem;
        if (equals == std::string::npos) {
            error = "--fault: " + ShownText(text) +
                    " is not ADDRESS=refuse|reset|stall|slow:MS|surplus|flood|banner";
            return false;
        }
        if (!ParseAddressRange(text.substr(0, equals), chosen, problem) ||
            !ParseFaultKind(text.substr(equals + 1), fault, problem)) {
            error = "--fault: " + problem;
            return false;
        }
        for (const uint32_t address : chosen) {
            const size_t index = FindPrinter(printers, address);
            if (index == printers.size()) {
                error = "--fault: " + FormatAddress(address) + " is not among the --bind addresses";
                return false;
            }
            if (faulted[index]) {
                error = "--fault: " + FormatAddress(address) + " is given two faults";
                return false;
            }
            faulted[index] = true;
            printers[index].fault = fault;
        }
    }
    if (std::all_of(printers.begin(), printers.end(),
                    [](const PlannedPrinter& p) { return p.fault.kind == PrinterFault::Kind::Refuse; })) {
        error = "--fault: every --bind address refuses; nothing would be listened on";
        return false;
    }
    return true;
}

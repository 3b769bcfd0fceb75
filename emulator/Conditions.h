// What the emulator's printers report to the status request: the condition each is in
// (--condition ADDRESS=KIND, --conditions-file FILE) and the answer bytes that tell it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/Faults.h"

/// The byte a printer in `condition` answers to DLE EOT n, or -1 when it gives none.
int StatusAnswer(PrinterCondition condition, unsigned char n);

/// "none", "paper-near-end", "paper-end", "cover-open", "cutter-error" or "offline".
const char* ConditionName(PrinterCondition condition);

/// Sets the conditions given as ADDRESS=KIND (ADDRESS an address, range or network among
/// `printers`; KIND a ConditionName) on `printers`, which are in address order. An address may
/// have one condition. On failure answers false with `error` naming the option and what is wrong.
bool PlanConditions(const std::vector<std::string>& conditions,
                    std::vector<PlannedPrinter>& printers,
                    std::string& error);

/// Reads the conditions file at `path` and sets its conditions on `printers` (in address order)
/// over those they have: lines ADDRESS=KIND as --condition takes them, KIND also "none", blank
/// lines and lines that begin with '#' (after spaces) skipped, a later line over an earlier one.
/// On failure answers false with `error` naming the file and, for a bad line, its number
/// ("conditions.txt line 3: ..."); `printers` may then be changed in part.
bool ReadConditionsFile(const std::string& path, std::vector<PlannedPrinter>& printers, std::string& error);

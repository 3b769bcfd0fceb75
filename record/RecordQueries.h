// What the record answers: each printer's last values and status, a printer's history, the
// roll-outs and one roll-out's printers. Each query reads one consistent state of the record
// (other processes may be writing it) and hands its rows to a callback as they are read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "record/Record.h"

/// A printer's last value of one setting, and its last status.
struct PrinterSettingRow {
    std::string printer;
    std::string setting;  // empty for a printer that was only read (status), never sent anything
    std::string value;    // the value; for a secret its fingerprint
    bool secret = false;
    int64_t sentMs = 0;    // when it was sent; 0 when it never was with success (only failed)
    std::string rollout;   // the uuid of the roll-out that sent it
    int64_t failedMs = 0;  // a later send of the setting failed then; 0 when none did
    std::string state;     // its last status ("ok", "offline", ...); empty when never read
    std::string conditions;
    int64_t statusMs = 0;
};

/// One command sent to a printer.
struct HistoryRow {
    std::string rollout;  // uuid
    int64_t seq = 0;
    std::string printer, setting, value;
    bool secret = false;
    SendResult result = SendResult::InFlight;
    std::string error;
    int64_t timeMs = 0;
};

/// One change of a printer's status.
struct StatusRow {
    std::string printer, state, conditions;
    int64_t timeMs = 0;
};

/// One roll-out.
struct RolloutRow {
    std::string uuid, kind;
    int64_t startMs = 0;
    int64_t endMs = 0;  // 0 while it runs, or when its process ended before it did
    std::string userHost, version, profile, digest;
    std::string options;  // a JSON object's text
    std::string counts;   // a JSON object's text; empty until it ended
};

/// One printer of a roll-out: its commands by result.
struct RolloutPrinterRow {
    std::string printer;
    std::string result;  // "ok" (every command sent), "failed", "interrupted", "in-flight"
    int64_t sent = 0, failed = 0, notSent = 0, interrupted = 0, inFlight = 0;
    std::string error;   // the failed command's
    int64_t lastMs = 0;  // its last command's time
};

/// For each printer (all of them, in the order the record first met them, when `printers` is
/// empty; else those of `printers` that the record knows, in that order) the last value of each
/// setting, by setting, and its last status. False with `problem` when the record cannot be read.
bool QueryPrinters(Record& record,
                   const std::vector<std::string>& printers,
                   const std::function<void(const PrinterSettingRow&)>& row,
                   std::string& problem);

/// Everything sent to `printer`, newest first.
bool QueryHistory(Record& record,
                  const std::string& printer,
                  const std::function<void(const HistoryRow&)>& row,
                  std::string& problem);

/// The changes of `printer`'s status, newest first.
bool QueryStatusHistory(Record& record,
                        const std::string& printer,
                        const std::function<void(const StatusRow&)>& row,
                        std::string& problem);

/// Every roll-out, oldest first.
bool QueryRollouts(Record& record, const std::function<void(const RolloutRow&)>& row, std::string& problem);

/// The roll-out whose uuid is `id` or begins with it (4 characters at least). False with
/// `problem` when none or several are, or the record cannot be read; `refused` tells which.
bool FindRollout(Record& record,
                 const std::string& id,
                 RolloutRow& found,
                 bool& refused,
                 std::string& problem);

/// The printers of roll-out `uuid`, in the order they were first sent to.
bool QueryRolloutPrinters(Record& record,
                          const std::string& uuid,
                          const std::function<void(const RolloutPrinterRow&)>& row,
                          std::string& problem);

// The printer's real-time status: the one-byte answers to the status request DLE EOT n
// (10 04 n, n = 1-4), the conditions they report and the state those add up to. Pure: no port.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

/// The requests asked, n = 1-4: printer, offline cause, error cause, roll paper sensor.
constexpr int kStatusRequestCount = 4;

/// The three bytes of the status request DLE EOT n.
std::array<unsigned char, 3> StatusRequestBytes(int n);

/// Every request of one status exchange as hex, "10 04 01 10 04 02 10 04 03 10 04 04": what a
/// dry run shows.
std::string StatusRequestsText();

/// True for a byte that a printer answers a status request with: bits 1 and 4 set, bits 0 and
/// 7 clear. Anything else (or -1, no byte) is not a status answer.
bool IsStatusAnswer(int byte);

/// What a printer is, the first that applies in this order.
enum class StatusState : uint8_t {
    Unreachable,  // its port could not be opened or connected
    NoAnswer,     // an answer did not come within the time allowed
    NotAPrinter,  // a byte came back that is not a status answer
    Error,        // error, recoverable-error, cutter-error, unrecoverable-error, auto-recoverable-error
    Offline,
    Warning,  // paper-near-end, paper-end, cover-open, waiting-online-recovery
    Ok,
};

/// "unreachable", "no-answer", "not-a-printer", "error", "offline", "warning" or "ok".
const char* StatusStateName(StatusState state);

/// Ok and Warning: the printer prints.
inline bool StatusStateGood(StatusState state) {
    return state == StatusState::Ok || state == StatusState::Warning;
}

/// The answers to DLE EOT 1-4 in order, each a byte, or -1 where none came.
using StatusAnswers = std::array<int, kStatusRequestCount>;

/// Conditions as bits, in the order of StatusConditionNames.
using StatusConditions = uint16_t;

/// The drawer pin (drawer-pin-high): what the drawer's sensor says, nothing of the printer's health.
constexpr StatusConditions kDrawerPinHigh = 1;

/// Every condition's name, in the fixed order in which they are listed: drawer-pin-high,
/// offline, waiting-online-recovery, feed-button-pressed (DLE EOT 1), cover-open,
/// paper-feeding-by-button, paper-end-stop, error (2), recoverable-error, cutter-error,
/// unrecoverable-error, auto-recoverable-error (3), paper-near-end, paper-end (4).
std::vector<const char*> StatusConditionNames(StatusConditions conditions);

/// One printer's status.
struct PrinterStatus {
    StatusState state = StatusState::NoAnswer;
    StatusConditions conditions = 0;
    StatusAnswers answers = {{-1, -1, -1, -1}};
    std::string reason;  // why unreachable, no-answer or not-a-printer; empty otherwise
    int error = 0;       // unreachable: the system's error code, when there is one
};

/// The status that four answers report: no-answer when one is missing, not-a-printer when one
/// is not a status answer, else the conditions of all four and the state they add up to. With
/// `asked` below 4 only the answers to DLE EOT 1 to `asked` count (a probe that asks DLE EOT 1
/// alone).
PrinterStatus DecodeStatus(const StatusAnswers& answers, int asked = kStatusRequestCount);

/// The conditions as a table shows them: joined by commas, without the drawer pin (a table shows
/// it apart, DrawerPinText); "" when there are none.
std::string ConditionsText(StatusConditions conditions);

/// The drawer pin as a table shows it: "high" or "low" where the answers were read (the state
/// is error, offline, warning or ok), "-" where not.
const char* DrawerPinText(StatusState state, StatusConditions conditions);

/// The answers as hex, "16 12 12 12", a missing one as "-".
std::string StatusAnswersText(const StatusAnswers& answers);

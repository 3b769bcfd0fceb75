#include "commands/PrinterStatus.h"

#include <cstdio>

namespace {

// One condition: the request whose answer reports it and the bits that do (either one).
struct Condition {
    int request;
    unsigned bits;
    const char* name;
};

// In the order conditions are listed; a condition's bit in StatusConditions is its position.
constexpr Condition kConditions[] = {
    {1, 0x04, "drawer-pin-high"},
    {1, 0x08, "offline"},
    {1, 0x20, "waiting-online-recovery"},
    {1, 0x40, "feed-button-pressed"},
    {2, 0x04, "cover-open"},
    {2, 0x08, "paper-feeding-by-button"},
    {2, 0x20, "paper-end-stop"},
    {2, 0x40, "error"},
    {3, 0x04, "recoverable-error"},
    {3, 0x08, "cutter-error"},
    {3, 0x20, "unrecoverable-error"},
    {3, 0x40, "auto-recoverable-error"},
    {4, 0x0C, "paper-near-end"},
    {4, 0x60, "paper-end"},
};
constexpr int kConditionCount = sizeof kConditions / sizeof kConditions[0];

constexpr StatusConditions Bit(int position) {
    return static_cast<StatusConditions>(1u << position);
}

constexpr StatusConditions kOffline = Bit(1);
// error, recoverable-error, cutter-error, unrecoverable-error, auto-recoverable-error
constexpr StatusConditions kErrors = Bit(7) | Bit(8) | Bit(9) | Bit(10) | Bit(11);
// paper-near-end, paper-end, cover-open, waiting-online-recovery
constexpr StatusConditions kWarnings = Bit(12) | Bit(13) | Bit(4) | Bit(2);

std::string Hex(int byte) {
    char text[4];
    std::snprintf(text, sizeof text, "%02x", static_cast<unsigned>(byte) & 0xFF);
    return text;
}

}  // namespace

std::array<unsigned char, 3> StatusRequestBytes(int n) {
    return {{0x10, 0x04, static_cast<unsigned char>(n)}};
}

std::string StatusRequestsText() {
    std::string text;
    for (int n = 1; n <= kStatusRequestCount; ++n) {
        for (const unsigned char byte : StatusRequestBytes(n)) {
            text += (text.empty() ? "" : " ") + Hex(byte);
        }
    }
    return text;
}

bool IsStatusAnswer(int byte) {
    return byte >= 0 && byte <= 0xFF && (byte & 0x93) == 0x12;
}

const char* StatusStateName(StatusState state) {
    switch (state) {
        case StatusState::Unreachable:
            return "unreachable";
        case StatusState::NoAnswer:
            return "no-answer";
        case StatusState::NotAPrinter:
            return "not-a-printer";
        case StatusState::Error:
            return "error";
        case StatusState::Offline:
            return "offline";
        case StatusState::Warning:
            return "warning";
        case StatusState::Ok:
            break;
    }
    return "ok";
}

std::vector<const char*> StatusConditionNames(StatusConditions conditions) {
    std::vector<const char*> names;
    for (int i = 0; i < kConditionCount; ++i) {
        if ((conditions & Bit(i)) != 0) {
            names.push_back(kConditions[i].name);
        }
    }
    return names;
}

PrinterStatus DecodeStatus(const StatusAnswers& answers, int asked) {
    PrinterStatus status;
    status.answers = answers;
    asked = asked < kStatusRequestCount ? asked : kStatusRequestCount;
    for (int n = 1; n <= asked; ++n) {
        if (answers[n - 1] < 0) {
            status.state = StatusState::NoAnswer;
            status.reason = "no answer to DLE EOT " + std::to_string(n);
            return status;
        }
    }
    for (int n = 1; n <= asked; ++n) {
        if (!IsStatusAnswer(answers[n - 1])) {
            status.state = StatusState::NotAPrinter;
            status.reason = "the answer to DLE EOT " + std::to_string(n) + " was " + Hex(answers[n - 1]) +
                            ", not a status byte";
            return status;
        }
    }
    for (int i = 0; i < kConditionCount; ++i) {
        const int request = kConditions[i].request;
        if (request <= asked && (answers[request - 1] & kConditions[i].bits) != 0) {
            status.conditions |= Bit(i);
        }
    }
    status.state = (status.conditions & kErrors) != 0     ? StatusState::Error
                   : (status.conditions & kOffline) != 0  ? StatusState::Offline
                   : (status.conditions & kWarnings) != 0 ? StatusState::Warning
                                                          : StatusState::Ok;
    return status;
}

std::string ConditionsText(StatusConditions conditions) {
    std::string text;
    for (const char* name : StatusConditionNames(conditions & ~kDrawerPinHigh)) {
        text += (text.empty() ? "" : ",") + std::string(name);
    }
    return text;
}

const char* DrawerPinText(StatusState state, StatusConditions conditions) {
    if (state == StatusState::Unreachable || state == StatusState::NoAnswer ||
        state == StatusState::NotAPrinter) {
        return "-";
    }
    return (conditions & kDrawerPinHigh) != 0 ? "high" : "low";
}

std::string StatusAnswersText(const StatusAnswers& answers) {
    std::string text;
    for (int answer : answers) {
        if (!text.empty()) {
            text += ' ';
        }
        text += answer < 0 ? "-" : Hex(answer);
    }
    return text;
}

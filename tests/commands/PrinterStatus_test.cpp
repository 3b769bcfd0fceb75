#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/PrinterStatus.h"

namespace {

std::string Names(StatusConditions conditions) {
    std::string text;
    for (const char* name : StatusConditionNames(conditions)) {
        text += (text.empty() ? "" : " ") + std::string(name);
    }
    return text;
}

TEST(PrinterStatus, AnswersGiveConditionsInOrderAndTheFirstStateThatApplies) {
    struct Case {
        StatusAnswers answers;
        const char* state;
        const char* conditions;
    };
    const Case cases[] = {
        {{{0x16, 0x12, 0x12, 0x12}}, "ok", "drawer-pin-high"},
        {{{0x12, 0x12, 0x12, 0x12}}, "ok", ""},
        {{{0x52, 0x1a, 0x3a, 0x12}},
         "error",
         "feed-button-pressed paper-feeding-by-button cutter-error unrecoverable-error"},
        {{{0x12, 0x32, 0x12, 0x12}}, "ok", "paper-end-stop"},
        {{{0x12, 0x52, 0x12, 0x12}}, "error", "error"},
        {{{0x12, 0x12, 0x16, 0x12}}, "error", "recoverable-error"},
        {{{0x12, 0x12, 0x52, 0x12}}, "error", "auto-recoverable-error"},
        {{{0x1a, 0x12, 0x12, 0x52}}, "offline", "offline paper-end"},
        {{{0x3a, 0x56, 0x12, 0x12}}, "error", "offline waiting-online-recovery cover-open error"},
        {{{0x32, 0x12, 0x12, 0x12}}, "warning", "waiting-online-recovery"},
        {{{0x12, 0x16, 0x12, 0x12}}, "warning", "cover-open"},
        {{{0x12, 0x12, 0x12, 0x16}}, "warning", "paper-near-end"},
        {{{0x12, 0x12, 0x12, 0x1a}}, "warning", "paper-near-end"},
        {{{0x12, 0x12, 0x12, 0x32}}, "warning", "paper-end"},
        {{{0x7e, 0x7e, 0x7e, 0x7e}},
         "error",
         "drawer-pin-high offline waiting-online-recovery feed-button-pressed cover-open "
         "paper-feeding-by-button paper-end-stop error recoverable-error cutter-error unrecoverable-error "
         "auto-recoverable-error paper-near-end paper-end"},
        // Not status answers: bit 0 or 7 set, bit 1 or 4 clear. A missing answer comes first.
        {{{0x16, 0x13, 0x12, 0x12}}, "not-a-printer", ""},
        {{{0x92, 0x12, 0x12, 0x12}}, "not-a-printer", ""},
        {{{0x12, 0x12, 0x10, 0x12}}, "not-a-printer", ""},
        {{{0x12, 0x12, 0x12, 0x02}}, "not-a-printer", ""},
        {{{0x41, 0x12, -1, -1}}, "no-answer", ""},
        {{{-1, -1, -1, -1}}, "no-answer", ""},
    };
    for (const Case& c : cases) {
        const PrinterStatus status = DecodeStatus(c.answers);
        const std::string text = StatusAnswersText(c.answers);
        EXPECT_STREQ(StatusStateName(status.state), c.state) << text;
        EXPECT_EQ(Names(status.conditions), c.conditions) << text;
        EXPECT_EQ(status.reason.empty(),
                  !(status.state == StatusState::NoAnswer || status.state == StatusState::NotAPrinter))
            << text;
        EXPECT_EQ(status.answers, c.answers);
    }
}

TEST(PrinterStatus, RequestsAndAnswersAsText) {
    const std::array<unsigned char, 3> request = StatusRequestBytes(3);
    EXPECT_EQ(std::vector<unsigned char>(request.begin(), request.end()),
              std::vector<unsigned char>({0x10, 0x04, 3}));
    EXPECT_EQ(StatusAnswersText({{0x16, -1, 0x12, 0xff}}), "16 - 12 ff");
    EXPECT_EQ(DecodeStatus({{0x16, 0x12, 0x41, 0x12}}).reason,
              "the answer to DLE EOT 3 was 41, not a status byte");
    // A probe's one answer: the others are neither missing nor read.
    const PrinterStatus probe = DecodeStatus({{0x3a, -1, 0x7e, 0x13}}, 1);
    EXPECT_EQ(probe.state, StatusState::Offline);
    EXPECT_EQ(Names(probe.conditions), "offline waiting-online-recovery");
}

}  // namespace

// The monitor's metrics page written from a fleet's status: every series, label values escaped,
// nothing per printer before a read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet/StatusReport.h"

namespace {

TEST(StatusReportTest, MetricsHaveEverySeriesOfEachReadPrinterWithEscapedLabels) {
    std::vector<Target> targets(3);
    targets[0].name = "socket://127.0.0.1:9100";
    targets[1].name = "parallel:C:\\lp \"1\"\n\xff";  // backslash, quote, line end, not UTF-8
    targets[2].name = "socket://127.0.0.3";
    FleetStatus found;
    found.printers.resize(3);
    found.read = {1, 1, 0};
    found.readAtMs = {1765350000123, 1765350000004, 0};
    found.printers[0] = DecodeStatus({{0x16, 0x12, 0x12, 0x72}});  // paper-end
    found.printers[1].state = StatusState::NoAnswer;
    found.printers[1].answers = {{0x16, -1, -1, -1}};
    const std::string text = FleetStatusMetrics(targets, found);
    const std::string first = "{target=\"socket://127.0.0.1:9100\"";
    const std::string second = "{target=\"parallel:C:\\\\lp \\\"1\\\"\\n\xEF\xBF\xBD\"";
    for (const std::string& line : {"tolctl_printer_up" + first + "} 1", "tolctl_printer_up" + second + "} 0",
                                    "tolctl_printer_state" + first + ",state=\"warning\"} 1",
                                    "tolctl_printer_state" + first + ",state=\"ok\"} 0",
                                    "tolctl_printer_state" + second + ",state=\"no-answer\"} 1",
                                    "tolctl_printer_condition" + first + ",condition=\"paper-end\"} 1",
                                    "tolctl_printer_condition" + first + ",condition=\"paper-near-end\"} 0",
                                    "tolctl_printer_status_seconds" + first + "} 1765350000.123",
                                    "tolctl_printer_status_seconds" + second + "} 1765350000.004"}) {
        EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line << "\n" << text;
    }
    EXPECT_EQ(text.find("127.0.0.3"), std::string::npos);
    size_t lines = 0;
    for (const char c : text) {
        lines += c == '\n';
    }
    EXPECT_EQ(lines, 8 + 2 * (1 + 7 + 14 + 1));

    found.read = {0, 0, 0};
    EXPECT_EQ(FleetStatusMetrics(targets, found).find('{'), std::string::npos);
    EXPECT_EQ(FleetStatusJsonText(targets, found), "[]");
}

}  // namespace

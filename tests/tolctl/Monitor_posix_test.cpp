// `tolctl monitor` against the emulator's printers: /metrics and /status served from each round,
// nothing per printer before the first ends, 404 elsewhere, and the exit codes.
#include <signal.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Tolctl.h"
#include "TolctlProgram.h"

namespace {

using namespace tolctl_program;
using Json = nlohmann::json;

int Run(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr) {
    args.insert(args.begin(), "tolctl");
    std::istringstream in;
    std::ostringstream outText, errText;
    const int code = RunTolctl(args, in, outText, errText);
    if (out != nullptr) {
        *out = outText.str();
    }
    if (err != nullptr) {
        *err = errText.str();
    }
    return code;
}

// How many lines of `text` begin with `start`.
size_t Lines(const std::string& text, const std::string& start) {
    size_t count = 0;
    for (size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) {
        count += at == 0 || text[at - 1] == '\n';
    }
    return count;
}

TEST(TolctlMonitorTest, ServesEachRoundsStatusAsMetricsAndJson) {
    Emulator fleet(
        {"--bind", "127.0.3.20-22", "--fault", "127.0.3.21=refuse", "--fault", "127.0.3.22=stall"});
    const std::string port = std::to_string(fleet.Port());
    const std::vector<std::string> targets = {"--target", "socket://127.0.3.20-22:" + port, "--timeout",
                                              "1000"};
    std::vector<std::string> args = {"monitor", "--interval", "1", "--listen", "127.0.0.1:0"};
    args.insert(args.end(), targets.begin(), targets.end());
    Pipe out, err;
    Program monitor(args, out.write.Get(), err.write.Get());
    out.write.Reset();
    err.write.Reset();
    PipeText lines(std::move(out.read));
    const int served =
        std::atoi(lines.WaitFor("^monitor on http://127\\.0\\.0\\.1:([0-9]+)/metrics\n").c_str());
    ASSERT_GT(served, 0) << lines.Text();
    httplib::Client client("127.0.0.1", served);

    // The first round takes a second (the stalled printer): no printer yet, the headers still.
    auto page = client.Get("/metrics");
    ASSERT_TRUE(page) << httplib::to_string(page.error());
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_EQ(page->body.find('{'), std::string::npos) << page->body;
    EXPECT_EQ(Lines(page->body, "# TYPE tolctl_printer_"), 4u) << page->body;
    EXPECT_EQ(client.Get("/status")->body, "[]\n");

    const std::string good = "{target=\"socket://127.0.3.20:" + port + "\"";
    const std::string refused = "{target=\"socket://127.0.3.21:" + port + "\"";
    for (int i = 0; i < 100 && page->body.find("tolctl_printer_up" + good) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        page = client.Get("/metrics");
    }
    const std::string& text = page->body;
    EXPECT_EQ(Lines(text, "tolctl_printer_up" + good + "} 1\n"), 1u) << text;
    EXPECT_EQ(Lines(text, "tolctl_printer_up" + refused + "} 0\n"), 1u);
    EXPECT_EQ(Lines(text, "tolctl_printer_state" + good + ",state=\"ok\"} 1\n"), 1u);
    EXPECT_EQ(Lines(text, "tolctl_printer_state" + refused + ",state=\"unreachable\"} 1\n"), 1u);
    EXPECT_EQ(Lines(text, "tolctl_printer_state" + refused), 7u);
    EXPECT_EQ(Lines(text, "tolctl_printer_state{target=\"socket://127.0.3.22:" + port +
                              "\",state=\"no-answer\"} 1"),
              1u);
    EXPECT_EQ(Lines(text, "tolctl_printer_state{"), 21u);  // one 1 and six 0 each
    EXPECT_EQ(Lines(text, "tolctl_printer_condition" + good), 14u);
    EXPECT_EQ(Lines(text, "tolctl_printer_condition" + good + ",condition=\"drawer-pin-high\"} 1\n"), 1u);
    EXPECT_EQ(Lines(text, "tolctl_printer_condition" + good + ",condition=\"paper-end\"} 0\n"), 1u);
    const size_t at = text.find("tolctl_printer_status_seconds" + good + "} ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NEAR(std::atof(text.c_str() + text.find("} ", at) + 2), std::time(nullptr), 30);

    // /status is what status --format json prints.
    std::string json;
    Run({"status", "--format", "json", targets[0], targets[1], targets[2], targets[3]}, &json);
    EXPECT_EQ(Json::parse(client.Get("/status")->body), Json::parse(json));
    EXPECT_EQ(client.Get("/metrics/")->status, 404);
    EXPECT_EQ(client.Get("/")->status, 404);

    // Its port is not shared with a second monitor.
    std::string said;
    EXPECT_EQ(Run({"monitor", "--listen", "127.0.0.1:" + std::to_string(served), targets[0], targets[1]},
                  nullptr, &said),
              1);
    EXPECT_EQ(said, "tolctl: monitor: cannot listen on 127.0.0.1:" + std::to_string(served) +
                        ": address already in use\n");

    ::kill(monitor.Pid(), SIGTERM);
    EXPECT_EQ(monitor.Wait(), "exit 1");  // not every printer is ok
    EXPECT_FALSE(Listens(served));
}

TEST(TolctlMonitorTest, BadListenAndTargetsAskNoPrinter) {
    for (const char* listen : {"127.0.0.1", "127.0.0.1:65536", "localhost:9464", "127.1:9464", ":9464"}) {
        std::string said;
        EXPECT_EQ(Run({"monitor", "--port", "127.0.0.1:9", "--listen", listen}, nullptr, &said), 2) << listen;
        EXPECT_NE(said.find("is not ADDRESS:PORT"), std::string::npos) << said;
    }
    EXPECT_EQ(Run({"monitor", "--listen", "127.0.0.1:0"}), 2);  // no printers
    EXPECT_EQ(Run({"monitor", "--port", "127.0.0.1:9", "--interval", "0"}), 2);
    EXPECT_EQ(Run({"--dry-run", "monitor", "--port", "127.0.0.1:9"}), 2);
}

}  // namespace

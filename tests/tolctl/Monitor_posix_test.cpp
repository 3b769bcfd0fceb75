// `tolctl monitor` against the emulator's printers: /metrics and /status served from each round,
// nothing per printer before the first ends, 404 elsewhere, and the exit codes.
#include <signal.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "http/HttpClient.h"
#include "tests/support/TolctlProgram.h"
#include "tests/support/TolctlRun.h"
#include "tolctl/Tolctl.h"

namespace {

using namespace tolctl_program;
using Json = nlohmann::json;

// How many lines of `text` begin with `start`.
size_t Lines(const std::string& text, const std::string& start) {
    size_t count = 0;
    for (size_t at = text.find(start); at != std::string::npos; at = text.find(start, at + 1)) {
        count += at == 0 || text[at - 1] == '\n';
    }
    return count;
}

// `tolctl monitor --interval 1 --listen 127.0.0.1:0 ARGS...` running; Get() fetches its pages.
class Monitor : public ServingProgram {
  public:
    explicit Monitor(std::vector<std::string> args)
        : ServingProgram(Arguments(std::move(args)),
                         "^monitor on http://127\\.0\\.0\\.1:([0-9]+)/metrics\n") {}
    HttpAnswer Get(const std::string& path) const { return HttpFetch("127.0.0.1", Port(), "GET", path); }
    /// The metrics page once it has the line `line` (10 s at most), else the last one.
    std::string MetricsWith(const std::string& line) {
        std::string page;
        for (int i = 0; i < 100 && Lines(page, line + "\n") == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(i == 0 ? 0 : 100));
            page = Get("/metrics").body;
        }
        return page;
    }

  private:
    static std::vector<std::string> Arguments(std::vector<std::string> args) {
        args.insert(args.begin(), {"monitor", "--interval", "1", "--listen", "127.0.0.1:0"});
        return args;
    }
};

TEST(TolctlMonitorTest, ServesEachRoundsStatusAsMetricsAndJson) {
    EmulatorProgram fleet(
        {"--bind", "127.0.3.20-22", "--fault", "127.0.3.21=refuse", "--fault", "127.0.3.22=slow:3000"});
    const std::string port = std::to_string(fleet.Port());
    const std::vector<std::string> targets = {"--target", "socket://127.0.3.20-22:" + port, "--timeout",
                                              "1500"};
    Monitor monitor(targets);
    ASSERT_GT(monitor.Port(), 0);
    const int served = monitor.Port();

    // The first round takes 1.5 s (the slow printer): no printer yet, the headers still.
    const HttpAnswer page = monitor.Get("/metrics");
    ASSERT_EQ(page.status, 200) << page.error;
    EXPECT_EQ(page.Header("content-type"), "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_EQ(page.body.find('{'), std::string::npos) << page.body;
    EXPECT_EQ(Lines(page.body, "# TYPE tolctl_printer_"), 4u) << page.body;
    EXPECT_EQ(monitor.Get("/status").body, "[]\n");

    const std::string good = "{target=\"socket://127.0.3.20:" + port + "\"";
    const std::string refused = "{target=\"socket://127.0.3.21:" + port + "\"";
    const std::string text = monitor.MetricsWith("tolctl_printer_up" + good + "} 1");
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

    // The names that the monitoring guide's scrape configuration and alert rules use are those served.
    std::ifstream guide(TOL_SOURCE_DIR "/docs/monitoring.md");
    const std::string doc((std::istreambuf_iterator<char>(guide)), {});
    const std::regex name("tolctl_printer_[a-z_]+");
    for (std::sregex_iterator it(doc.begin(), doc.end(), name), end; it != end; ++it) {
        EXPECT_EQ(Lines(text, "# TYPE " + it->str() + " gauge\n"), 1u) << it->str();
    }

    // /status is what status --format json prints.
    const std::string json =
        Tolctl({"status", "--format", "json", targets[0], targets[1], targets[2], targets[3]}).out;
    EXPECT_EQ(Json::parse(monitor.Get("/status").body), Json::parse(json));
    EXPECT_EQ(monitor.Get("/metrics/").status, 404);
    EXPECT_EQ(monitor.Get("/").status, 404);

    // Its port is not shared with a second monitor.
    const TolctlResult second =
        Tolctl({"monitor", "--listen", "127.0.0.1:" + std::to_string(served), targets[0], targets[1]});
    EXPECT_EQ(second.code, 1);
    EXPECT_EQ(second.err, "tolctl: monitor: cannot listen on 127.0.0.1:" + std::to_string(served) +
                              ": address already in use\n");

    EXPECT_EQ(monitor.Stop(), "exit 1");  // not every printer is ok
    EXPECT_FALSE(Listens(served));
}

TEST(TolctlMonitorTest, AConditionChangedInTheEmulatorShowsAfterTheNextRound) {
    TempDir dir;
    std::ofstream(dir / "conditions.txt") << "";
    EmulatorProgram fleet({"--bind", "127.0.3.25", "--conditions-file", dir / "conditions.txt"});
    Monitor monitor({"--target", "socket://127.0.3.25:" + std::to_string(fleet.Port())});
    const std::string paperEnd =
        "tolctl_printer_condition{target=\"socket://127.0.3.25:" + std::to_string(fleet.Port()) +
        "\",condition=\"paper-end\"} ";
    EXPECT_EQ(Lines(monitor.MetricsWith(paperEnd + "0"), paperEnd + "0\n"), 1u);
    std::ofstream(dir / "new.txt") << "127.0.3.25=paper-end\n";
    ASSERT_EQ(std::rename((dir / "new.txt").c_str(), (dir / "conditions.txt").c_str()), 0);
    EXPECT_EQ(Lines(monitor.MetricsWith(paperEnd + "1"), paperEnd + "1\n"), 1u);
    EXPECT_EQ(monitor.Stop(), "exit 1");  // out of paper is offline
}

TEST(TolctlMonitorTest, SlowClientsHoldNoWorker) {
    Monitor monitor({"--target", "socket://127.0.3.30:9"});
    SlowClients slow(monitor.Port(), 64, "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    const auto start = Clock::now();
    EXPECT_EQ(slow.Drip(), 64u);
    const HttpAnswer probe = HttpFetch("127.0.0.1", monitor.Port(), "GET", "/metrics", {}, "", 3);
    EXPECT_EQ(probe.status, 200) << probe.error;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(monitor.Stop(), "exit 1");  // the printer is unreachable
}

TEST(TolctlMonitorTest, BadListenAndTargetsAskNoPrinter) {
    for (const char* listen : {"127.0.0.1", "127.0.0.1:65536", "localhost:9464", "127.1:9464", ":9464"}) {
        const TolctlResult bad = Tolctl({"monitor", "--port", "127.0.0.1:9", "--listen", listen});
        EXPECT_EQ(bad.code, 2) << listen;
        EXPECT_NE(bad.err.find("is not ADDRESS:PORT"), std::string::npos) << bad.err;
    }
    EXPECT_EQ(Tolctl({"monitor", "--listen", "127.0.0.1:0"}).code, 2);  // no printers
    EXPECT_EQ(Tolctl({"monitor", "--port", "127.0.0.1:9", "--interval", "0"}).code, 2);
    EXPECT_EQ(Tolctl({"--dry-run", "monitor", "--port", "127.0.0.1:9"}).code, 2);
}

}  // namespace

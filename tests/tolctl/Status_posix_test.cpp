// `tolctl status` against the emulator's printers: what each is asked, the states it reports in
// target order, the exit codes, and --watch printing changes only.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/TolctlProgram.h"
#include "tests/support/TolctlRun.h"
#include "tests/tolctl/FleetPeer.h"
#include "tolctl/Tolctl.h"

namespace {

using namespace tolctl_program;
using Json = nlohmann::json;

using Result = TolctlResult;

Result Status(std::vector<std::string> args) {
    args.insert(args.begin(), "status");
    return RunTolctlIn(std::move(args));
}

TEST(TolctlStatusTest, EachPrinterIsAskedTheFourRequestsAndListedInTargetOrder) {
    TempDir dir;
    EmulatorProgram fleet({"--bind", "127.0.3.1-4", "--state", dir / "state.json", "--fault",
                           "127.0.3.2=refuse", "--fault", "127.0.3.3=slow:5000"});
    const std::string port = std::to_string(fleet.Port());
    const std::string range = "socket://127.0.3.1-4:" + port;
    ASSERT_EQ(::mkfifo((dir / "lpt").c_str(), 0600), 0);  // the parallel port, read by the test
    const UniqueFd lpt(::open((dir / "lpt").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    std::ofstream(dir / "targets.txt") << "parallel:" + (dir / "lpt") + " lan.ip=192.168.1.9  # as apply's\n";
    const Result all =
        Status({"--target", range, "--targets", dir / "targets.txt", "--timeout", "300", "--format", "json"});
    EXPECT_EQ(all.code, 1) << all.err;
    const Json found = Json::parse(all.out);
    ASSERT_EQ(found.size(), 5u) << all.out;
    const std::vector<std::string> states = {"ok", "unreachable", "no-answer", "ok", "no-answer"};
    for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i]["state"], states[i]) << found[i];
    }
    EXPECT_EQ(found[0], Json({{"target", "socket://127.0.3.1:" + port},
                              {"state", "ok"},
                              {"conditions", Json::array({"drawer-pin-high"})},
                              {"answers", "16 12 12 12"}}));
    EXPECT_EQ(found[1]["reason"], "connection refused");
    EXPECT_EQ(found[2]["reason"], "no answer to DLE EOT 1: none within 300 ms");
    EXPECT_EQ(found[2]["answers"], "- - - -");
    EXPECT_EQ(found[4], Json({{"target", "parallel:" + (dir / "lpt")},
                              {"state", "no-answer"},
                              {"conditions", Json::array()},
                              {"answers", "- - - -"},
                              {"reason", "a parallel port gives no answers"}}));
    char sent = 0;
    EXPECT_LE(::read(lpt.Get(), &sent, 1), 0);  // a parallel port is sent nothing

    // The printers that answer: a table, exit 0; each was asked DLE EOT 1-4 once a run and nothing else.
    const Result good = Status(
        {"--target", "socket://127.0.3.4:" + port, "--port", "socket://127.0.3.1:" + port, "--jobs", "1"});
    EXPECT_EQ(good.code, 0) << good.err;
    const std::string first = "socket://127.0.3.1:" + port;
    // The drawer pin is no condition of the printer's health: a column of its own.
    EXPECT_EQ(good.out, "TARGET" + std::string(first.size() - 4, ' ') + "STATE  DRAWER  CONDITIONS\n" +
                            first + "  ok     high    -\nsocket://127.0.3.4:" + port +
                            "  ok     high    -\n");
    const Json state = WaitForState(dir / "state.json", [&](const Json& s) {
        return s["printers"]["127.0.3.4:" + port]["connections"] == 2;
    });
    for (const char* printer : {"127.0.3.1:", "127.0.3.4:"}) {
        const Json& got = state["printers"][printer + port];
        EXPECT_EQ(got["counts"]["status-requests"], 8) << got;
        EXPECT_EQ(got["undecoded-bytes"], 0);
        EXPECT_EQ(got["connections"], 2);
    }
    EXPECT_EQ(fleet.Stop(), "exit 0");
}

TEST(TolctlStatusTest, BadTargetsAndOptionsAskNoPrinter) {
    const Result none = Status({});
    EXPECT_EQ(none.code, 2);
    EXPECT_EQ(
        none.err,
        "tolctl: no printers: give --port, --target or --targets\ntolctl: status: no printer was asked\n");
    const Result twice = Status({"--port", "127.0.0.1:9", "--target", "socket://127.0.0.0/30:9"});
    EXPECT_EQ(twice.code, 2);
    EXPECT_NE(twice.err.find("--target: socket://127.0.0.1:9 is already a target (--port)"),
              std::string::npos)
        << twice.err;
    EXPECT_EQ(Status({"--port", "127.0.0.1:9", "--format", "xml"}).code, 2);
    EXPECT_EQ(Status({"--port", "127.0.0.1:9", "--timeout", "0"}).code, 2);
    // A name that is not UTF-8 (as a targets file may hold) is shown with U+FFFD: JSON takes no other.
    const Result odd = Status({"--port", "parallel:/nonexistent/\xff", "--format", "json"});
    EXPECT_EQ(odd.code, 1) << odd.err;
    EXPECT_EQ(Json::parse(odd.out)[0]["target"], "parallel:/nonexistent/\xEF\xBF\xBD");
    const Result dry = Status({"--dry-run"});
    EXPECT_EQ(dry.code, 0);
    EXPECT_EQ(dry.out, "10 04 01 10 04 02 10 04 03 10 04 04\n");
}

TEST(TolctlStatusTest, ReadsTheTargetsOfASpreadsheetAsApplyDoesWithItsMessages) {
    TempDir dir;
    EmulatorProgram fleet({"--bind", "127.0.3.50-51"});
    const std::string port = std::to_string(fleet.Port());
    std::ofstream(dir / "tills.CSV") << "\xEF\xBB\xBFtarget,lan.ip\r\nsocket://127.0.3.50-51:" + port +
                                            ",10.0.0.5+\r\n";
    const Result read = Status({"--targets", dir / "tills.CSV", "--format", "json"});
    EXPECT_EQ(read.code, 0) << read.err;
    const Json found = Json::parse(read.out);
    ASSERT_EQ(found.size(), 2u) << read.out;
    EXPECT_EQ(found[1]["target"], "socket://127.0.3.51:" + port);
    // A bad one: the message apply gives, and no printer is asked.
    std::ofstream(dir / "bad.csv") << "target,bt-nam\n";
    std::ofstream(dir / "p.json") << R"({"after": ["cut"]})";
    const Result bad = Status({"--targets", dir / "bad.csv"});
    const Result apply = RunTolctlIn({"apply", dir / "p.json", "--targets", dir / "bad.csv"});
    const std::string message =
        "tolctl: " + (dir / "bad.csv") + " row 1, column 2: 'bt-nam': not a profile key";
    EXPECT_EQ(bad.code, 2);
    EXPECT_EQ(bad.err.find(message), 0u) << bad.err;
    EXPECT_NE(apply.err.find(bad.err.substr(0, bad.err.find('\n'))), std::string::npos) << apply.err;
    EXPECT_EQ(fleet.Stop(), "exit 0");
}

TEST(TolctlStatusTest, ADeviceIsOneTargetHoweverItIsWrittenAndAFileIsNone) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "lp").c_str(), 0600), 0);
    ASSERT_EQ(::symlink((dir / "lp").c_str(), (dir / "link").c_str()), 0);
    const Result twice = Status({"--target", "parallel:" + (dir / "lp"), "--target",
                                 "parallel:" + (dir / "/lp"), "--target", "serial:" + (dir / "./link")});
    EXPECT_EQ(twice.code, 2);
    EXPECT_NE(twice.err.find(dir.Path() + "//lp is already a target"), std::string::npos) << twice.err;
    EXPECT_NE(twice.err.find(dir.Path() + "/./link is already a target"), std::string::npos) << twice.err;

    // A file (or a folder) where a device should be: refused before anything is sent (monitor
    // gathers its targets as status does); nothing is written.
    std::ofstream(dir / "file") << "keep";
    std::ofstream(dir / "p.json") << R"({"after": ["cut"]})";
    const std::vector<std::vector<std::string>> runs = {
        {"status", "--port", "serial:" + (dir / "file")},
        {"status", "--target", "parallel:" + dir.Path(), "--target", "usb:" + (dir / "file")},
        {"apply", dir / "p.json", "--target", "parallel:" + (dir / "file")},
        {"--port", "serial:" + (dir / "file"), "cut"},
    };
    for (const std::vector<std::string>& run : runs) {
        const Result refused = RunTolctlIn(run);
        EXPECT_EQ(refused.code, 2) << run[0] << " " << refused.err;
        EXPECT_NE(refused.err.find(", not a device"), std::string::npos) << refused.err;
    }
    std::ifstream file(dir / "file");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "keep");
}

TEST(TolctlStatusTest, WatchPrintsALineForEachChangeUntilInterrupted) {
    auto fleet = std::make_unique<EmulatorProgram>(std::vector<std::string>{"--bind", "127.0.3.9"});
    const std::string target = "socket://127.0.3.9:" + std::to_string(fleet->Port());
    Pipe out, err;
    Program watch(
        {"status", "--watch", "1", "--target", target, "--format", "json", "--connect-timeout", "0.3"},
        out.write.Get(), err.write.Get());
    out.write.Reset();
    err.write.Reset();
    PipeText lines(std::move(out.read));
    EXPECT_EQ(lines.WaitFor("(\"state\":\"ok\")"), "\"state\":\"ok\"") << lines.Text();
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));  // two more reads, no change
    EXPECT_EQ(fleet->Stop(), "exit 0");
    fleet.reset();
    EXPECT_EQ(lines.WaitFor("(unreachable)"), "unreachable") << lines.Text();
    ::kill(watch.Pid(), SIGINT);
    EXPECT_EQ(watch.Wait(), "exit 1");
    std::istringstream text(lines.ReadToEnd());
    std::vector<Json> seen;
    for (std::string line; std::getline(text, line);) {
        seen.push_back(Json::parse(line));
    }
    ASSERT_EQ(seen.size(), 2u) << lines.Text();
    EXPECT_EQ(seen[0]["target"], target);
    EXPECT_EQ(seen[1]["reason"], "connection refused");
    EXPECT_LT(seen[0]["time"].get<std::string>(), seen[1]["time"].get<std::string>());
}

TEST(TolctlStatusTest, EachConditionOfTheEmulatorIsReadAsItsStateConditionsAndAnswers) {
    TempDir dir;
    EmulatorProgram fleet({"--bind", "127.0.3.20-25", "--state", dir / "state.json", "--condition",
                           "127.0.3.21=paper-near-end", "--condition", "127.0.3.22=paper-end", "--condition",
                           "127.0.3.23=cover-open", "--condition", "127.0.3.24=cutter-error", "--condition",
                           "127.0.3.25=offline"});
    const std::string port = std::to_string(fleet.Port());
    const Result read = Status({"--target", "socket://127.0.3.20-25:" + port, "--format", "json"});
    EXPECT_EQ(read.code, 1) << read.err;
    const Json expected = Json::parse(R"([
        ["ok", ["drawer-pin-high"], "16 12 12 12"],
        ["warning", ["drawer-pin-high", "paper-near-end"], "16 12 12 1e"],
        ["offline", ["drawer-pin-high", "offline", "paper-end-stop", "paper-end"], "1e 32 12 72"],
        ["offline", ["drawer-pin-high", "offline", "cover-open"], "1e 16 12 12"],
        ["error", ["drawer-pin-high", "offline", "error", "cutter-error"], "1e 52 1a 12"],
        ["offline", ["drawer-pin-high", "offline"], "1e 12 12 12"]])");
    const Json found = Json::parse(read.out);
    ASSERT_EQ(found.size(), expected.size()) << read.out;
    for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(Json::array({found[i]["state"], found[i]["conditions"], found[i]["answers"]}), expected[i])
            << found[i];
    }
    const Json state = WaitForState(dir / "state.json", [](const Json&) { return true; });
    EXPECT_EQ(state["printers"]["127.0.3.22:" + port]["condition"], "paper-end");
    EXPECT_FALSE(state["printers"]["127.0.3.20:" + port].contains("condition"));
    EXPECT_EQ(fleet.Stop(), "exit 0");
}

TEST(TolctlStatusTest, DevicesThatSayMoreThanTheyAreAskedAreNoPrintersAndAResetIsNoAnswer) {
    EmulatorProgram fleet({"--bind", "127.0.3.40-43", "--condition", "127.0.3.40-42=cover-open", "--fault",
                           "127.0.3.40=surplus", "--fault", "127.0.3.41=flood", "--fault",
                           "127.0.3.42=banner", "--fault", "127.0.3.43=reset"});
    const std::vector<std::string> states = {"not-a-printer", "not-a-printer", "offline", "no-answer"};
    for (int round = 0; round < 5; ++round) {  // a reset is seen at the connect or at the first read
        const Result read = Status(
            {"--target", "socket://127.0.3.40-43:" + std::to_string(fleet.Port()), "--format", "json"});
        const Json found = Json::parse(read.out);
        ASSERT_EQ(found.size(), states.size()) << read.out;
        for (size_t i = 0; i < states.size(); ++i) {
            EXPECT_EQ(found[i]["state"], states[i]) << found[i];
            EXPECT_EQ(found[i]["conditions"].size(), i == 2 ? 3u : 0u) << found[i];
        }
    }
    EXPECT_EQ(fleet.Stop(), "exit 0");
}

TEST(TolctlStatusTest, AConditionsFileIsReadAgainWhenItChangesAndABadOneChangesNothing) {
    TempDir dir;
    const auto write = [&dir](const std::string& text) {  // replaced whole, as the help asks
        std::ofstream(dir / "new.txt") << text;
        ASSERT_EQ(std::rename((dir / "new.txt").c_str(), (dir / "conditions.txt").c_str()), 0);
    };
    write("# none yet\n");
    EmulatorProgram fleet({"--bind", "127.0.3.30-31", "--condition", "127.0.3.31=offline",
                           "--conditions-file", dir / "conditions.txt", "--state", dir / "state.json"});
    const std::string port = std::to_string(fleet.Port());
    const auto states = [&port](const std::string& wanted) {
        std::string seen;
        for (int i = 0; i < 30 && seen != wanted; ++i) {
            const Json found =
                Json::parse(Status({"--target", "socket://127.0.3.30-31:" + port, "--format", "json"}).out);
            seen = found[0]["state"].get<std::string>() + " " + found[1]["state"].get<std::string>();
        }
        return seen;
    };
    EXPECT_EQ(states("ok offline"), "ok offline");
    write("\n  127.0.3.30 = paper-end  # out of paper\n127.0.3.31=none\n");
    EXPECT_EQ(states("offline ok"), "offline ok");
    const Json state = WaitForState(dir / "state.json", [&port](const Json& s) {
        return s["printers"]["127.0.3.30:" + port].contains("condition");
    });
    EXPECT_EQ(state["printers"]["127.0.3.30:" + port]["condition"], "paper-end");
    EXPECT_FALSE(state["printers"]["127.0.3.31:" + port].contains("condition"));

    write("127.0.3.30=none\n127.0.3.31=jammed\n");
    EXPECT_EQ(fleet.Errors().WaitFor("(line 2: .*)\n"),
              "line 2: 'jammed' is not paper-near-end, paper-end, cover-open, cutter-error, offline or none; "
              "the conditions stay as they were");
    EXPECT_EQ(states("offline ok"), "offline ok");
    EXPECT_EQ(fleet.Stop(), "exit 0");
    const std::string errors = fleet.Errors().ReadToEnd();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
}

TEST(TolctlStatusTest, BadConditionsAreUsageErrors) {
    TempDir dir;
    std::ofstream(dir / "bad.txt") << "# faults\n127.0.0.1=offline\n127.0.0.1=\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--conditions-file", dir / "bad.txt"},
         "tolctl: listen --conditions-file: " + (dir / "bad.txt") +
             " line 3: '' is not paper-near-end, paper-end, cover-open, cutter-error, offline or none\n"},
        {{"--conditions-file", dir / "none.txt"},
         "tolctl: listen --conditions-file: cannot read '" + (dir / "none.txt") +
             "': no such file or directory\n"},
        {{"--condition", "127.0.0.1=jammed"},
         "tolctl: listen --condition: 'jammed' is not paper-near-end, paper-end, cover-open, cutter-error, "
         "offline or none\n"},
        {{"--condition", "127.0.0.2=offline"},
         "tolctl: listen --condition: 127.0.0.2 is not among the --bind addresses\n"},
        {{"--bind", "127.0.0.1-2", "--condition", "127.0.0.1-2=offline", "--condition",
          "127.0.0.2=paper-end"},
         "tolctl: listen --condition: 127.0.0.2 is given two conditions\n"},
        {{"--condition", "offline"}, "tolctl: listen --condition: 'offline' is not ADDRESS=KIND\n"},
    };
    for (const auto& [args, message] : cases) {
        std::vector<std::string> all = {"tolctl", "listen", "--port", "0"};
        all.insert(all.end(), args.begin(), args.end());
        std::istringstream in;
        std::ostringstream out, err;
        EXPECT_EQ(RunTolctl(all, in, out, err), 2) << args.back();
        EXPECT_EQ(err.str(), message);
        EXPECT_EQ(out.str(), "");
    }
}

}  // namespace

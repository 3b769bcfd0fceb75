// tolctl scan against the emulator: which printers answer, and their status bytes.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
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

Result Scan(std::vector<std::string> args) {
    args.insert(args.begin(), "scan");
    return RunTolctlIn(std::move(args));
}

// The fleet of the scan tests: 127.0.2.0/28 with printers missing and misbehaving.
std::vector<std::string> FleetArgs(const std::string& state) {
    return {"--bind",  "127.0.2.0/28",       "--state", state,
            "--fault", "127.0.2.3-4=refuse", "--fault", "127.0.2.7=stall",
            "--fault", "127.0.2.9=reset",    "--fault", "127.0.2.11=slow:1000",
            "--fault", "127.0.2.15=refuse"};
}

// The addresses that answer, in order, as `scan` lists them.
std::string Targets(int port, const std::string& after = "", const std::vector<int>& silent = {}) {
    std::string text;
    for (int last = 0; last < 16; ++last) {
        if (last == 3 || last == 4 || last == 7 || last == 15) {
            continue;
        }
        const bool quiet = std::find(silent.begin(), silent.end(), last) != silent.end();
        text += "socket://127.0.2." + std::to_string(last) + ":" + std::to_string(port) +
                (after.empty() ? ""
                 : quiet       ? "  # status - no-answer"
                               : after) +
                "\n";
    }
    return text;
}

TEST(TolctlScanTest, ListsThePrintersThatAnswerInAddressOrderAndSendsNothing) {
    TempDir dir;
    EmulatorProgram fleet(FleetArgs(dir / "state.json"));
    const std::string port = std::to_string(fleet.Port());
    const Result result = Scan({"127.0.2.0/28", "--tcp-port", port, "--timeout", "300"});
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.out, Targets(fleet.Port()));
    EXPECT_EQ(result.err, "");

    // A connect and a close: each printer that took one counts it, and nothing came with it. The
    // emulator serves the printers' connections one after another: wait until all are counted.
    const auto counted = [&](const std::string& key) {
        return key != "127.0.2.7:" + port && key != "127.0.2.9:" + port;
    };
    const Json state = WaitForState(dir / "state.json", [&](const Json& s) {
        for (const auto& printer : s["printers"].items()) {
            if (counted(printer.key()) && printer.value()["connections"] != 1) {
                return false;
            }
        }
        return true;
    });
    for (const auto& printer : state["printers"].items()) {
        EXPECT_EQ(printer.value()["connections"], counted(printer.key()) ? 1 : 0) << printer.key();
        EXPECT_EQ(printer.value()["counts"]["status-requests"], 0) << printer.key();
        EXPECT_EQ(printer.value()["undecoded-bytes"], 0) << printer.key();
    }
    EXPECT_EQ(fleet.Stop(), "exit 0");
}

TEST(TolctlScanTest, ProbeShowsTheStatusByteAndItsStateOrADashWhenNoneCameInTime) {
    TempDir dir;
    EmulatorProgram fleet(FleetArgs(dir / "state.json"));
    const std::string port = std::to_string(fleet.Port());
    // The reset printer answers nothing; the slow one not within the time-out.
    const Result probed =
        Scan({"127.0.2.0/28", "--tcp-port", port, "--timeout", "300", "--probe", "--jobs", "4"});
    EXPECT_EQ(probed.code, 0);
    EXPECT_EQ(probed.out, Targets(fleet.Port(), "  # status 16 ok drawer-pin-high", {9, 11}));

    const Result json =
        Scan({"127.0.2.8-10", "--tcp-port", port, "--timeout", "300", "--probe", "--format", "json"});
    EXPECT_EQ(json.code, 0);
    Json want = Json::array();
    for (const int last : {8, 9, 10}) {
        const std::string address = "127.0.2." + std::to_string(last);
        want.push_back({{"address", address},
                        {"port", fleet.Port()},
                        {"target", "socket://" + address + ":" + port},
                        {"status", last == 9 ? Json() : Json("16")},
                        {"state", last == 9 ? "no-answer" : "ok"},
                        {"conditions", last == 9 ? Json::array() : Json::array({"drawer-pin-high"})}});
    }
    EXPECT_EQ(Json::parse(json.out), want);

    const Result plain = Scan({"127.0.2.8-10", "--tcp-port", port, "--format", "json"});
    EXPECT_FALSE(Json::parse(plain.out)[0].contains("status"));
    EXPECT_EQ(fleet.Stop(), "exit 0");
}

// How many sockets the process `pid` has open.
int SocketsOf(pid_t pid) {
    int count = 0;
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            char link[64] = {};
            const std::string path = folder + "/" + entry->d_name;
            if (::readlink(path.c_str(), link, sizeof link - 1) > 0 &&
                std::string(link).rfind("socket:", 0) == 0) {
                ++count;
            }
        }
        ::closedir(dir);
    }
    return count;
}

TEST(TolctlScanTest, CtrlCEndsItWithTheTargetsFoundSoFar) {
    TempDir dir;
    EmulatorProgram fleet(FleetArgs(dir / "state.json"));
    const std::string port = std::to_string(fleet.Port());
    Pipe out, err;
    // The stalled printer would hold the scan for its whole time-out.
    Program scan({"scan", "127.0.2.0/28", "--tcp-port", port, "--timeout", "60000"}, out.write.Get(),
                 err.write.Get());
    out.write.Reset();
    err.write.Reset();
    // Ctrl-C once the scan is under way (it holds the stalled printer's socket), and the others'
    // connects, which end at once on loopback, have had their time; however slowly it started.
    for (int i = 0; i < 200 && SocketsOf(scan.Pid()) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::kill(scan.Pid(), SIGINT);
    PipeText text(std::move(out.read)), errors(std::move(err.read));
    EXPECT_EQ(scan.Wait(), "exit 130");
    EXPECT_EQ(text.ReadToEnd(), Targets(fleet.Port()));
    EXPECT_EQ(errors.ReadToEnd(), "tolctl: scan: interrupted; 12 printers had answered\n");
}

TEST(TolctlScanTest, NoAnswerIsSaidButNotAnError) {
    const int port = FreePort();
    const Result result = Scan({"127.0.2.200-203", "--tcp-port", std::to_string(port)});
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "tolctl: scan: no printer answered on port " + std::to_string(port) +
                              " of 127.0.2.200-127.0.2.203\n");
    const Result json = Scan({"127.0.2.200", "--tcp-port", std::to_string(port), "--format", "json"});
    EXPECT_EQ(json.out, "[]\n");
}

TEST(TolctlScanTest, BadInputIsExitCode2) {
    EXPECT_EQ(Scan({"127.0.2.0/8"}).err,
              "tolctl: scan: '127.0.2.0/8': the network's prefix length must be 16-32\n");
    EXPECT_EQ(Scan({"127.1/24"}).code, 2);
    EXPECT_EQ(Scan({"127.0.2.0/28", "--format", "xml"}).err,
              "tolctl: scan --format: 'xml' is not targets or json\n");
    for (const char* option : {"--jobs", "--timeout", "--tcp-port"}) {
        EXPECT_EQ(Scan({"127.0.2.0/28", option, "0"}).code, 2) << option;
        EXPECT_EQ(Scan({"127.0.2.0/28", option, "0x10"}).code, 2) << option;
    }
    EXPECT_EQ(Scan({}).code, 2);
}

}  // namespace

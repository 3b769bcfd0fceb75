// The emulator: in-process, what each connection delivered reaches its callback, as the printer's;
// as the real tolctl listening, many printers, one per address of a range or network, each with
// its state in the state file, status answers and faults as clients see them.
#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "emulator/Emulator.h"

#include "tests/support/PrinterClient.h"
#include "tests/support/TolctlProgram.h"
#include "tests/support/TolctlRun.h"
#include "tolctl/Tolctl.h"

namespace {

using namespace tolctl_program;
using Json = nlohmann::json;

struct Delivered {
    size_t printer;
    std::string name;
    std::string bytes;
    Delivery::Ending ending;
};

TEST(EmulatorTest, EachConnectionsBytesAndEndingReachTheCallbackOfItsPrinter) {
    std::vector<PlannedPrinter> printers;
    std::string problem;
    ASSERT_TRUE(PlanPrinters("127.0.2.40-41", {"127.0.2.41=reset"}, printers, problem)) << problem;
    std::vector<Delivered> delivered;
    Emulator emulator(
        2, std::chrono::seconds(10),
        EmulatorCallbacks{[&delivered](const Delivery& d) {
                              delivered.push_back(
                                  {d.printer, d.name, std::string(d.bytes.begin(), d.bytes.end()), d.ending});
                              return true;
                          },
                          [](const EmulatorProblem&) { ADD_FAILURE() << "a problem"; }});
    std::error_code error;
    ASSERT_TRUE(emulator.Listen(printers, 0, problem, error)) << problem << ": " << error.message();
    ASSERT_EQ(emulator.PrinterCount(), 2u);
    bool served = false;
    std::thread loop([&] { served = emulator.Run(); });

    const std::string port = std::to_string(emulator.Port());
    PrinterClient first("127.0.2.40", emulator.Port());
    ASSERT_EQ(first.Error(), 0);
    ASSERT_TRUE(first.Send(std::string("\x1d\x56\x01\x10\x04\x01", 6)));
    EXPECT_EQ(first.Read(1, 2000), "\x16");  // the status answer, while the peer waits
    first.Close();
    PrinterClient second("127.0.2.41", emulator.Port());
    loop.join();

    EXPECT_TRUE(served);
    ASSERT_EQ(delivered.size(), 2u);
    std::sort(delivered.begin(), delivered.end(),
              [](const Delivered& a, const Delivered& b) { return a.printer < b.printer; });
    EXPECT_EQ(delivered[0].name, "127.0.2.40:" + port);
    EXPECT_EQ(delivered[0].bytes, std::string("\x1d\x56\x01\x10\x04\x01", 6));
    EXPECT_EQ(delivered[0].ending, Delivery::Ending::Closed);
    EXPECT_EQ(delivered[1].name, "127.0.2.41:" + port);
    EXPECT_EQ(delivered[1].bytes, "");
    EXPECT_EQ(delivered[1].ending, Delivery::Ending::Reset);
}

// Sends one tolctl command to a printer of the fleet, as a person would.
void Send(const std::string& address, int port, std::vector<std::string> command) {
    command.insert(command.begin(), {"--port", "socket://" + address + ":" + std::to_string(port)});
    const TolctlResult sent = Tolctl(command);
    EXPECT_EQ(sent.code, 0) << command[2] << ": " << sent.err;
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    DIR* listing = ::opendir(dir.c_str());
    while (const dirent* entry = listing != nullptr ? ::readdir(listing) : nullptr) {
        if (entry->d_name[0] != '.') {
            names.push_back(entry->d_name);
        }
    }
    if (listing != nullptr) {
        ::closedir(listing);
    }
    return names;
}

const Json kNoCounts = {{"test-print", 0},   {"cut", 0},      {"open-drawer", 0},
                        {"factory-mode", 0}, {"hex-mode", 0}, {"wifi-factory", 0},
                        {"bt-read-pin", 0},  {"bt-check", 0}, {"status-requests", 0}};

Json EmptyPrinter(int connections = 0) {
    return {{"counts", kNoCounts}, {"connections", connections}, {"undecoded-bytes", 0}};
}

TEST(TolctlEmulatorTest, EveryAddressOfANetworkOrRangeIsAPrinterOnTheSamePort) {
    TempDir dir;
    {
        EmulatorProgram fleet({"--bind", "127.0.2.21/29", "--state", dir / "state.json"});
        const std::string port = std::to_string(fleet.Port());
        Send("127.0.2.16", fleet.Port(), {"cut"});
        Send("127.0.2.23", fleet.Port(), {"bt-pin", "1234"});
        const Json state = WaitForState(dir / "state.json", [&](const Json& s) {
            return s["printers"]["127.0.2.23:" + port].contains("bt-pin");
        });
        EXPECT_EQ(fleet.Stop(), "exit 0");
        std::string lines;
        Json expected = {{"printers", Json::object()}};
        for (int last = 16; last <= 23; ++last) {
            const std::string name = "127.0.2." + std::to_string(last) + ":" + port;
            lines += "listening on " + name + "\n";
            expected["printers"][name] = EmptyPrinter();
        }
        expected["printers"]["127.0.2.16:" + port]["connections"] = 1;
        expected["printers"]["127.0.2.16:" + port]["counts"]["cut"] = 1;
        expected["printers"]["127.0.2.23:" + port]["connections"] = 1;
        expected["printers"]["127.0.2.23:" + port]["bt-pin"] = "1234";
        EXPECT_EQ(state, expected);
        // With several printers each line says which printer got the command.
        EXPECT_EQ(fleet.Output().ReadToEnd(),
                  lines + "127.0.2.16:" + port + ": cut\n127.0.2.23:" + port + ": bt-pin \"1234\"\n");
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"state.json"});  // no temporary left
        std::ifstream file(dir / "state.json");
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, nlohmann::ordered_json::parse(text).dump(2) + "\n");  // as a JSON tool writes it
    }
    {
        // Many printers share one line.
        EmulatorProgram fleet({"--bind", "127.0.2.40-59"});
        EXPECT_EQ(fleet.Stop(), "exit 0");
        EXPECT_EQ(fleet.Output().ReadToEnd(),
                  "listening on 127.0.2.40-127.0.2.59:" + std::to_string(fleet.Port()) + " (20 printers)\n");
    }
}

TEST(TolctlEmulatorTest, StateHoldsEverySettingAsLastReceivedAndCountsTheRest) {
    TempDir dir;
    EmulatorProgram fleet({"--bind", "127.0.2.64-66", "--state", dir / "state.json"});
    const int port = fleet.Port();
    const std::string a = "127.0.2.64";
    Send(a, port, {"wifi-ap", "--name", "First", "--mode", "sta"});
    Send(a, port, {"wifi-ap", "--name", "Shop Printer", "--mode", "apsta"});
    Send(a, port,
         {"wifi-station", "--ssid", "Shop", "--password", "se cret!", "--auth", "wpapsk", "--enc", "tkip",
          "--ip", "192.168.1.200", "--mask", "255.255.255.0", "--gateway", "192.168.1.1"});
    Send(a, port, {"bt-name", "Till-3"});
    Send(a, port, {"bt-pin", "6042"});
    Send(a, port, {"lan-ip", "192.168.1.123"});
    Send(a, port, {"lan-mask", "255.255.0.0"});
    Send(a, port, {"lan-gateway", "192.168.1.1"});
    Send(a, port, {"lan-mac", "9E:22:56:1C"});
    Send(a, port, {"lan-dhcp", "on"});
    Send(a, port, {"lan-dhcp", "off"});
    for (const char* command : {"test-print", "cut", "cut", "open-drawer", "factory-mode", "hex-mode",
                                "wifi-factory", "bt-read-pin", "bt-check"}) {
        Send(a, port, {command});
    }
    // Status requests, a byte that begins nothing and a cut cut short.
    PrinterClient raw(a, port);
    ASSERT_EQ(raw.Error(), 0);
    ASSERT_TRUE(raw.Send(std::string("\x10\x04\x01\x10\x04\x02\x41\x1d\x56", 9)));
    EXPECT_EQ(raw.Read(2, 2000), "\x16\x12");
    raw.Close();
    Send("127.0.2.65", port, {"bt-name", "Other"});

    const std::string name = a + ":" + std::to_string(port);
    const std::string otherName = "127.0.2.65:" + std::to_string(port);
    // The emulator serves each printer's connections as they come, so wait for both printers.
    const Json state = WaitForState(dir / "state.json", [&](const Json& s) {
        return s["printers"][name]["connections"] == 21 && s["printers"][otherName]["connections"] == 1;
    });
    const Json expected = Json::parse(R"({
        "wifi-ap": {"name": "Shop Printer", "mode": "apsta"},
        "wifi-station": {"ssid": "Shop", "password": "se cret!", "auth": "wpapsk", "enc": "tkip",
                         "ip": "192.168.1.200", "mask": "255.255.255.0", "gateway": "192.168.1.1"},
        "bt-name": "Till-3",
        "bt-pin": "6042",
        "lan": {"ip": "192.168.1.123", "mask": "255.255.0.0", "gateway": "192.168.1.1",
                "mac": "9E:22:56:1C", "dhcp": false},
        "counts": {"test-print": 1, "cut": 2, "open-drawer": 1, "factory-mode": 1, "hex-mode": 1,
                   "wifi-factory": 1, "bt-read-pin": 1, "bt-check": 1, "status-requests": 2},
        "connections": 21,
        "undecoded-bytes": 3
    })");
    EXPECT_EQ(state["printers"][name], expected) << state["printers"][name].dump(2);
    struct stat file {};
    ASSERT_EQ(::stat((dir / "state.json").c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);  // the password is in it
    Json other = EmptyPrinter(1);
    other["bt-name"] = "Other";
    EXPECT_EQ(state["printers"][otherName], other);
    EXPECT_EQ(state["printers"]["127.0.2.66:" + std::to_string(port)], EmptyPrinter());
    EXPECT_EQ(fleet.Stop(), "exit 0");
}

TEST(TolctlEmulatorTest, StateIsWrittenWhileRunningAndWhatArrivedIsInItAfterAStop) {
    TempDir dir;
    EmulatorProgram fleet({"--bind", "127.0.2.70-71", "--state", dir / "state.json"});
    const std::string name = "127.0.2.70:" + std::to_string(fleet.Port());
    PrinterClient open("127.0.2.70", fleet.Port());
    ASSERT_TRUE(open.Send("\x1d\x56\x01"));  // then stays open
    Send("127.0.2.70", fleet.Port(), {"bt-name", "Shop"});
    const Json running = WaitForState(dir / "state.json",
                                      [&](const Json& s) { return s["printers"][name].contains("bt-name"); });
    EXPECT_EQ(running["printers"][name]["bt-name"], "Shop");
    EXPECT_EQ(running["printers"][name]["counts"]["cut"], 0);  // its connection has not ended
    EXPECT_EQ(fleet.Stop(), "exit 0");
    const Json stopped = ReadState(dir / "state.json");
    EXPECT_EQ(stopped["printers"][name]["counts"]["cut"], 1);
    EXPECT_EQ(stopped["printers"][name]["connections"], 2);
}

TEST(TolctlEmulatorTest, PrintersStartAgainFromTheSettingsTheStateFileHolds) {
    TempDir dir;
    const std::string state = dir / "state.json";
    std::string gone;
    {
        EmulatorProgram fleet({"--bind", "127.0.2.110-112", "--state", state});
        gone = "127.0.2.112:" + std::to_string(fleet.Port());
        Send("127.0.2.110", fleet.Port(), {"bt-pin", "6042"});
        Send("127.0.2.110", fleet.Port(), {"cut"});
        Send("127.0.2.112", fleet.Port(), {"bt-name", "Gone"});
        WaitForState(state, [&](const Json& s) { return s["printers"][gone]["connections"] == 1; });
        EXPECT_EQ(fleet.Stop(), "exit 0");
    }
    // Started again (on another port, without .112): each printer by its address keeps what it
    // had; the printer not listened on stays in the file as it was.
    EmulatorProgram fleet({"--bind", "127.0.2.110-111", "--state", state});
    const std::string p = ":" + std::to_string(fleet.Port());
    Send("127.0.2.110", fleet.Port(), {"cut"});
    const Json got = WaitForState(
        state, [&](const Json& s) { return s["printers"]["127.0.2.110" + p]["connections"] == 3; });
    Json kept = EmptyPrinter(3);
    kept["bt-pin"] = "6042";
    kept["counts"]["cut"] = 2;
    Json other = EmptyPrinter(1);
    other["bt-name"] = "Gone";
    EXPECT_EQ(got, Json({{"printers",
                          {{"127.0.2.110" + p, kept}, {"127.0.2.111" + p, EmptyPrinter()}, {gone, other}}}}));
    EXPECT_EQ(fleet.Stop(), "exit 0");

    // A file that is not a state file is refused and left as it is.
    const std::string bad = R"({"printers": {"127.0.2.110:1": {"counts": {"cut": -1}}}})";
    std::ofstream(state) << bad;
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunTolctl({"tolctl", "listen", "--port", "0", "--bind", "127.0.2.110", "--state", state}, in,
                        out, err),
              2);
    EXPECT_EQ(err.str(), "tolctl: listen --state: '" + state +
                             "' is not a state file: printer '127.0.2.110:1': 'counts.cut' is not a count\n");
    std::ifstream file(state);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()), bad);
}

TEST(TolctlEmulatorTest, StatusRequestsAreAnsweredAsTheyArriveWhileThePeerWaits) {
    EmulatorProgram fleet({"--bind", "127.0.2.80"});
    PrinterClient peer("127.0.2.80", fleet.Port());
    ASSERT_EQ(peer.Error(), 0);
    ASSERT_TRUE(peer.Send(std::string("\x10\x04\x01\x10\x04\x02\x10\x04\x03\x10\x04\x04\x10\x04\x05", 15)));
    EXPECT_EQ(peer.Read(4, 2000), "\x16\x12\x12\x12");
    EXPECT_EQ(peer.Read(1, 200), "");  // n=5 has no answer
    // A request in two pieces is answered once it is whole; one after a setting too.
    ASSERT_TRUE(peer.Send("\x10"));
    EXPECT_EQ(peer.Read(1, 200), "");
    ASSERT_TRUE(
        peer.Send(std::string("\x04\x01\x1f\x1b\x1f\x09\x02", 7) + "12" + std::string("\x10\x04\x04", 3)));
    EXPECT_EQ(peer.Read(2, 2000), "\x16\x12");
    peer.Close();
    EXPECT_NE(fleet.Output().WaitFor("(status-request n=4\n)"), "");
    EXPECT_EQ(fleet.Stop(), "exit 0");
    EXPECT_EQ(fleet.Output().ReadToEnd(),
              "listening on 127.0.2.80:" + std::to_string(fleet.Port()) +
                  "\nstatus-request n=1\nstatus-request n=2\nstatus-request n=3\nstatus-request n=4\n"
                  "status-request n=5\nstatus-request n=1\nbt-pin \"12\"\nstatus-request n=4\n");
}

TEST(TolctlEmulatorTest, APeerThatTakesNoAnswersHoldsUpNoOne) {
    EmulatorProgram fleet({"--bind", "127.0.2.90-91"});
    // A small receive buffer that the peer never empties: the answers pile up at the listener.
    PrinterClient greedy("127.0.2.90", fleet.Port(), 2000, 4096);
    ASSERT_EQ(greedy.Error(), 0);
    std::string requests;
    for (int i = 0; i < 200000; ++i) {
        requests += std::string("\x10\x04\x01", 3);
    }
    EXPECT_TRUE(greedy.Send(requests));
    // By now the listener has read them all and has more answers than the peer takes.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Send("127.0.2.91", fleet.Port(), {"cut"});
    EXPECT_NE(fleet.Output().WaitFor("(127\\.0\\.2\\.91:[0-9]+: cut\n)"), "") << fleet.Output().Text();
    greedy.Close();
    EXPECT_EQ(fleet.Stop(), "exit 0");
}

TEST(TolctlEmulatorTest, FaultsAsAClientSeesThem) {
    TempDir dir;
    EmulatorProgram fleet({"--bind", "127.0.2.96/29", "--state", dir / "state.json", "--fault",
                           "127.0.2.97-98=refuse", "--fault", "127.0.2.99=reset", "--fault",
                           "127.0.2.100=stall", "--fault", "127.0.2.101=slow:600"});
    const int port = fleet.Port();

    EXPECT_EQ(PrinterClient("127.0.2.96", port).Error(), 0);
    EXPECT_EQ(PrinterClient("127.0.2.97", port).Error(), ECONNREFUSED);
    EXPECT_EQ(PrinterClient("127.0.2.98", port).Error(), ECONNREFUSED);

    // The system takes the connection before the printer resets it: the reset comes after the
    // connect, or even before the connect is seen to be done.
    PrinterClient reset("127.0.2.99", port);
    int ended = reset.Error();
    if (ended == 0) {
        EXPECT_EQ(reset.Read(1, 2000, &ended), "");
    }
    EXPECT_EQ(ended, ECONNRESET);

    const auto stallStart = std::chrono::steady_clock::now();
    EXPECT_EQ(PrinterClient("127.0.2.100", port, 300).Error(), ETIMEDOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - stallStart, std::chrono::milliseconds(300));

    // Slow: taken at once, read only later.
    PrinterClient slow("127.0.2.101", port);
    ASSERT_EQ(slow.Error(), 0);
    const auto slowStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(slow.Send("\x10\x04\x01"));
    EXPECT_EQ(slow.Read(1, 3000), "\x16");
    EXPECT_GE(std::chrono::steady_clock::now() - slowStart, std::chrono::milliseconds(500));
    slow.Close();

    const std::string p = ":" + std::to_string(port);
    const Json state = WaitForState(dir / "state.json", [&](const Json& s) {
        return s["printers"]["127.0.2.101" + p]["connections"] == 1;
    });
    EXPECT_FALSE(state["printers"].contains("127.0.2.97" + p));  // refused: not a printer at all
    EXPECT_EQ(state["printers"]["127.0.2.99" + p], EmptyPrinter());
    EXPECT_EQ(state["printers"]["127.0.2.100" + p], EmptyPrinter());
    EXPECT_EQ(state["printers"]["127.0.2.101" + p]["counts"]["status-requests"], 1);
    EXPECT_EQ(state["printers"].size(), 6u);
    EXPECT_EQ(fleet.Stop(), "exit 0");
    EXPECT_NE(fleet.Output().Text().find("127.0.2.99" + p + ": (connection from "), std::string::npos);
}

TEST(TolctlEmulatorTest, BadBindsFaultsAndStateFilesAreUsageErrors) {
    auto run = [](std::vector<std::string> args) {
        args.insert(args.begin(), {"listen", "--port", "0"});
        const TolctlResult r = Tolctl(args);
        return std::to_string(r.code) + " " + r.err;
    };
    EXPECT_EQ(run({"--bind", "127.0.2.0/15"}),
              "2 tolctl: listen --bind: '127.0.2.0/15': the network's prefix "
              "length must be 16-32\n");
    EXPECT_EQ(run({"--bind", "127.0.2.9-3"}),
              "2 tolctl: listen --bind: '127.0.2.9-3': the range ends before it starts\n");
    EXPECT_EQ(run({"--bind", "127.0.2.0/30", "--fault", "127.0.2.4=reset"}),
              "2 tolctl: listen --fault: 127.0.2.4 is not among the --bind addresses\n");
    EXPECT_EQ(run({"--bind", "127.0.2.0/30", "--fault", "127.0.2.1=explode"}),
              "2 tolctl: listen --fault: 'explode' is not refuse, reset, stall, slow:MS, surplus, flood or "
              "banner\n");
    EXPECT_EQ(run({"--bind", "127.0.2.0/30", "--fault", "127.0.2.1=slow:0x10"}),
              "2 tolctl: listen --fault: slow:MS: milliseconds '0x10' is not a decimal number\n");
    EXPECT_EQ(run({"--bind", "127.0.2.0/30", "--fault", "127.0.2.1=reset", "--fault", "127.0.2.0-1=stall"}),
              "2 tolctl: listen --fault: 127.0.2.1 is given two faults\n");
    EXPECT_EQ(run({"--bind", "127.0.2.0/31", "--fault", "127.0.2.0/31=refuse"}),
              "2 tolctl: listen --fault: every --bind address refuses; nothing would be listened on\n");
    EXPECT_EQ(run({"--bind", "127.0.2.0", "--fault", "127.0.2.0"}),
              "2 tolctl: listen --fault: '127.0.2.0' is not "
              "ADDRESS=refuse|reset|stall|slow:MS|surplus|flood|banner\n");
    EXPECT_EQ(
        run({"--bind", "127.0.2.0", "--state", "/nonexistent/dir/state.json"}),
        "2 tolctl: listen --state: cannot write '/nonexistent/dir/state.json': no such file or directory\n");
}

TEST(TolctlEmulatorTest, ABigFleetRaisesTheOpenFileLimitItStartsWith) {
    // 256 listening sockets do not fit a soft limit of 64; the hard limit leaves room.
    EmulatorProgram fleet({"--bind", "127.0.2.0/24"}, 64, 4096);
    EXPECT_EQ(PrinterClient("127.0.2.255", fleet.Port()).Error(), 0);
    EXPECT_EQ(fleet.Stop(), "exit 0");
    EXPECT_EQ(fleet.Output().ReadToEnd(),
              "listening on 127.0.2.0-127.0.2.255:" + std::to_string(fleet.Port()) + " (256 printers)\n");
    EXPECT_EQ(fleet.Errors().ReadToEnd(), "");
}

}  // namespace

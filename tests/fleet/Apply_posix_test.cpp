// `tolctl apply` against printers on loopback: what each printer receives, in what order, what
// the table and the report say, and what never happens (a send after a refusal, a password shown).
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <pty.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "system/OemText.h"
#include "tests/support/FakePrinters.h"
#include "tests/support/PrinterClient.h"
#include "tests/support/TempDir.h"
#include "tests/support/TolctlProgram.h"
#include "tests/support/TolctlRun.h"
#include "tolctl/ApplyCommand.h"
#include "tolctl/Tolctl.h"

namespace {

using namespace tolctl_program;

using Kind = FakePrinter::Kind;

using Result = TolctlResult;

const char* const kProfile = R"({
  "//": "the example of the documentation",
  "wifi-ap":      {"name": "Shop Printer", "mode": "ap"},
  "wifi-station": {"ssid": "Shop", "password": "Xq7-Secret-Zp", "auth": "wpa2psk", "enc": "aes",
                   "ip": "192.168.1.200", "mask": "255.255.255.0", "gateway": "192.168.1.1"},
  "bt-name": "Printer",
  "bt-pin": "6042",
  "lan": {"ip": "192.168.1.123", "mask": "255.255.255.0", "gateway": "192.168.1.1",
          "mac": "9E:22:56:1C", "dhcp": false},
  "after": ["test-print", "cut"]
})";

// What a printer gets from kProfile, one connection per command, in this order.
std::vector<std::string> ProfileBytes(const std::string& lanIp = "192.168.1.123",
                                      const std::string& btName = "Printer",
                                      const std::string& stationIp = "192.168.1.200") {
    return {
        DryRunBytes({"wifi-ap", "--name", "Shop Printer", "--mode", "ap"}),
        DryRunBytes({"bt-name", btName}),
        DryRunBytes({"bt-pin", "6042"}),
        DryRunBytes({"wifi-station", "--ssid", "Shop", "--password", "Xq7-Secret-Zp", "--ip", stationIp,
                     "--gateway", "192.168.1.1"}),
        DryRunBytes({"lan-mask", "255.255.255.0"}),
        DryRunBytes({"lan-gateway", "192.168.1.1"}),
        DryRunBytes({"lan-mac", "9E:22:56:1C"}),
        DryRunBytes({"test-print"}),
        DryRunBytes({"cut"}),
        DryRunBytes({"lan-ip", lanIp}),
        DryRunBytes({"lan-dhcp", "off"}),
    };
}

// The table's lines, each cut into its words; the columns must line up.
std::vector<std::vector<std::string>> TableRows(const std::string& table) {
    std::istringstream lines(table);
    std::vector<std::vector<std::string>> rows;
    size_t resultColumn = std::string::npos;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        rows.emplace_back();
        for (std::string word; words >> word;) {
            rows.back().push_back(word);
        }
        const size_t column = line.find(rows.back().size() > 1 ? " " + rows.back()[1] : "?");
        if (resultColumn == std::string::npos) {
            resultColumn = column;
        }
        EXPECT_EQ(column, resultColumn) << table;
    }
    return rows;
}

std::string Range(FakeFleet& fleet, size_t first, size_t last) {
    return "socket://127.0.0." + std::to_string(first + 1) + "-" + std::to_string(last + 1) + ":" +
           std::to_string(fleet.Port());
}

// Printer i's static addresses: each printer's own, as apply requires.
std::string LanIp(size_t i) {
    return "192.168.1." + std::to_string(101 + i);
}
std::string StationIp(size_t i) {
    return "192.168.1." + std::to_string(201 + i);
}

// Printers first-last of `fleet` as a targets file, each with its own addresses.
std::string Own(const TempDir& folder, FakeFleet& fleet, size_t first, size_t last) {
    std::string lines;
    for (size_t i = first; i <= last; ++i) {
        lines += Range(fleet, i, i) + " lan.ip=" + LanIp(i) + " wifi-station.ip=" + StationIp(i) + "\n";
    }
    return folder.Write("own.txt", lines);
}

TEST(TolctlApplyTest, EveryPrinterGetsEachSettingOnItsOwnConnectionInTheFixedOrder) {
    const TempDir folder;
    const std::string profile = folder.Write("shop.json", kProfile);
    FakeFleet fleet({Kind::None, Kind::None, Kind::None});
    const Result r = Tolctl({"apply", profile, "--targets", Own(folder, fleet, 0, 2), "--gap", "0"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(fleet[i].Received(), ProfileBytes(LanIp(i), "Printer", StationIp(i))) << i;
    }
    const std::string port = std::to_string(fleet.Port());
    EXPECT_EQ(TableRows(r.out), (std::vector<std::vector<std::string>>{
                                    {"TARGET", "RESULT", "SENT", "ERROR"},
                                    {"socket://127.0.0.1:" + port, "ok", "11/11"},
                                    {"socket://127.0.0.2:" + port, "ok", "11/11"},
                                    {"socket://127.0.0.3:" + port, "ok", "11/11"},
                                }));
}

TEST(TolctlApplyTest, OverridesOfATargetsLineGoToItsPrintersOnly) {
    const TempDir folder;
    const std::string profile = folder.Write("shop.json", kProfile);
    FakeFleet fleet({Kind::None, Kind::None, Kind::None});
    const std::string port = std::to_string(fleet.Port());
    const std::string targets =
        folder.Write("tills.txt",
                     "# the shop's tills\n"
                     "\n"
                     "socket://127.0.0.1:" +
                         port +
                         " lan.ip=192.168.1.51 wifi-station.ip=192.168.1.201 "
                         "bt-name=\"Till #1\"   # by the door\n"
                         "  socket://127.0.0.2:" +
                         port +
                         "\n"
                         "socket://127.0.0.3:" +
                         port + " bt-name=Back after=cut lan.dhcp=on " + "lan.ip=" + LanIp(2) +
                         " wifi-station.ip=" + StationIp(2) + "\n");
    const Result r = Tolctl({"apply", profile, "--targets", targets, "--gap", "0", "--jobs", "2"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(fleet[0].Received(), ProfileBytes("192.168.1.51", "Till #1", "192.168.1.201"));
    EXPECT_EQ(fleet[1].Received(), ProfileBytes());
    std::vector<std::string> back = ProfileBytes(LanIp(2), "Back", StationIp(2));
    back.erase(back.begin() + 7);  // after= holds only the cut now
    back.back() = DryRunBytes({"lan-dhcp", "on"});
    EXPECT_EQ(fleet[2].Received(), back);
}

TEST(TolctlApplyTest, AddressSequencesCountUpPerPrinterAndStayInTheir24OnAddressesOfTheirOwn) {
    const TempDir folder;
    const std::string profile = folder.Write("shop.json", kProfile);
    FakeFleet fleet({Kind::None, Kind::None, Kind::None});
    const std::string range = Range(fleet, 0, 2);
    const std::string line = range + " lan.ip=192.168.1.51+ wifi-station.ip=192.168.1.201+ bt-name=Till+\n";
    Result r = Tolctl({"apply", profile, "--targets", folder.Write("seq.txt", line), "--gap", "0"});
    EXPECT_EQ(r.code, 0) << r.err;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(fleet[i].Received(), ProfileBytes("192.168.1.5" + std::to_string(1 + i), "Till+",
                                                    "192.168.1.20" + std::to_string(1 + i)))
            << i;
    }
    const std::string one = "socket://127.0.0.4:" + std::to_string(fleet.Port());
    for (const auto& c : std::vector<std::pair<std::string, std::string>>{
             {range + " lan.ip=192.168.1.254+\n",
              "bad.txt:1: lan.ip: 192.168.1.254+ would leave 192.168.1.0/24"},
             {range + " lan.ip=192.168.1+\n", "bad.txt:1: lan.ip: '192.168.1'+ is not a sequence"},
             {one + " lan.ip=192.168.1.52 wifi-station.ip=10.0.0.1\n" + range + " lan.ip=192.168.1.51+\n",
              "bad.txt:2: socket://127.0.0.2:" + std::to_string(fleet.Port()) + " and " + one + " (" +
                  (folder / "bad.txt") + ":1) are both given lan.ip 192.168.1.52"}}) {
        r = Tolctl({"apply", profile, "--targets", folder.Write("bad.txt", c.first)});
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(c.second), std::string::npos) << c.second << " not in: " << r.err;
    }
    EXPECT_EQ(fleet[0].Accepted(), 11);
}

TEST(TolctlApplyTest, SpreadsheetTargetsGiveNonEmptyCellsAsOverridesAndNameTheRowAndColumnOfAProblem) {
    const TempDir folder;
    const std::string profile = folder.Write("shop.json", kProfile);
    FakeFleet fleet({Kind::None, Kind::None, Kind::None});
    // With a byte order mark and CRLF as spreadsheets write them, quoted commas and quotes, and a
    // sequence in a cell.
    const std::string csv = "\xEF\xBB\xBFtarget,bt-name,lan.ip,wifi-station.ip\r\n" + Range(fleet, 0, 1) +
                            ",,192.168.1.51+,192.168.1.201+\r\n,,,\r\n\"" + Range(fleet, 2, 2) +
                            "\",\"Till \"\"3\"\", back\"," + LanIp(2) + "," + StationIp(2) + "\r\n";
    Result r = Tolctl({"apply", profile, "--targets", folder.Write("tills.CSV", csv), "--gap", "0"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(fleet[0].Received(), ProfileBytes("192.168.1.51", "Printer", "192.168.1.201"));
    EXPECT_EQ(fleet[1].Received(), ProfileBytes("192.168.1.52", "Printer", "192.168.1.202"));
    EXPECT_EQ(fleet[2].Received(), ProfileBytes(LanIp(2), "Till \"3\", back", StationIp(2)));

    const std::string t = Range(fleet, 0, 0);
    for (const auto& c : std::vector<std::pair<std::string, std::string>>{
             {"printer,lan.ip\n", "bad.csv row 1, column 1: 'printer': the first column is 'target'"},
             {"target,lan.ip,bt-nam\n", "bad.csv row 1, column 3: 'bt-nam': not a profile key"},
             {"target,lan.ip\n" + t + ",1.2.3.4,x\n", "bad.csv row 2: 3 columns, where the header has 2"},
             {"target,lan.ip\n\n" + t + ",10.0.0\n",
              "bad.csv row 3: lan.ip: '10.0.0' is not an IPv4 address"},
             {"target,bt-name\n" + t + ",\"Till\n", "bad.csv row 2, column 2: a quote is not closed"},
             {"target,bt-name\n" + t + ",Till \"3\"\n", "bad.csv row 2, column 2: a quote in a cell"},
             {"target,lan.ip\n,10.0.0.1\n", "bad.csv row 2, column 1: no target"}}) {
        r = Tolctl({"apply", profile, "--targets", folder.Write("bad.csv", c.first)});
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(c.second), std::string::npos) << c.second << " not in: " << r.err;
    }
    EXPECT_EQ(fleet[0].Accepted(), 11);

    // The example spreadsheet plans with the example profile.
    r = Tolctl({"profile", "targets-csv"});
    const std::string example = folder.Write("example.csv", r.out);
    const std::string example_profile = folder.Write("example.json", Tolctl({"profile", "example"}).out);
    r = Tolctl({"apply", example_profile, "--targets", example, "--dry-run"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("socket://10.0.0.4\n"), std::string::npos) << r.out;
}

TEST(TolctlApplyTest, OneChainSpreadsheetServesEachShopByItsLabelWithTemplatesFilledInPerPrinter) {
    const TempDir folder;
    FakeFleet fleet({Kind::None, Kind::None, Kind::Refuse, Kind::None});
    // A password is taken as written, braces and all.
    const std::string profile = folder.Write(
        "p.json",
        R"({"bt-name": "{label.shop}-Till-{label.till}", "wifi-station": {"ssid": "{{{label.shop}}}",
                      "password": "{label.x}-secret", "gateway": "10.0.1.1"}})");
    // South reuses North's static address: each run takes one shop. North's tills are numbered.
    const std::string csv = "target,//note,label.shop,lan.ip,wifi-station.ip,wifi-ap.name,label.till\n" +
                            Range(fleet, 0, 2) + ",tills,North,10.0.0.1+,10.0.1.11+,,{n}\n" +
                            Range(fleet, 3, 3) + ",,South,10.0.0.1,10.0.1.11,{label.shop} {{1}},9\n";
    const std::string chain = folder.Write("chain.csv", csv), report = (folder / "r.json");
    Result r = Tolctl(
        {"apply", profile, "--targets", chain, "--label", "shop=North", "--gap", "0", "--report", report});
    EXPECT_EQ(r.code, 1) << r.err;  // the third printer refuses
    auto station = [](const std::string& ssid) {
        return DryRunBytes({"wifi-station", "--ssid", ssid, "--password", "{label.x}-secret", "--ip",
                            "10.0.1.11", "--gateway", "10.0.1.1"});
    };
    EXPECT_EQ(fleet[0].Received(),
              (std::vector<std::string>{DryRunBytes({"bt-name", "North-Till-1"}), station("{North}"),
                                        DryRunBytes({"lan-ip", "10.0.0.1"})}));
    EXPECT_EQ(fleet[1].Received()[0], DryRunBytes({"bt-name", "North-Till-2"}));
    const std::string port = std::to_string(fleet.Port());
    EXPECT_EQ(TableRows(r.out)[3],
              (std::vector<std::string>{"socket://127.0.0.3:" + port, "shop=North,till=3", "failed", "0/3",
                                        "bt-name:", "connection", "refused"}));
    const nlohmann::json entry = nlohmann::json::parse(folder.Read("r.json"))["results"][2];
    EXPECT_EQ(entry["labels"], nlohmann::json::parse(R"({"shop": "North", "till": "3"})"));
    EXPECT_EQ(entry["n"], 3);
    EXPECT_EQ(entry["planned"]["bt-name"], "North-Till-3");
    // The record's answers carry each printer's labels, from the same spreadsheet and selection.
    r = Tolctl({"record", "diff", profile, "--targets", chain, "--label", "shop=North", "--format", "json"});
    const nlohmann::json diff = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_TRUE(diff.is_array() && !diff.empty()) << r.out << r.err;
    EXPECT_EQ(diff[0]["labels"], nlohmann::json::parse(R"({"shop": "North", "till": "1"})"));
    EXPECT_EQ(diff[0]["state"], "same");
    r = Tolctl({"record", "printers", "--targets", chain, "--label", "shop=North", "--format", "json"});
    EXPECT_EQ(nlohmann::json::parse(r.out, nullptr, false).back()["labels"]["till"], "3") << r.out << r.err;
    // Resumed alone, it is still the third till.
    r = Tolctl({"apply", profile, "--resume", report, "--dry-run"});
    EXPECT_NE(r.out.find("bt-name \"North-Till-3\""), std::string::npos) << r.out << r.err;
    r = Tolctl({"apply", profile, "--targets", chain, "--label", "shop=South", "--gap", "0"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(fleet[3].Received(),
              (std::vector<std::string>{DryRunBytes({"wifi-ap", "--name", "South {1}"}),
                                        DryRunBytes({"bt-name", "South-Till-9"}), station("{South}"),
                                        DryRunBytes({"lan-ip", "10.0.0.1"})}));

    // Refused before anything is sent: a label a printer has not, what is no placeholder, a
    // filled-in value that does not fit or that the code page cannot write, both shops at once.
    const std::string plain =
        folder.Write("plain.csv", "target,label.shop,lan.ip\n" + Range(fleet, 0, 2) + ",North,10.0.0.1+\n" +
                                      Range(fleet, 3, 3) + ",South,10.0.0.1\n");
    const std::string row2 = plain + " row 2 socket://127.0.0.1:" + port + ": ",
                      from = " (" + (folder / "p.json") + ")";
    for (const auto& c : std::vector<std::pair<std::string, std::string>>{
             {R"({"bt-name": "{label.till}"})",
              row2 + "bt-name" + from + ": {label.till}: this printer has no label till (it has shop)"},
             {R"({"bt-name": "{till}"})", "p.json: bt-name: '{till}' is not a placeholder"},
             {R"({"wifi-ap": {"name": "{label.shop}-Printer-By-The-Kitchen-Door"}})",
              row2 + "wifi-ap.name" + from + ": The access point name has 33 characters; at most 31 fit."},
             {R"({"bt-pin": "{label.shop}\u20ac"})",
              row2 + "bt-pin" + from + ": '\xE2\x82\xAC' that code page CP437"},
             {R"({"lan": {"ip": "{n}"}})", "lan.ip: '{n}' is not an IPv4 address"},
             {R"({"bt-pin": "1"})", "are both given lan.ip 10.0.0.1"}}) {
        r = Tolctl({"apply", folder.Write("p.json", c.first), "--targets", plain});
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(c.second), std::string::npos) << c.second << " not in: " << r.err;
    }
    EXPECT_EQ(fleet[0].Accepted() + fleet[3].Accepted(), 3 + 4);
}

TEST(TolctlApplyTest, OnlySendsThePartNamedLeavesOutTheRestAndAResumeKeepsToIt) {
    const TempDir folder;
    FakeFleet fleet({Kind::None, Kind::Refuse});
    const std::string profile = folder.Write("p.json", kProfile), report = (folder / "r.json");
    // The chain's full spreadsheet: its names and addresses are not sent again, nor checked.
    const std::string csv =
        folder.Write("t.csv", "target,lan.ip,wifi-station.ip,bt-name\n" + Range(fleet, 0, 1) +
                                  ",10.0.0.1,192.168.1.11+,{label.none}\n");
    Result r = Tolctl({"apply", profile, "--targets", csv, "--only", "wifi-station.password", "--gap", "0",
                       "--report", report});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(
        r.err.find("--only wifi-station.password: left out after, bt-name, bt-pin, lan.dhcp, lan.gateway, "
                   "lan.ip, lan.mac, lan.mask, wifi-ap.mode, wifi-ap.name\n"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(
        fleet[0].Received(),
        std::vector<std::string>{DryRunBytes({"wifi-station", "--ssid", "Shop", "--password", "Xq7-Secret-Zp",
                                              "--ip", "192.168.1.11", "--gateway", "192.168.1.1"})});
    const nlohmann::json json = nlohmann::json::parse(folder.Read("r.json"));
    EXPECT_EQ(json["only"], nlohmann::json::parse(R"(["wifi-station.password"])"));
    EXPECT_EQ(json["left-out"].size(), 10u);
    r = Tolctl({"apply", profile, "--resume", report, "--dry-run"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("wifi-station"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("bt-pin"), std::string::npos) << r.out;

    // after only when named; an unknown name is a usage error naming it.
    r = Tolctl({"apply", profile, "--target", Range(fleet, 0, 0), "--only", "after,bt-pin", "--gap", "0"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(fleet[0].Received().size(), 1u + 3u);
    EXPECT_EQ(fleet[0].Received().back(), DryRunBytes({"cut"}));
    r = Tolctl({"apply", profile, "--target", Range(fleet, 0, 0), "--only", "lan,bt-nam"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("--only: 'bt-nam' is not a profile key"), std::string::npos) << r.err;
}

TEST(TolctlApplyTest, ACanaryThatFailsOrAnEmptyFailureBudgetLeavesTheRestNotSentAndResumable) {
    const TempDir folder;
    FakeFleet fleet({Kind::None, Kind::Refuse, Kind::None, Kind::None});
    const std::string profile = folder.Write("p.json", R"({"bt-pin": "1"})"), report = (folder / "r.json");
    const std::vector<std::string> all = {"apply", profile, "--target", Range(fleet, 0, 3), "--gap", "0"};
    auto apply = [&all](std::vector<std::string> more) {
        more.insert(more.begin(), all.begin(), all.end());
        return Tolctl(more);
    };
    const std::string record = folder / "record.sqlite";
    Result r = apply({"--canary", "2", "--report", report, "--record", record});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(
        r.err.find("the first 2 printers (--canary) were not all ok; 2 of 4 printers were not sent anything"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(fleet[2].Accepted() + fleet[3].Accepted(), 0);
    EXPECT_EQ(TableRows(r.out)[4][1], "not-sent");
    const nlohmann::json written = nlohmann::json::parse(folder.Read("r.json"));
    EXPECT_EQ(written["results"][3]["result"], "not-sent");
    // The record says so too, and why.
    const nlohmann::json recorded = nlohmann::json::parse(
        Tolctl({"record", "rollout", written["rollout"], "--format", "json", "--record", record}).out);
    EXPECT_EQ(recorded[3]["result"], "not-sent") << recorded;
    EXPECT_NE(recorded[3]["error"].get<std::string>().find("--canary"), std::string::npos) << recorded;
    r = Tolctl({"apply", profile, "--resume", report, "--gap", "0"});
    EXPECT_EQ(r.code, 1);  // the second still refuses; the others are served now
    EXPECT_EQ(fleet[0].Accepted() * 10 + fleet[2].Accepted() * 10 + fleet[3].Accepted(), 10 + 10 + 1);

    // One job, nothing may fail: the second's failure leaves the third and fourth out.
    r = apply({"--jobs", "1", "--max-failed", "0"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("more than 0 printers failed (--max-failed); 2 of 4"), std::string::npos) << r.err;
    EXPECT_EQ(fleet[2].Accepted() + fleet[3].Accepted(), 2);
    r = apply({"--jobs", "1", "--max-failed", "25%", "--canary", "1"});  // one failure of four is allowed
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(fleet[2].Accepted() + fleet[3].Accepted(), 4);
    for (const char* bad : {"101%", "x", "-1", "%"}) {
        EXPECT_EQ(apply({"--max-failed", bad}).code, 2) << bad;
    }
}

TEST(TolctlApplyTest, ARefusingAResettingAndAStalledPrinterFailAloneAmongGoodOnes) {
    const TempDir folder;
    const std::string profile = folder.Write("shop.json", kProfile);
    FakeFleet fleet({Kind::None, Kind::Refuse, Kind::Reset, Kind::Stall, Kind::None});
    const std::string report = (folder / "report.json");
    const Result r = Tolctl({"apply", profile, "--targets", Own(folder, fleet, 0, 4), "--gap", "0",
                             "--connect-timeout", "0.3", "--report", report});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(r.err, "tolctl: apply: 3 of 5 printers failed\n");
    EXPECT_EQ(fleet[0].Received(), ProfileBytes(LanIp(0), "Printer", StationIp(0)));
    EXPECT_EQ(fleet[4].Received(), ProfileBytes(LanIp(4), "Printer", StationIp(4)));
    // The first failure ends that printer: one connection tried, nothing after it.
    EXPECT_EQ(fleet[2].Accepted(), 1);
    EXPECT_EQ(fleet[2].Received().size(), 0u);

    const std::string port = std::to_string(fleet.Port());
    const std::vector<std::vector<std::string>> rows = TableRows(r.out);
    ASSERT_EQ(rows.size(), 6u) << r.out;
    EXPECT_EQ(rows[1], (std::vector<std::string>{"socket://127.0.0.1:" + port, "ok", "11/11"}));
    const std::vector<std::string> refused = {
        "socket://127.0.0.2:" + port, "failed", "0/11", "wifi-ap:", "connection", "refused"};
    EXPECT_EQ(rows[2], refused);
    EXPECT_NE(r.out.find("0/11   wifi-ap: connection reset by peer\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("0/11   wifi-ap: connection timed out after 300 ms\n"), std::string::npos) << r.out;

    const nlohmann::json json = nlohmann::json::parse(folder.Read("report.json"));
    EXPECT_EQ(json["tolctl-version"], TolctlVersion());
    EXPECT_EQ(json["printers"], 5);
    EXPECT_EQ(json["ok"], 2);
    EXPECT_EQ(json["failed"], 3);
    EXPECT_EQ(json["gap-ms"], 0);
    EXPECT_EQ(json["connect-timeout-ms"], 300);
    const nlohmann::json& results = json["results"];
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0]["target"], "socket://127.0.0.1:" + port);
    EXPECT_EQ(results[0]["result"], "ok");
    EXPECT_EQ(results[0]["sent"], 11);
    EXPECT_TRUE(results[0]["error"].is_null());
    const std::vector<std::string> order = {"wifi-ap",  "bt-name",     "bt-pin",  "wifi-station",
                                            "lan-mask", "lan-gateway", "lan-mac", "test-print",
                                            "cut",      "lan-ip",      "lan-dhcp"};
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(results[0]["commands"][i]["command"], order[i]);
        EXPECT_EQ(results[0]["commands"][i]["result"], "sent");
        EXPECT_GE(results[0]["commands"][i]["ms"].get<double>(), 0);
    }
    EXPECT_EQ(results[2]["result"], "failed");
    EXPECT_EQ(results[2]["sent"], 0);
    EXPECT_EQ(results[2]["error"], "wifi-ap: connection reset by peer");
    EXPECT_EQ(results[2]["commands"][0]["result"], "failed");
    EXPECT_EQ(results[2]["commands"][1]["result"], "not sent");
    EXPECT_EQ(results[2]["commands"][1].count("ms"), 0u);
    // The stalled printer cost its connect time-out, about.
    EXPECT_GE(results[3]["commands"][0]["ms"].get<double>(), 290);
}

TEST(TolctlApplyTest, TheGapSeparatesTwoCommandsToOnePrinter) {
    const TempDir folder;
    const std::string profile =
        folder.Write("p.json", R"({"bt-name": "a", "bt-pin": "1", "after": ["cut"]})");
    FakePrinter printer(Kind::None);
    const Result r = Tolctl(
        {"apply", profile, "--target", printer.Uri(), "--gap", "120", "--report", (folder / "r.json")});
    ASSERT_EQ(r.code, 0) << r.err;
    const nlohmann::json commands = nlohmann::json::parse(folder.Read("r.json"))["results"][0]["commands"];
    ASSERT_EQ(commands.size(), 3u);
    for (size_t i = 1; i < commands.size(); ++i) {
        const double previousEnd =
            commands[i - 1]["start-ms"].get<double>() + commands[i - 1]["ms"].get<double>();
        EXPECT_GE(commands[i]["start-ms"].get<double>() - previousEnd, 119.0) << i;
    }
}

TEST(TolctlApplyTest, InvalidProfilesTargetsOrOptionsSendNothingToAnyone) {
    const TempDir folder;
    FakePrinter printer(Kind::None);
    const std::string good = folder.Write("good.json", kProfile);
    const std::string target = printer.Uri();
    std::filesystem::create_symlink(good, (folder / "link.json"));
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"apply", folder.Write("a.json", R"({"lan": {"ip": "192.168.1"}})"), "--target", target},
         "a.json: lan.ip: '192.168.1' is not an IPv4 address"},
        {{"apply", folder.Write("b.json", R"({"wifi-ap": {"name": "12345678901234567890123456789012"}})"),
          "--target", target},
         "b.json: wifi-ap.name: The access point name has 32 characters; at most 31 fit."},
        {{"apply", folder.Write("c.json", R"({"bt-nam": "x"})"), "--target", target},
         "'bt-nam': not a profile key"},
        {{"apply", folder.Write("d.json", "{}"), "--target", target}, "d.json: sets nothing"},
        {{"apply", (folder / "none.json"), "--target", target}, "profile: cannot read"},
        // One bad target among good ones stops all of them.
        {{"apply", good, "--target", target, "--target", "socket://127.1"}, "--target: host: '127.1'"},
        {{"apply", good, "--target", target, "--target", "socket://127.0.0.9-3"}, "ends before it starts"},
        {{"apply", good, "--target", target, "--target", target}, "is already a target (--target)"},
        {{"apply", good, "--targets", folder.Write("t1.txt", target + "\n" + target + " bt-pin=1\n")},
         "t1.txt:2: " + target + " is already a target (" + (folder / "t1.txt") + ":1)"},
        {{"apply", good, "--targets",
          folder.Write("t2.txt", target + "\nsocket://127.0.0.1:1 lan.ip=10.0.0\n")},
         "t2.txt:2: lan.ip: '10.0.0' is not an IPv4 address"},
        {{"apply", good, "--targets",
          folder.Write("t3.txt", target + " wifi-station.ssid=" + std::string(120, 's'))},
         "t3.txt:1: wifi-station.ssid/password: The station text"},
        {{"apply", good, "--targets", folder.Write("t4.txt", target + " bt-name=\"x\n")},
         "t4.txt:1: a quote is not closed"},
        {{"apply", good, "--targets", (folder / "no-targets.txt")}, "--targets: cannot read"},
        {{"apply", good}, "no printers: give --target PORT or --targets FILE"},
        {{"apply", good, "--target", target, "--report", (folder / "no/such/dir/r.json")},
         "--report: cannot write"},
        {{"apply", good, "--target", target, "--jobs", "0"}, "--jobs: must be 1-1024"},
        {{"apply", good, "--target", target, "--gap", "0x10"}, "--gap: '0x10' is not a decimal number"},
        {{"--port", target, "apply", good, "--target", target}, "not --port"},
        {{"apply", good, "--targets", folder.Write("t5.txt", target + " bt-pin=1 bt-pin=2\n")},
         "t5.txt:1: bt-pin: given twice on one line"},
        {{"apply", good, "--targets", folder.Write("t6.txt", target + "\nsocket://127.0.0.1:1\n")},
         "socket://127.0.0.1:1 and " + target + " (" + (folder / "t6.txt") +
             ":1) are both given lan.ip 192.168.1.123"},
        // A report that would overwrite what it reports on, by any name.
        {{"apply", good, "--target", target, "--report", (folder / "link.json")}, "is the profile"},
        {{"apply", good, "--targets", (folder / "t5.txt"), "--report", (folder / "t5.txt")},
         "is the targets file"},
        {{"apply", folder.Write("pw.json", R"({"wifi-station": {"password-file": "pw"}})"), "--target",
          target, "--report", folder.Write("pw", "Xq7-Secret-Zp")},
         "is a password file"},
    };
    for (const Case& c : cases) {
        const Result r = Tolctl(c.args);
        EXPECT_EQ(r.code, 2) << c.message;
        EXPECT_EQ(r.out, "") << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << "'" << c.message << "' not in: " << r.err;
    }
    EXPECT_EQ(printer.Accepted(), 0);
    EXPECT_EQ(folder.Read("good.json"), kProfile);
}

TEST(TolctlApplyTest, PasswordsNeverAppearInOutputReportsOrErrors) {
    const std::string password = "Xq7-Secret-Zp";
    std::string hex;  // as --dry-run would write its bytes
    for (unsigned char c : password) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x ", c);
        hex += pair;
    }
    hex.pop_back();
    const TempDir folder;
    folder.Write("wifi.pw", "Zz9-File-Secret\n");
    const std::string profile = folder.Write("shop.json", kProfile);
    const std::string fromFile = folder.Write(
        "file.json",
        R"({"wifi-station": {"ssid": "Shop", "password-file": "wifi.pw", "ip": "1.2.3.4", "gateway": "1.2.3.1"}})");
    FakeFleet fleet({Kind::None, Kind::Reset, Kind::Refuse});
    const std::string report = (folder / "report.json");
    const std::vector<std::vector<std::string>> runs = {
        {"apply", profile, "--targets", Own(folder, fleet, 0, 2), "--gap", "0", "--report", report},
        {"apply", profile, "--targets", Own(folder, fleet, 0, 2), "--dry-run"},
        {"apply", fromFile, "--target", Range(fleet, 0, 0), "--dry-run"},
        {"apply", folder.Write("syntax.json", R"({"wifi-station": {"password": Xq7-Secret-Zp}})"), "--target",
         Range(fleet, 0, 0)},
        {"apply", folder.Write("cut.json", "{\"wifi-station\": {\"password\": \"Xq7-Secret-Zp"), "--target",
         Range(fleet, 0, 0)},
        {"apply",
         folder.Write("long.json", R"({"wifi-station": {"ssid": "s", "password": "Xq7-Secret-Zp)" +
                                       std::string(120, 'x') +
                                       R"(", "ip": "1.2.3.4", "gateway": "1.2.3.1"}})"),
         "--target", Range(fleet, 0, 0)},
        {"apply", profile, "--targets",
         folder.Write("t.txt", Range(fleet, 0, 0) + " wifi-station.password=Xq7-Secret-Zp\xFF\n")},
        {"apply", profile, "--targets",
         folder.Write("w.txt", Range(fleet, 0, 0) + " wifi-station.password=Xq7-Secret-Zp\xE3\x81\x82\n")},
        {"apply", profile, "--targets",
         folder.Write("v.txt", Range(fleet, 0, 0) + " wifi-station.password= Xq7-Secret-Zp\n")},
        {"apply", profile, "--targets",
         folder.Write("u.txt", Range(fleet, 0, 0) + " wifi-station.password=Xq7-Secret-Zp" +
                                   std::string(120, 'y') + "\n")},
        // A password override in the report's overrides and planned settings.
        {"apply", profile, "--targets",
         folder.Write("s.txt",
                      Range(fleet, 1, 1) + " lan.ip=192.168.1.9 wifi-station.password=Xq7-Secret-Zp\n"),
         "--gap", "0", "--report", report},
    };
    for (const std::vector<std::string>& run : runs) {
        const Result r = Tolctl(run);
        EXPECT_NE(r.out + r.err, "") << run[1];
        for (const std::string& text : {r.out, r.err}) {
            for (const std::string& secret :
                 {password, hex, std::string("Zz9-File-Secret"), std::string("Xq7")}) {
                EXPECT_EQ(text.find(secret), std::string::npos) << run[1] << " shows '" << secret << "':\n"
                                                                << text;
            }
        }
    }
    const std::string written = folder.Read("report.json");
    EXPECT_NE(written.find("\"results\""), std::string::npos);
    EXPECT_EQ(written.find("Xq7"), std::string::npos);
    EXPECT_NE(written.find("\"wifi-station.password=(hidden)\""), std::string::npos) << written;
    // So a resume cannot give it again, and says so.
    const Result resumed = Tolctl({"apply", profile, "--resume", report});
    EXPECT_EQ(resumed.code, 2);
    EXPECT_NE(resumed.err.find("wifi-station.password: the report does not hold passwords"),
              std::string::npos)
        << resumed.err;
    // The printer did get it.
    EXPECT_NE(fleet[0].Received().at(3).find(password), std::string::npos);
}

TEST(TolctlApplyTest, DryRunShowsEachTargetsCommandsAsHexAndDecodedAndSendsNothing) {
    const TempDir folder;
    const std::string profile = folder.Write("p.json", R"({"bt-name": "Printer", "lan": {"ip": "10.0.0.5"},
        "wifi-station": {"ssid": "S", "password": "pw-12345", "ip": "1.2.3.4", "gateway": "1.2.3.1"}})");
    FakeFleet fleet({Kind::None});
    const Result r = Tolctl({"apply", profile, "--dry-run", "--targets",
                             folder.Write("t.txt", Range(fleet, 0, 0) + " lan.ip=10.0.0.6\n")});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string port = std::to_string(fleet.Port());
    const std::string station =
        "  1f 1a 1f 1b 1f 03 07 08 09 03 04 01 08 1d 53 ** ** ** ** ** ** ** ** 31 2e 32 2e 33 2e 34 2c 32 "
        "35 35 2e 32 35 35 "
        "2e 32 35 35 "
        "2e 30 2c 31 2e 32 2e 33 2e 31\n"
        "    wifi-station auth=3 enc=4 ssid=\"S\" password=(hidden) ip=1.2.3.4 mask=255.255.255.0 "
        "gateway=1.2.3.1\n";
    const std::string commands =
        "  1f 1b 1f f0 07 50 72 69 6e 74 65 72\n"
        "    bt-name \"Printer\"\n" +
        station +
        "  1f 1b 1d 00 0a 00 00 06\n"
        "    lan-ip 10.0.0.6\n";
    EXPECT_EQ(r.out, "socket://127.0.0.1:" + port + "\n" + commands);
    // The global --dry-run before the subcommand does the same; --show-secrets shows the password.
    const Result shown =
        Tolctl({"--dry-run", "--show-secrets", "apply", profile, "--target", Range(fleet, 0, 0)});
    EXPECT_NE(shown.out.find(" 53 70 77 2d 31 32 33 34 35 31 "), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find(" password=\"pw-12345\" "), std::string::npos) << shown.out;
    EXPECT_EQ(fleet[0].Accepted(), 0);
}

// A stand-in for a USB printer's device: a FIFO whose reading end is held open.
class FifoPrinter {
  public:
    explicit FifoPrinter(const std::string& path) : m_path(path) {
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        m_fd.Reset(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    }
    std::string Uri() const { return "usb:" + m_path; }
    std::string Received() {
        std::string bytes;
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(m_fd.Get(), buffer, sizeof buffer)) > 0) {
            bytes.append(buffer, static_cast<size_t>(got));
        }
        return bytes;
    }

  private:
    std::string m_path;
    UniqueFd m_fd;
};

TEST(TolctlApplyTest, TargetsOfOneDeviceAreServedOneAfterAnother) {
    // Two USB printers: the search could find either, so no two jobs ever use them at once.
    const TempDir folder;
    const std::string profile = folder.Write("p.json", R"({"bt-pin": "1", "after": ["cut"]})");
    FifoPrinter a(folder / "lp-a");
    FifoPrinter b(folder / "lp-b");
    FakePrinter tcp(Kind::None);
    const Result r = Tolctl({"apply", profile, "--target", a.Uri(), "--target", b.Uri(), "--target",
                             tcp.Uri(), "--gap", "60", "--report", (folder / "r.json")});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    const std::string expected = DryRunBytes({"bt-pin", "1"}) + DryRunBytes({"cut"});
    EXPECT_EQ(a.Received(), expected);
    EXPECT_EQ(b.Received(), expected);
    const nlohmann::json results = nlohmann::json::parse(folder.Read("r.json"))["results"];
    auto span = [&results](size_t i) {
        const nlohmann::json& commands = results[i]["commands"];
        const double end = commands[1]["start-ms"].get<double>() + commands[1]["ms"].get<double>();
        return std::make_pair(commands[0]["start-ms"].get<double>(), end);
    };
    EXPECT_GE(span(1).first, span(0).second);
    // The TCP printer did not wait for them.
    EXPECT_LT(span(2).first, span(0).second);
}

TEST(TolctlApplyTest, ProgressIsOneLineRewrittenInPlaceAndClearedAtTheEnd) {
    const TempDir folder;
    ApplyOptions options;
    options.profile = folder.Write("p.json", R"({"bt-pin": "1", "after": ["cut"]})");
    FakePrinter printer(Kind::None);
    options.targets = {printer.Uri()};
    options.gapMs = 250;
    options.progress = true;
    std::istringstream in;
    std::ostringstream out, err;
    ASSERT_EQ(RunApply(options, SendOptions(), in, out, err), 0) << err.str();
    const std::string progress = err.str();
    EXPECT_EQ(progress.find('\n'), std::string::npos) << progress;
    EXPECT_TRUE(std::regex_search(
        progress, std::regex("\rapply: 0 done, 0 failed, 1 total, [01]/2 commands sent, 0.0 printers/s")))
        << progress;
    EXPECT_EQ(progress.back(), '\r');
    // Without a terminal: nothing of it.
    options.progress = false;
    std::ostringstream quiet;
    ASSERT_EQ(RunApply(options, SendOptions(), in, out, quiet), 0);
    EXPECT_EQ(quiet.str(), "");
}

// Connections that the emulator's printers have had, as its state file says.
size_t Connections(const nlohmann::json& state) {
    size_t connections = 0;
    for (const auto& printer : state["printers"]) {
        connections += printer["connections"].get<size_t>();
    }
    return connections;
}

// The real program, as an operator runs it: signals, a closed output, a terminal, few files.
TolctlProgram ApplyProgram(std::vector<std::string> args, rlim_t fileLimit = 0, int err = -1) {
    args.insert(args.begin(), "apply");
    return TolctlProgram(args, {"", fileLimit, 0, -1, err});
}

// Sends `signal` to `apply` once the emulator's state shows more connections than `before`.
void SignalAfterACommand(TolctlProgram& apply, const std::string& state, int signal, size_t before = 0) {
    WaitForState(state, [before](const nlohmann::json& s) { return Connections(s) > before; });
    ::kill(apply.Pid(), signal);
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

const char* const kThreeCommands = R"({"bt-name": "a", "bt-pin": "1", "after": ["cut"]})";

TEST(TolctlApplyProgramTest, AStopRequestFinishesTheRecordAndAKillLeavesTheEarlierReport) {
    TempDir dir;
    const std::string state = dir / "state.json", profile = dir / "p.json", report = dir / "report.json";
    std::ofstream(profile) << kThreeCommands;
    std::ofstream(report) << "{\"earlier\": true}\n";
    // Eight printers, the first four slow, two at a time.
    auto fleetArgs = [&state] {
        return std::vector<std::string>{"--bind", "127.0.2.160/29", "--state",
                                        state,    "--fault",        "127.0.2.160-163=slow:300"};
    };
    auto args = [&](int port) {
        return std::vector<std::string>{
            profile,  "--target", "socket://127.0.2.160-167:" + std::to_string(port),
            "--jobs", "2",        "--gap",
            "100",    "--report", report};
    };
    {
        EmulatorProgram fleet(fleetArgs());
        TolctlProgram killed = ApplyProgram(args(fleet.Port()));
        SignalAfterACommand(killed, state, SIGKILL);
        EXPECT_EQ(killed.Wait(), "signal 9");
        EXPECT_EQ(ReadFile(report), "{\"earlier\": true}\n");
    }

    std::filesystem::remove(state);  // the printers' counts begin anew
    EmulatorProgram fleet(fleetArgs());
    TolctlProgram stopped = ApplyProgram(args(fleet.Port()));
    SignalAfterACommand(stopped, state, SIGINT);
    EXPECT_EQ(stopped.Wait(), "exit 130");
    EXPECT_NE(stopped.Errors().ReadToEnd().find("tolctl: apply: interrupted;"), std::string::npos)
        << stopped.Errors().Text();
    const std::vector<std::vector<std::string>> rows = TableRows(stopped.Output().ReadToEnd());
    ASSERT_EQ(rows.size(), 9u) << stopped.Output().Text();
    const nlohmann::json json = nlohmann::json::parse(ReadFile(report));
    ASSERT_EQ(json["results"].size(), 8u);
    size_t sent = 0, interrupted = 0;
    std::map<std::string, size_t> sentTo;
    for (size_t i = 0; i < 8; ++i) {
        const nlohmann::json& result = json["results"][i];
        EXPECT_EQ(rows[i + 1][1], result["result"]);
        interrupted += result["result"] == "interrupted" ? 1 : 0;
        size_t shown = 0;
        for (size_t c = 0; c < 3; ++c) {
            // What was sent is a beginning of the plan; the rest never went out.
            EXPECT_EQ(result["commands"][c]["result"], c < result["sent"] ? "sent" : "not sent") << result;
            shown += result["commands"][c]["result"] == "sent" ? 1 : 0;
        }
        EXPECT_EQ(result["sent"], shown);
        sent += shown;
        sentTo[result["target"].get<std::string>().substr(9)] = shown;
    }
    EXPECT_GT(interrupted, 0u);
    EXPECT_EQ(json["ok"].get<size_t>() + interrupted, 8u);
    // What each printer got is exactly what the report says was sent to it.
    const nlohmann::json got =
        WaitForState(state, [sent](const nlohmann::json& s) { return Connections(s) >= sent; });
    EXPECT_EQ(Connections(got), sent);
    for (const auto& printer : got["printers"].items()) {
        EXPECT_EQ(printer.value()["connections"], sentTo[printer.key()]) << printer.key();
    }

    // Asked twice, it ends at once: the report stays as it was, and nothing is left beside it.
    const std::string before = ReadFile(report);
    TolctlProgram hurried = ApplyProgram(args(fleet.Port()));
    const std::string temporary = report + ".tmp-" + std::to_string(hurried.Pid()) + "-";
    // Both requests wait while it is stopped, so that the second comes before the first could
    // finish the record (sent one after the other, a busy machine may let it finish in between).
    SignalAfterACommand(hurried, state, SIGSTOP, sent);
    for (const int signal : {SIGINT, SIGTERM, SIGCONT}) {
        ::kill(hurried.Pid(), signal);
    }
    EXPECT_EQ(hurried.Wait(), "exit 143");
    EXPECT_EQ(ReadFile(report), before);
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        EXPECT_NE(entry.path().string().rfind(temporary, 0), 0u) << entry.path();
    }
}

TEST(TolctlApplyProgramTest, ResumingServesAgainOnlyWhatWasNotOkAndKeepsEveryPrinterInTheReport) {
    TempDir dir;
    const std::string state = dir / "state.json", profile = dir / "p.json", report = dir / "r.json";
    std::ofstream(profile) << kThreeCommands;
    // 176-177 take everything, 178-179 refuse, 180-183 are slow: stopped during 180 or 181.
    const std::string net = "127.0.2.176/29";
    int port = 0;
    {
        EmulatorProgram fleet({"--bind", net, "--state", state, "--fault", "127.0.2.178-179=refuse",
                               "--fault", "127.0.2.180-183=slow:1000"});
        port = fleet.Port();
        TolctlProgram stopped =
            ApplyProgram({profile, "--target", "socket://127.0.2.176-183:" + std::to_string(port), "--jobs",
                          "2", "--gap", "100", "--report", report});
        SignalAfterACommand(stopped, state, SIGINT, 6);
        EXPECT_EQ(stopped.Wait(), "exit 130");
    }
    auto results = [&report] {
        std::vector<std::string> found;
        const nlohmann::json json = nlohmann::json::parse(ReadFile(report));
        for (const nlohmann::json& printer : json["results"]) {
            found.push_back(printer["target"].get<std::string>().substr(17, 3) + " " +
                            printer["result"].get<std::string>());
            EXPECT_EQ(printer["planned"],
                      nlohmann::json::parse(R"({"after": "cut", "bt-name": "a", "bt-pin": "1"})"));
        }
        return found;
    };
    EXPECT_EQ(results(),
              (std::vector<std::string>{"176 ok", "177 ok", "178 failed", "179 failed", "180 interrupted",
                                        "181 interrupted", "182 interrupted", "183 interrupted"}));
    const nlohmann::json first = nlohmann::json::parse(ReadFile(report))["results"];
    // The same printers, all good now, with a count of their own.
    std::filesystem::remove(state);
    EmulatorProgram fleet({"--bind", net, "--state", state}, 0, 0, port);
    auto contacted = [&state](size_t connections) {
        const nlohmann::json got = WaitForState(
            state, [connections](const nlohmann::json& s) { return Connections(s) >= connections; });
        std::vector<std::string> found;
        for (const auto& printer : got["printers"].items()) {
            if (printer.value()["connections"] != 0) {
                found.push_back(printer.key().substr(8, 3) + "x" + printer.value()["connections"].dump());
            }
        }
        return found;
    };
    Result r = Tolctl({"apply", profile, "--retry-failed", report, "--gap", "0"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(TableRows(r.out).size(), 3u) << r.out;
    EXPECT_EQ(contacted(6), (std::vector<std::string>{"178x3", "179x3"}));
    EXPECT_EQ(results()[2], "178 ok");
    EXPECT_EQ(results()[4], "180 interrupted");

    r = Tolctl({"apply", profile, "--resume", report, "--gap", "0"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("4 printers of '" + report + "' are carried over"), std::string::npos) << r.err;
    EXPECT_EQ(contacted(18),
              (std::vector<std::string>{"178x3", "179x3", "180x3", "181x3", "182x3", "183x3"}));
    for (const std::string& printer : results()) {
        EXPECT_EQ(printer.substr(4), "ok");
    }
    EXPECT_EQ(nlohmann::json::parse(ReadFile(report))["ok"], 8);
    // The printers carried over keep their own time and roll-out; the others have new ones.
    const nlohmann::json last = nlohmann::json::parse(ReadFile(report))["results"];
    for (const char* key : {"time", "rollout"}) {
        EXPECT_TRUE(first[0][key].is_string()) << first[0];
        EXPECT_EQ(last[0][key], first[0][key]);
        EXPECT_NE(last[2][key], first[2][key]);
    }

    // Another profile is refused unless forced; an old report or targets besides are refused.
    std::ofstream(profile) << R"({"bt-name": "b", "bt-pin": "1", "after": ["cut"]})";
    r = Tolctl({"apply", profile, "--resume", report});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("was written for another profile"), std::string::npos) << r.err;
    r = Tolctl({"apply", profile, "--resume", report, "--force"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("no printer to serve again"), std::string::npos) << r.err;
    std::ofstream(dir / "old.json")
        << R"({"results": [{"target": "socket://127.0.2.176", "result": "failed"}]})";
    r = Tolctl({"apply", profile, "--resume", dir / "old.json"});
    EXPECT_NE(r.err.find("not a report of tolctl apply that can be resumed"), std::string::npos) << r.err;
    r = Tolctl({"apply", profile, "--resume", report, "--target", "socket://127.0.2.176"});
    EXPECT_NE(r.err.find("give no --target or --targets"), std::string::npos) << r.err;
    r = Tolctl({"apply", profile, "--resume", report, "--retry-failed", report});
    EXPECT_NE(r.err.find("--resume and --retry-failed exclude each other"), std::string::npos) << r.err;
    EXPECT_EQ(contacted(18).size(), 6u);
}

TEST(TolctlApplyTest, AResumeChecksItsPrintersAgainstTheCarriedOnesAndRefusesADeepReport) {
    const TempDir folder;
    const std::string profile = folder.Write("p.json", R"({"bt-name": "a"})");
    auto entry = [](const std::string& last, const std::string& result, const std::string& ip) {
        return R"({"target": "socket://127.0.2.)" + last + R"(", "result": ")" + result +
               R"(", "overrides": ["lan.ip=)" + ip + R"("], "planned": {"lan.ip": ")" + ip + "\"}";
    };
    auto resume = [&](const std::string& results) {
        folder.Write("r.json", R"({"profile-digest": "x", "results": [)" + results + "]}");
        return Tolctl({"apply", profile, "--resume", (folder / "r.json"), "--force", "--dry-run"});
    };
    // A failed printer edited to an ok one's address, and a printer listed ok and failed.
    Result r = resume(entry("90", "ok", "10.0.0.5") + "}," + entry("91", "failed", "10.0.0.5") + "}," +
                      entry("90", "failed", "10.0.0.6") + "}");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("results[1] socket://127.0.2.91: socket://127.0.2.91 and socket://127.0.2.90 ("),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("are both given lan.ip 10.0.0.5; a static address belongs to one printer"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("socket://127.0.2.90 is already a target (" + (folder / "r.json") +
                         ": results[0] socket://127.0.2.90 (ok)); a printer is set up once"),
              std::string::npos)
        << r.err;
    // Nested too deep in an entry carried over as it is: refused before it is copied.
    r = resume(entry("90", "ok", "10.0.0.5") + ", \"x\": " + std::string(200000, '[') +
               std::string(200000, ']') + "}," + entry("91", "failed", "10.0.0.6") + "}");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(
        r.err.find("not a report of tolctl apply that can be resumed (objects and lists are nested more "
                   "than 64 deep)"),
        std::string::npos)
        << r.err;
}

TEST(TolctlApplyTest, TheReportsTemporaryFileIsNeverALinkPutInItsPlace) {
    const TempDir folder;
    const std::string victim = folder.Write("victim", "not to be written\n");
    const std::string report = (folder / "r.json");
    // Where a report's temporary file used to be: beside it, named after the process.
    ASSERT_EQ(::symlink(victim.c_str(), (report + ".tmp-" + std::to_string(::getpid())).c_str()), 0);
    const Result r = Tolctl({"apply", folder.Write("p.json", kThreeCommands), "--target",
                             "socket://127.0.2.99:1", "--report", report});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(folder.Read("victim"), "not to be written\n");
    EXPECT_NE(folder.Read("r.json").find("\"result\": \"failed\""), std::string::npos);
}

TEST(TolctlApplyProgramTest, AClosedOutputCostsNeitherTheRecordNorThePrinters) {
    TempDir dir;
    const std::string profile = dir / "p.json", report = dir / "report.json";
    std::ofstream(profile) << R"({"after": ["cut"]})";
    EmulatorProgram fleet({"--bind", "127.0.2.0/25"});
    TolctlProgram apply =
        ApplyProgram({profile, "--target", "socket://127.0.2.0-127:" + std::to_string(fleet.Port()), "--gap",
                      "0", "--report", report});
    apply.CloseOutput();  // as `| head -1` would, before the table (larger than a pipe's buffer)
    EXPECT_EQ(apply.Wait(), "exit 1");
    EXPECT_NE(apply.Errors().ReadToEnd().find("cannot write the output"), std::string::npos)
        << apply.Errors().Text();
    const nlohmann::json json = nlohmann::json::parse(ReadFile(report));
    EXPECT_EQ(json["ok"], 128);
}

TEST(TolctlApplyProgramTest, AFewOpenFilesLimitTheJobsAndFailNoPrinter) {
    TempDir dir;
    const std::string profile = dir / "p.json";
    std::ofstream(profile) << R"({"after": ["cut"]})";
    // Slow printers: each connection stays open a while, many at once.
    EmulatorProgram fleet({"--bind", "127.0.2.0/25", "--fault", "127.0.2.0/25=slow:300"});
    TolctlProgram apply =
        ApplyProgram({profile, "--target", "socket://127.0.2.0-127:" + std::to_string(fleet.Port()), "--gap",
                      "0", "--jobs", "1024"},
                     64);
    EXPECT_EQ(apply.Wait(), "exit 0") << apply.Errors().ReadToEnd();
    EXPECT_TRUE(
        std::regex_match(apply.Errors().ReadToEnd(),
                         std::regex("tolctl: apply: --jobs 1024 needs more open files than this "
                                    "process may have \\(64\\); serving [0-9]+ printers at a time\n")))
        << apply.Errors().Text();
    const std::string table = apply.Output().ReadToEnd();
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 129);
    EXPECT_EQ(table.find("fail"), std::string::npos) << table;

    // The emulator says at once how many printers fit, instead of failing at a bind.
    TolctlProgram listen({"listen", "--bind", "127.0.2.0/24", "--port", "0"}, {"", 64});
    EXPECT_EQ(listen.Wait(), "exit 2");
    PipeText& errors = listen.Errors();
    EXPECT_TRUE(std::regex_match(errors.ReadToEnd(),
                                 std::regex("tolctl: listen --bind: 256 printers need more open files than "
                                            "this process may have \\(64\\); [0-9]+ fit\n")))
        << errors.Text();
}

TEST(TolctlApplyProgramTest, OnATerminalTheProgressLineMovesWhilePrintersAreServed) {
    TempDir dir;
    const std::string profile = dir / "p.json";
    std::ofstream(profile) << kThreeCommands;
    FakeFleet fleet({Kind::None, Kind::None});
    int master = -1, terminal = -1;
    ASSERT_EQ(::openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    UniqueFd terminalEnd(terminal);
    TolctlProgram apply =
        ApplyProgram({profile, "--target", Range(fleet, 0, 1), "--gap", "300"}, 0, terminal);
    terminalEnd.Reset();
    PipeText shown{UniqueFd(master)};
    EXPECT_EQ(apply.Wait(), "exit 0");
    // Both printers end together, at the end: the commands sent are what moves until then.
    for (const char* step :
         {"0 done, 0 failed, 2 total, 2/6 commands sent", "0 done, 0 failed, 2 total, 4/6 commands sent"}) {
        EXPECT_NE(shown.ReadToEnd().find(step), std::string::npos) << shown.Text();
    }
}

}  // namespace

namespace {

// The rows of `tolctl record SUBCOMMAND... --format json` of the record `file`.
nlohmann::json RecordRows(const std::string& file, std::vector<std::string> args) {
    args.insert(args.begin(), "record");
    args.insert(args.end(), {"--format", "json", "--record", file});
    const Result r = Tolctl(args);
    EXPECT_LE(r.code, 1) << r.err;
    return nlohmann::json::parse(r.out, nullptr, false);
}

// The counts of record diff's states: "same=3 differs=1".
std::map<std::string, int> DiffStates(const std::string& file, const std::vector<std::string>& args) {
    std::map<std::string, int> states;
    std::vector<std::string> all = {"diff"};
    all.insert(all.end(), args.begin(), args.end());
    for (const auto& row : RecordRows(file, all)) {
        ++states[row["setting"].get<std::string>() + "=" + row["state"].get<std::string>()];
    }
    return states;
}

}  // namespace

TEST(TolctlApplyRecordTest, EverySendIsRecordedAndSkipSameContactsNoPrinterThatHasItAll) {
    const TempDir folder;
    const std::string record = (folder / "record.sqlite"), report = (folder / "r.json");
    const auto profile = [&](const std::string& password) {
        return folder.Write("p.json", R"({"bt-pin": "6042", "wifi-station": {"ssid": "Shop", "password": ")" +
                                          password + R"(", "ip": "192.168.1.200", "gateway": "192.168.1.1"},
                                          "after": ["cut"]})");
    };
    FakeFleet fleet({Kind::None, Kind::None, Kind::Refuse});
    const std::string targets =
        folder.Write("t.txt", Range(fleet, 0, 2) + " wifi-station.ip=192.168.1.201+\n");
    const auto apply = [&](const std::string& password, std::vector<std::string> more) {
        more.insert(more.begin(), {"apply", profile(password), "--targets", targets, "--gap", "0", "--record",
                                   record, "--report", report, "--connect-timeout", "0.3"});
        return Tolctl(more);
    };
    // --dry-run writes nothing; a record that cannot be written sends nothing.
    EXPECT_EQ(apply("Old-Secret-1", {"--dry-run", "--skip-same"}).code, 0);
    EXPECT_FALSE(std::filesystem::exists(record));
    const std::string plain = folder.Write("plain", "");  // no folder for a record
    Result r =
        Tolctl({"apply", profile("Old-Secret-1"), "--targets", targets, "--record", plain + "/r.sqlite"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("nothing was sent (--no-record"), std::string::npos) << r.err;
    EXPECT_EQ(fleet[0].CountConnections(100), 0);

    r = apply("Old-Secret-1", {});
    EXPECT_EQ(r.code, 1) << r.err;
    nlohmann::json first = nlohmann::json::parse(folder.Read("r.json"));
    EXPECT_EQ(first["results"][0]["rollout"], first["rollout"]);
    EXPECT_TRUE(first["results"][0]["time"].is_string());
    EXPECT_EQ(fleet[0].CountConnections(100), 3);
    EXPECT_EQ(fleet[1].CountConnections(0), 3);
    // Each command's settings with their results; the password only as its fingerprint.
    const nlohmann::json history = RecordRows(record, {"history", fleet[0].Uri()});
    ASSERT_EQ(history.size(), 9u) << history;  // bt-pin, the station's 7 settings, cut
    EXPECT_EQ(history[0]["setting"], "cut");
    EXPECT_EQ(Tolctl({"record", "export", "--record", record}).out.find("Old-Secret-1"), std::string::npos);
    // (The printers in the order their first rows were written: the jobs' order.)
    nlohmann::json refused;
    for (const nlohmann::json& printer : RecordRows(record, {"rollout", first["rollout"]})) {
        refused = printer["target"] == fleet[2].Uri() ? printer : refused;
    }
    EXPECT_EQ(refused["failed"], 1) << refused;
    EXPECT_EQ(refused["not-sent"], 8);
    std::map<std::string, int> states = DiffStates(record, {profile("Old-Secret-1"), "--targets", targets});
    EXPECT_EQ(states["bt-pin=failed"], 1);
    EXPECT_EQ(states["wifi-station.password=never-set"], 1);
    EXPECT_EQ(states["wifi-station.password=same"], 2);

    // Again with --skip-same: the printers that have it all are not contacted.
    r = apply("Old-Secret-1", {"--skip-same"});
    EXPECT_EQ(fleet[0].CountConnections(100) + fleet[1].CountConnections(0), 0);
    EXPECT_EQ(TableRows(r.out)[1][1], "unchanged");
    EXPECT_NE(r.err.find("0 of 3 printers changed, 2 unchanged"), std::string::npos) << r.err;
    const nlohmann::json same = nlohmann::json::parse(folder.Read("r.json"));
    EXPECT_EQ(same["profile-digest"], first["profile-digest"]);
    EXPECT_EQ(same["unchanged"], 2);

    // A new password: a new digest, and the station's command and the cut go out again, alone.
    r = apply("New-Secret-2", {"--skip-same"});
    EXPECT_NE(nlohmann::json::parse(folder.Read("r.json"))["profile-digest"], first["profile-digest"]);
    EXPECT_EQ(fleet[0].CountConnections(100), 2);
    EXPECT_EQ(
        DiffStates(record, {profile("Old-Secret-1"), "--targets", targets})["wifi-station.password=differs"],
        2);

    // A single command and the status reads (a row only when the status changes).
    EXPECT_EQ(Tolctl({"bt-pin", "7777", "--port", fleet[1].Uri(), "--record", record}).code, 0);
    EXPECT_EQ(RecordRows(record, {"history", fleet[1].Uri()})[0]["value"], "7777");
    for (int read = 0; read < 2; ++read) {
        EXPECT_EQ(Tolctl({"status", "--target", fleet[0].Uri(), "--record", record}).code, 0);
    }
    const nlohmann::json printers = RecordRows(record, {"printers", "--target", fleet[0].Uri()});
    EXPECT_EQ(printers[0]["state"], "ok");
    const std::string exported = Tolctl({"record", "export", "--record", record}).out;
    EXPECT_NE(exported.find("\"type\":\"status\""), std::string::npos);
    EXPECT_EQ(exported.find("\"type\":\"status\""), exported.rfind("\"type\":\"status\"")) << exported;
}

TEST(TolctlApplyRecordTest, AKilledApplyLeavesARecordWhoseSentRowsThePrintersReceived) {
    TempDir dir;
    const std::string state = dir / "state.json", profile = dir / "p.json", record = dir / "record.sqlite";
    std::ofstream(profile) << kThreeCommands;  // one setting a command
    EmulatorProgram fleet(
        {"--bind", "127.0.2.192/27", "--state", state, "--fault", "127.0.2.192/27=slow:100"});
    TolctlProgram killed =
        ApplyProgram({profile, "--target", "socket://127.0.2.192-223:" + std::to_string(fleet.Port()),
                      "--jobs", "8", "--gap", "0", "--record", record});
    SignalAfterACommand(killed, state, SIGKILL, 20);
    EXPECT_EQ(killed.Wait(), "signal 9");
    // The emulator's count settles; the record opens as it is.
    nlohmann::json got = ReadState(state);
    for (size_t last = SIZE_MAX; Connections(got) != last;) {
        last = Connections(got);
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        got = ReadState(state);
    }
    const nlohmann::json rollouts = RecordRows(record, {"rollouts"});
    ASSERT_EQ(rollouts.size(), 1u);
    EXPECT_TRUE(rollouts[0]["ended"].is_null());
    // The commands a printer took (a connection opened for a command whose row was not yet
    // written took nothing).
    const auto took = [](const nlohmann::json& printer) {
        return (printer.contains("bt-name") ? 1u : 0u) + (printer.contains("bt-pin") ? 1u : 0u) +
               printer["counts"]["cut"].get<size_t>();
    };
    size_t sent = 0, inFlight = 0, inRecord = 0, all = 0;
    for (const auto& printer : got["printers"]) {
        all += took(printer);
    }
    for (const auto& printer : RecordRows(record, {"rollout", rollouts[0]["rollout"]})) {
        const size_t received = took(got["printers"][printer["target"].get<std::string>().substr(9)]);
        inRecord += received;
        EXPECT_GE(received, printer["sent"].get<size_t>()) << printer;
        EXPECT_LE(received, printer["sent"].get<size_t>() + printer["in-flight"].get<size_t>()) << printer;
        sent += printer["sent"].get<size_t>();
        inFlight += printer["in-flight"].get<size_t>();
    }
    EXPECT_EQ(inRecord, all);  // no printer took anything unrecorded
    EXPECT_GE(sent, 20u);
    EXPECT_LE(inFlight, 16u);  // two a job at most: the one being sent and the next
}

TEST(TolctlApplyRecordTest, TwoAppliesAndAStatusWriteOneRecordAtOnceWithoutLosingARow) {
    TempDir dir;
    const std::string profile = dir / "p.json", record = dir / "record.sqlite";
    std::ofstream(profile) << kThreeCommands;
    EmulatorProgram fleet({"--bind", "127.0.3.1-128"});
    const std::string port = std::to_string(fleet.Port());
    std::vector<TolctlProgram> applies;
    for (const char* range : {"1-64", "65-128"}) {
        applies.push_back(
            ApplyProgram({profile, "--target", "socket://127.0.3." + std::string(range) + ":" + port, "--gap",
                          "0", "--jobs", "16", "--record", record}));
    }
    const Result status = Tolctl(
        {"status", "--target", "socket://127.0.3.1-128:" + port, "--timeout", "10000", "--record", record});
    EXPECT_EQ(status.code, 0) << status.err;
    for (TolctlProgram& apply : applies) {
        EXPECT_EQ(apply.Wait(), "exit 0") << apply.Errors().ReadToEnd();
        EXPECT_EQ(apply.Errors().ReadToEnd(), "");
    }
    EXPECT_EQ(status.err, "");
    size_t sent = 0;
    const nlohmann::json rollouts = RecordRows(record, {"rollouts"});
    ASSERT_EQ(rollouts.size(), 2u);
    for (const auto& rollout : rollouts) {
        for (const auto& printer : RecordRows(record, {"rollout", rollout["rollout"]})) {
            sent += printer["sent"].get<size_t>();
        }
    }
    EXPECT_EQ(sent, 128u * 3);
    size_t read = 0;
    for (const auto& row : RecordRows(record, {"printers"})) {
        read += row["setting"] == "bt-name" && row["state"] == "ok" ? 1 : 0;
    }
    EXPECT_EQ(read, 128u);
}

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "fleet/Profile.h"
#include "system/OemText.h"
#include "tests/support/TempDir.h"
#include "tests/support/TolctlRun.h"
#include "tolctl/Tolctl.h"

namespace {

std::string Bytes(const PlannedCmd& planned) {
    return std::string(reinterpret_cast<const char*>(planned.cmd->GetData()),
                       static_cast<size_t>(planned.cmd->GetLength()));
}

struct Loaded {
    bool ok = false;
    Settings settings;
    std::vector<std::string> errors;
    std::vector<PlannedCmd> plan;

    std::string Errors() const {
        std::string all;
        for (const std::string& e : errors) {
            all += e + "\n";
        }
        return all;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const PlannedCmd& planned : plan) {
            names.push_back(planned.name);
        }
        return names;
    }
};

// Parses `json` as the profile "p.json" and, when that worked, plans its commands.
Loaded Load(const std::string& json, std::vector<std::string> overrides = {}, const std::string& input = "") {
    Loaded loaded;
    std::istringstream in(input);
    SecretSource secrets(in);
    loaded.ok = ParseProfile(json, "p.json", secrets, loaded.settings, loaded.errors);
    SetOverrides(overrides, "t.txt:1", "t.txt", secrets, loaded.settings, loaded.errors);
    loaded.ok =
        loaded.ok && loaded.errors.empty() &&
        PlanCommands(loaded.settings, overrides.empty() ? "p.json" : "t.txt:1", loaded.plan, loaded.errors);
    SetOemCodePage("CP437");
    return loaded;
}

const char* const kFullProfile = R"({
  "wifi-ap":      {"name": "Shop Printer", "mode": "apsta"},
  "wifi-station": {"ssid": "Shop", "password": "secret12", "auth": "wpapsk", "enc": "tkip",
                   "ip": "192.168.1.200", "mask": "255.255.0.0", "gateway": "192.168.1.1"},
  "bt-name": "Printer",
  "bt-pin": "6042",
  "lan": {"ip": "192.168.1.123", "mask": "255.255.255.0", "gateway": "192.168.1.1",
          "mac": "9E:22:56:1C", "dhcp": false},
  "after": ["test-print", "cut", "open-drawer"]
})";

TEST(ProfileTest, CommandsComeInTheOrderThatKeepsThePrinterReachableWithTheBytesOfSingleCalls) {
    const Loaded loaded = Load(kFullProfile);
    ASSERT_TRUE(loaded.ok) << loaded.Errors();
    EXPECT_EQ(loaded.Names(), (std::vector<std::string>{"wifi-ap", "bt-name", "bt-pin", "wifi-station",
                                                        "lan-mask", "lan-gateway", "lan-mac", "test-print",
                                                        "cut", "open-drawer", "lan-ip", "lan-dhcp"}));
    const std::vector<std::vector<std::string>> singles = {
        {"wifi-ap", "--name", "Shop Printer", "--mode", "apsta"},
        {"bt-name", "Printer"},
        {"bt-pin", "6042"},
        {"wifi-station", "--ssid", "Shop", "--password", "secret12", "--auth", "wpapsk", "--enc", "tkip",
         "--ip", "192.168.1.200", "--mask", "255.255.0.0", "--gateway", "192.168.1.1"},
        {"lan-mask", "255.255.255.0"},
        {"lan-gateway", "192.168.1.1"},
        {"lan-mac", "9E:22:56:1C"},
        {"test-print"},
        {"cut"},
        {"open-drawer"},
        {"lan-ip", "192.168.1.123"},
        {"lan-dhcp", "off"},
    };
    ASSERT_EQ(loaded.plan.size(), singles.size());
    for (size_t i = 0; i < singles.size(); ++i) {
        EXPECT_EQ(Bytes(loaded.plan[i]), DryRunBytes(singles[i])) << singles[i][0];
    }
    // The password's bytes, and only they, are marked as secret.
    const PlannedCmd& station = loaded.plan[3];
    EXPECT_EQ(Bytes(station).substr(station.secretBegin, station.secretEnd - station.secretBegin),
              "secret12");
    for (size_t i = 0; i < loaded.plan.size(); ++i) {
        EXPECT_EQ(loaded.plan[i].secretEnd > loaded.plan[i].secretBegin, i == 3) << loaded.plan[i].name;
    }

    // Defaults are those of the options; a group that is absent sends nothing.
    const Loaded defaults = Load(R"({"wifi-ap": {"name": "x"}, "wifi-station": {"ssid": "s", "ip": "1.2.3.4",
                                    "gateway": "1.2.3.1", "password": "12345678"}, "lan": {"dhcp": "ON"}})");
    ASSERT_TRUE(defaults.ok) << defaults.Errors();
    ASSERT_EQ(defaults.Names(), (std::vector<std::string>{"wifi-ap", "wifi-station", "lan-dhcp"}));
    EXPECT_EQ(Bytes(defaults.plan[0]), DryRunBytes({"wifi-ap", "--name", "x"}));
    EXPECT_EQ(Bytes(defaults.plan[1]), DryRunBytes({"wifi-station", "--ssid", "s", "--ip", "1.2.3.4",
                                                    "--gateway", "1.2.3.1", "--password", "12345678"}));
    EXPECT_EQ(Bytes(defaults.plan[2]), DryRunBytes({"lan-dhcp", "on"}));
}

TEST(ProfileTest, TheExampleLoadsAndEveryKeyOfItIsKnown) {
    const Loaded loaded = Load(ExampleProfile());
    ASSERT_TRUE(loaded.ok) << loaded.Errors();
    EXPECT_EQ(loaded.Names(),
              (std::vector<std::string>{"wifi-ap", "bt-name", "bt-pin", "wifi-station", "lan-mask",
                                        "lan-gateway", "test-print", "cut", "lan-dhcp"}));
    // Beside a network to join, the access point's mode is one that joins it (apsta).
    EXPECT_EQ(Bytes(loaded.plan[0]), DryRunBytes({"wifi-ap", "--name", "Shop Printer", "--mode", "apsta"}));
    // Comments may stand in every object, also with values that are not text.
    const Loaded comments = Load(
        R"({"//": 1, "// two": [1, 2], "lan": {"//": {"a": 1, "a": [{"b": 1, "b": 2}]}, "ip": "1.2.3.4"}})");
    ASSERT_TRUE(comments.ok) << comments.Errors();
    EXPECT_EQ(comments.Names(), std::vector<std::string>{"lan-ip"});
}

TEST(ProfileTest, EachProblemNamesItsKeyAndTheLimitAndAllAreReportedAtOnce) {
    struct Case {
        std::string json;
        std::string message;
        std::string codePage = "CP437";
    };
    const Case cases[] = {
        {R"({"lan": {"ip": "192.168.1"}})", "p.json: lan.ip: '192.168.1' is not an IPv4 address"},
        {R"({"lan": {"gateway": "127.1"}})", "p.json: lan.gateway: '127.1' is not an IPv4 address"},
        {R"({"lan": {"ip": "127.0.0.5+"}})", "(an address counts up in a targets file's line or cell: lan.ip=127.0.0.5+)"},
        {R"({"lan": {"mask": "0xffffff00"}})", "lan.mask: '0xffffff00' is not an IPv4 address"},
        {R"({"lan": {"ip": "10.1.0.9", "mask": "255.255.0.0", "gateway": "10.1.255.255"}})",
         "lan.gateway: 10.1.255.255 is the broadcast address of the network 10.1.0.0 with mask 255.255.0.0"},
        {R"({"wifi-station": {"ssid": "s", "ip": "1.2.3.4", "gateway": "1.2.3.256"}})",
         "wifi-station.gateway:"},
        {R"({"wifi-ap": {"name": "12345678901234567890123456789012"}})",
         "p.json: wifi-ap.name: The access point name has 32 characters; at most 31 fit."},
        {R"({"wifi-ap": {"name": "x", "mode": "3"}})",
         "wifi-ap.mode: '3' is not one of ap|sta|apsta (or 0-2)"},
        {R"({"wifi-station": {"auth": "wpa3"}})",
         "wifi-station.auth: 'wpa3' is not one of open|shared|wpapsk"},
        {R"({"wifi-station": {"enc": "ccmp"}})", "wifi-station.enc: 'ccmp' is not one of none|"},
        {R"({"lan": {"dhcp": "maybe"}})", "lan.dhcp: 'maybe' is not one of off|on|false|true"},
        {R"({"lan": {"dhcp": 1}})", "lan.dhcp: must be true or false"},
        {R"({"lan": {"mac": "9E:22:56"}})", "lan.mac: '9E:22:56' is not four bytes"},
        {R"({"bt-pin": 6042})", "p.json: bt-pin: must be text in double quotes"},
        {R"({"bt-name": null})", "bt-name: must be text in double quotes"},
        {R"({"bt-name": "a\u0000b"})", "bt-name holds a 00 character"},
        {R"({"bt-name": "\u3042"})", "bt-name: The Bluetooth name holds characters that code page CP932",
         "CP932"},
        {R"({"bt-name": "Caf\u00e9 \u3042"})", "bt-name: '\xE3\x81\x82' that code page CP437 cannot write"},
        {R"({"wifi-station": {"password": "pa\u3042ss"}})",
         "wifi-station.password: it holds characters that code page CP437 cannot write"},
        {R"({"after": "cut"})", "after: must be a list of commands"},
        {R"({"after": ["cut", "dance"]})", "after: 'dance' is not one of test-print|cut|open-drawer|"},
        {R"({"after": [1]})", "after: each command must be text"},
        {R"({"lan": {"ipp": "1.2.3.4"}})",
         "p.json: 'lan.ipp': not a key of lan (ip, mask, gateway, mac, dhcp)"},
        {R"({"wifi_ap": {}})", "'wifi_ap': not a profile key (wifi-ap, bt-name, bt-pin, "},
        {R"({"lan": "1.2.3.4"})", "p.json: lan: must be an object"},
        {R"({"bt-pin": "1", "bt-pin": "2"})", "p.json: 'bt-pin': given twice"},
        {R"({"lan": {"ip": "1.2.3.4", "ip": "1.2.3.5"}})", "'lan.ip': given twice"},
        {R"(["bt-pin"])", "p.json: a profile is a JSON object"},
        {R"({"wifi-station": {"password": "a", "password-file": "b"}})",
         "wifi-station: password and password-file exclude each other"},
        {R"({"wifi-ap": {"mode": "sta"}})", "p.json: wifi-ap.name: missing; wifi-ap needs name"},
        {R"({"wifi-station": {"ssid": "s", "gateway": "1.2.3.1"}})",
         "wifi-station.ip: missing; wifi-station needs ssid, ip, gateway"},
        {R"({"wifi-station": {"ssid": ")" + std::string(100, 's') + R"(", "password": ")" +
             std::string(20, 'p') + R"(", "ip": "1.2.3.4", "gateway": "1.2.3.1"}})",
         "wifi-station.ssid/password: The station text (network name, password and addresses) has 149 "
         "characters; "
         "at most 127 fit."},
        {"{\"//\": " + std::string(100000, '[') + std::string(100000, ']') + "}",
         "p.json: objects and lists are nested more than 64 deep"},
        {R"({"lan": {"ip": "127.0.14.040"}})", "lan.ip: '127.0.14.040': leading zeros are ambiguous"},
        {R"({"lan": {"mac": "158.34.86.028"}})", "lan.mac: '158.34.86.028': leading zeros are ambiguous"},
        {R"({"bt-name": ")" + std::string(64, 'n') + R"("})",
         "p.json: bt-name: The Bluetooth name has 64 characters; at most 63 fit."},
        {R"({"bt-pin": ""})", "p.json: bt-pin: the Bluetooth PIN is empty"},
        {R"({"lan": {"mask": "255.255.0.255"}})", "lan.mask: 255.255.0.255 is not a subnet mask"},
        {R"({"lan": {"ip": "255.255.255.255"}})", "lan.ip: 255.255.255.255 cannot be a printer's address"},
        {R"({"lan": {"ip": "10.1.0.0", "mask": "255.255.0.0"}})",
         "lan.ip: 10.1.0.0 is the network address of its network 10.1.0.0 with mask 255.255.0.0"},
        {R"({"wifi-station": {"ssid": "s", "password": "seven77", "ip": "1.2.3.4", "gateway": "1.2.3.1"}})",
         "wifi-station.password: wpa2psk needs a passphrase of 8-63 characters, not 7"},
        // A kept password as the console answers it, applied as it is: never sent.
        {R"j({"wifi-station": {"ssid": "s", "password": "(hidden)", "ip": "1.2.3.4", "gateway": "1.2.3.1"}})j",
         "p.json: wifi-station.password: (hidden) is how a hidden password is shown, not a password"},
        {R"({"wifi-station": {"ssid": "", "auth": "open", "ip": "1.2.3.4", "gateway": "1.2.3.1"}})",
         "wifi-station.ssid: the network name is empty"},
        {R"({"wifi-station": {"ssid": "s", "auth": "open", "ip": "10.0.3.255", "mask": "255.255.252.0",
             "gateway": "10.0.0.1"}})",
         "wifi-station.ip: 10.0.3.255 is the broadcast address"},
        {"{\"bt-name\": \"x\",}",
         "p.json: not JSON: line 1, column 17: syntax error while parsing object key"},
        {"", "p.json: not JSON: line 1, column 1:"},
    };
    for (const Case& c : cases) {
        SetOemCodePage(c.codePage);
        const Loaded loaded = Load(c.json);
        EXPECT_FALSE(loaded.ok) << c.json;
        EXPECT_NE(loaded.Errors().find(c.message), std::string::npos)
            << "'" << c.message << "' not in: " << loaded.Errors();
    }
    // Every problem of a profile at once, not only the first.
    const Loaded many =
        Load(R"({"lan": {"ip": "1.2.3", "mask": "x"}, "bt-pin": 1, "wifi-ap": {"nam": "x"}})");
    EXPECT_EQ(many.errors.size(), 4u) << many.Errors();
}

TEST(ProfileTest, ParseErrorsNeverShowTheTextRead) {
    // The text around a syntax error may be a password; the message gives only where it is.
    for (const std::string json : {R"({"wifi-station": {"password": "Hunter2-secret)",
                                   R"({"wifi-station": {"password": Hunter2-secret}})",
                                   "{\"wifi-station\": {\"password\": \"Hunter2-secret\n\"}}",
                                   "{\"wifi-station\": {\"password\": \"Hunter2-secret\xFF\"}}"}) {
        const Loaded loaded = Load(json);
        EXPECT_FALSE(loaded.ok);
        ASSERT_FALSE(loaded.errors.empty());
        EXPECT_NE(loaded.Errors().find("p.json: not JSON: line "), std::string::npos) << loaded.Errors();
        EXPECT_EQ(loaded.Errors().find("Hunter"), std::string::npos) << loaded.Errors();
    }
}

TEST(ProfileTest, PasswordFileIsReadBesideTheProfileAndItsProblemsNameOnlyTheFile) {
    const TempDir dir;
    dir.Write("wifi.pw", "pass word\n");
    dir.Write("bad.pw", std::string("S\0e\0", 4));
    const std::string station = R"(, "ssid": "s", "ip": "1.2.3.4", "gateway": "1.2.3.1"}})";
    const std::string profile =
        dir.Write("p.json", R"({"wifi-station": {"password-file": "wifi.pw")" + station);
    std::istringstream in;
    SecretSource secrets(in);
    Settings settings;
    std::vector<std::string> errors;
    ASSERT_TRUE(LoadProfile(profile, secrets, settings, errors)) << errors[0];
    std::vector<PlannedCmd> plan;
    ASSERT_TRUE(PlanCommands(settings, "p.json", plan, errors));
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(Bytes(plan[0]), DryRunBytes({"wifi-station", "--ssid", "s", "--password", "pass word", "--ip",
                                           "1.2.3.4", "--gateway", "1.2.3.1"}));

    const std::string bad = dir.Write("q.json", R"({"wifi-station": {"password-file": "bad.pw")" + station);
    Settings other;
    EXPECT_FALSE(LoadProfile(bad, secrets, other, errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("q.json: wifi-station.password-file: "), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("bad.pw"), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("00 byte"), std::string::npos) << errors[0];

    // Standard input is read once, however many targets name it.
    const Loaded fromInput = Load(R"({"wifi-station": {"password-file": "-")" + station,
                                  {"wifi-station.password-file=-", "bt-pin=1"}, "pass word\r\n");
    ASSERT_TRUE(fromInput.ok) << fromInput.Errors();
    EXPECT_EQ(Bytes(fromInput.plan[1]), Bytes(plan[0]));
    errors.clear();
    Settings none;
    EXPECT_FALSE(LoadProfile((dir / "missing.json"), secrets, none, errors));
    EXPECT_NE(errors[0].find("cannot read"), std::string::npos) << errors[0];
}

TEST(ProfileTest, AReportThatWouldOverwriteTheProfileIsRefusedUnderAnyName) {
    const TempDir dir;
    const std::string profile = dir.Write("p.json", R"({"bt-pin": "1"})");
    std::filesystem::create_directories(dir / "sub");
    const TolctlResult r =
        Tolctl({"apply", profile, "--target", "socket://127.0.0.1:9", "--report", dir / "sub/../p.json"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("is the profile"), std::string::npos) << r.err;
}

TEST(ProfileTest, OverridesReplaceTheProfilesValuesAndAreCheckedTheSameWay) {
    const std::string base = R"({"bt-name": "Printer", "lan": {"ip": "192.168.1.50"}, "after": ["cut"],
        "wifi-station": {"ssid": "s", "password": "password", "ip": "1.2.3.4", "gateway": "1.2.3.1"}})";
    const Loaded loaded = Load(base, {"lan.ip=192.168.1.51", "bt-name=Till 3", "after=test-print,open-drawer",
                                      "lan.dhcp=false", "wifi-station.password=other-pw", "wifi-ap.name=AP"});
    ASSERT_TRUE(loaded.ok) << loaded.Errors();
    EXPECT_EQ(loaded.Names(), (std::vector<std::string>{"wifi-ap", "bt-name", "wifi-station", "test-print",
                                                        "open-drawer", "lan-ip", "lan-dhcp"}));
    EXPECT_EQ(Bytes(loaded.plan[1]), DryRunBytes({"bt-name", "Till 3"}));
    EXPECT_EQ(Bytes(loaded.plan[2]), DryRunBytes({"wifi-station", "--ssid", "s", "--password", "other-pw",
                                                  "--ip", "1.2.3.4", "--gateway", "1.2.3.1"}));
    EXPECT_EQ(Bytes(loaded.plan[5]), DryRunBytes({"lan-ip", "192.168.1.51"}));
    EXPECT_EQ(Bytes(loaded.plan[6]), DryRunBytes({"lan-dhcp", "off"}));
    EXPECT_EQ(Load(base, {"after="}).Names(),
              (std::vector<std::string>{"bt-name", "wifi-station", "lan-ip"}));

    struct Case {
        std::string assignment;
        std::string message;
    };
    const Case cases[] = {
        {"lan.ip=192.168.1", "t.txt:1: lan.ip: '192.168.1' is not an IPv4 address"},
        {"wifi-ap.name=" + std::string(40, 'n'),
         "t.txt:1: wifi-ap.name: The access point name has 40 characters"},
        {"lan.ipp=1.2.3.4", "t.txt:1: 'lan.ipp': not a profile key"},
        {"lan=1.2.3.4", "'lan': not a profile key (lan.ip, mask, gateway, mac, dhcp)"},
        {"bt-name", "t.txt:1: an override without '=': write KEY=VALUE"},
        {"after=cut,,test-print", "after: '' is not one of"},
        {"wifi-station.password-file=no-such.pw", "t.txt:1: wifi-station.password-file: cannot read"},
        {"wifi-station.ssid=" + std::string(130, 's'),
         "t.txt:1: wifi-station.ssid/password: The station text"},
        {"wifi-station.password=" + std::string(64, 'p'), "t.txt:1: wifi-station.password: wpa2psk needs"},
        {"bt-pin=" + std::string(64, '1'), "t.txt:1: bt-pin: The Bluetooth PIN has 64 characters"},
        {"wifi-station.ip=1.2.3.0", "t.txt:1: wifi-station.ip: 1.2.3.0 is the network address"},
        {"wifi-station.gateway=1.2.4.1",
         "wifi-station.gateway: 1.2.4.1 is outside the printer's network 1.2.3.0"},
        {"lan.ip=192.168.001.51", "t.txt:1: lan.ip: '192.168.001.51': leading zeros are ambiguous"},
        // A spreadsheet's cell may hold a line break: it would reach the printer inside the name.
        {"bt-name=Till\n3", "t.txt:1: bt-name holds a control character (U+000A, a line break)"},
        {"wifi-station.ssid=sh\top", "wifi-station.ssid holds a control character (U+0009, a tab)"},
        {"wifi-station.password=pass\x7fword", "wifi-station.password holds a control character (U+007F)"},
        {"wifi-station.password=(hidden)",
         "t.txt:1: wifi-station.password: (hidden) is how a hidden password"},
    };
    for (const Case& c : cases) {
        const Loaded refused = Load(base, {c.assignment});
        EXPECT_FALSE(refused.ok) << c.assignment;
        EXPECT_NE(refused.Errors().find(c.message), std::string::npos)
            << "'" << c.message << "' not in: " << refused.Errors();
    }
    // One key twice on one line is a mistake, not "the last one wins"; a password given both ways too.
    EXPECT_NE(Load(base, {"bt-name=a", "lan.ip=1.2.3.5", "bt-name=b"})
                  .Errors()
                  .find("t.txt:1: bt-name: given twice"),
              std::string::npos);
    EXPECT_NE(Load(base, {"wifi-station.password=password", "wifi-station.password-file=-"}, "pass word")
                  .Errors()
                  .find("t.txt:1: wifi-station.password: given twice"),
              std::string::npos);
}

#ifndef _WIN32
TEST(ProfileTest, TheSchemaKnowsExactlyTheKeysTolctlKnows) {
    std::ifstream file(TOL_SOURCE_DIR "/docs/profile.schema.json");
    ASSERT_TRUE(file) << "docs/profile.schema.json";
    const nlohmann::json schema = nlohmann::json::parse(file);
    std::set<std::string> inSchema;
    for (const auto& top : schema.at("properties").items()) {
        const auto inner = top.value().find("properties");
        if (inner == top.value().end()) {
            inSchema.insert(top.key());
            continue;
        }
        for (const auto& key : inner->items()) {
            inSchema.insert(top.key() + "." + key.key());
        }
    }
    std::set<std::string> known;
    for (const ProfileKey& key : ProfileKeys()) {
        known.insert(key.name);
    }
    EXPECT_EQ(inSchema, known);
}
#endif

}  // namespace

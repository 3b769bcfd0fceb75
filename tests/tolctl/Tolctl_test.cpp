#include <gtest/gtest.h>

#include <sstream>

#include "OemText.h"
#include "Tolctl.h"

namespace {

struct Result {
    int code;
    std::string out;
    std::string err;
};

Result Tolctl(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), "tolctl");
    std::istringstream in(input);
    std::ostringstream out, err;
    const int code = RunTolctl(args, in, out, err);
    SetOemCodePage("CP437");  // a --codepage of one run must not leak into the next
    return {code, out.str(), err.str()};
}

std::string DryRun(std::vector<std::string> args) {
    args.insert(args.begin(), "--dry-run");
    const Result r = Tolctl(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return r.out;
}

std::string Unhex(const std::string& hex) {
    std::string bytes;
    std::istringstream stream(hex);
    std::string pair;
    while (stream >> pair) {
        bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
    }
    return bytes;
}

struct Case {
    std::vector<std::string> args;
    std::string hex;
    std::string decoded;
};

const Case kCases[] = {
    {{"test-print"}, "", "test-print"},
    {{"cut"}, "1d 56 01", "cut"},
    {{"open-drawer"}, "1b 70 00 40 50", "open-drawer"},
    {{"factory-mode"}, "1f 1a 1b 1c", "factory-mode"},
    {{"hex-mode"}, "1f 28 41", "hex-mode"},
    {{"wifi-factory"}, "1f 1b 1f 11", "wifi-factory"},
    {{"wifi-ap", "--name", "Thermal Printer", "--mode", "ap"},
     "1f 1a 1f 1b 1f 03 0a 0b 0c 00 0f 54 68 65 72 6d 61 6c 20 50 72 69 6e 74 65 72",
     "wifi-ap mode=0 name=\"Thermal Printer\""},
    {{"wifi-ap", "--name", "", "--mode", "2"}, "1f 1a 1f 1b 1f 03 0a 0b 0c 02 00", "wifi-ap mode=2 name=\"\""},
    {{"wifi-station", "--ssid", "WIFI Name", "--auth", "open", "--enc", "none", "--ip", "192.168.1.200", "--mask",
      "255.255.255.0", "--gateway", "192.168.1.1"},
     "1f 1a 1f 1b 1f 03 07 08 09 00 00 09 00 27 57 49 46 49 20 4e 61 6d 65 31 39 32 2e 31 36 38 2e 31 2e 32 30 30 "
     "2c 32 35 35 2e 32 35 35 2e 32 35 35 2e 30 2c 31 39 32 2e 31 36 38 2e 31 2e 31",
     "wifi-station auth=0 enc=0 ssid=\"WIFI Name\" password=\"\" ip=192.168.1.200 mask=255.255.255.0 "
     "gateway=192.168.1.1"},
    {{"wifi-station", "--ssid", "Home", "--password", "pw", "--auth", "3", "--enc", "aes", "--ip", "10.0.5.200",
      "--gateway", "10.0.5.1"},
     "",
     "wifi-station auth=3 enc=4 ssid=\"Home\" password=\"pw\" ip=10.0.5.200 mask=255.255.255.0 gateway=10.0.5.1"},
    {{"bt-name", "Printer"}, "1f 1b 1f f0 07 50 72 69 6e 74 65 72", "bt-name \"Printer\""},
    {{"bt-pin", "6042"}, "1f 1b 1f 09 04 36 30 34 32", "bt-pin \"6042\""},
    {{"bt-read-pin"}, "1f 1b 1f 0a", "bt-read-pin"},
    {{"bt-check"}, "1f 1b 1f 0b", "bt-check"},
    {{"lan-ip", "192.168.1.123"}, "1f 1b 1d 00 c0 a8 01 7b", "lan-ip 192.168.1.123"},
    {{"lan-mask", "255.255.255.0"}, "1f 1b 1d 01 ff ff ff 00", "lan-mask 255.255.255.0"},
    {{"lan-gateway", "192.168.1.1"}, "1f 1b 1d 02 c0 a8 01 01", "lan-gateway 192.168.1.1"},
    {{"lan-mac", "158.34.86.28"}, "1f 1b 1d 03 bc 20 9e 22 56 1c", "lan-mac 158.34.86.28"},
    {{"lan-mac", "9E:22:56:1c"}, "1f 1b 1d 03 bc 20 9e 22 56 1c", "lan-mac 158.34.86.28"},
    {{"lan-dhcp", "on"}, "1f 1a 1f 1b 1f 1b 08 01", "lan-dhcp 1"},
    {{"lan-dhcp", "0"}, "1f 1a 1f 1b 1f 1b 08 00", "lan-dhcp 0"},
};

TEST(Tolctl, DryRunPrintsTheExactBytesAndDecodeGivesTheArgumentsBack) {
    for (const Case& c : kCases) {
        const std::string out = DryRun(c.args);
        ASSERT_FALSE(out.empty()) << c.args[0];
        EXPECT_EQ(out.back(), '\n');
        if (!c.hex.empty()) {
            EXPECT_EQ(out, c.hex + "\n") << c.args[0];
        }
        const Result decoded = Tolctl({"decode", "-"}, Unhex(out));
        EXPECT_EQ(decoded.code, 0);
        EXPECT_EQ(decoded.out, c.decoded + "\n") << c.args[0];
    }
}

TEST(Tolctl, ChoicesByNameOrIndex) {
    EXPECT_EQ(DryRun({"wifi-ap", "--name", "x", "--mode", "APSTA"}), DryRun({"wifi-ap", "--name", "x", "--mode", "2"}));
    EXPECT_EQ(DryRun({"wifi-ap", "--name", "x"}), DryRun({"wifi-ap", "--name", "x", "--mode", "0"}));
    const std::vector<std::string> base = {"wifi-station", "--ssid", "s", "--ip", "1.2.3.4", "--gateway", "1.2.3.1"};
    auto with = [&base](std::vector<std::string> more) {
        more.insert(more.begin(), base.begin(), base.end());
        return DryRun(more);
    };
    EXPECT_EQ(with({"--auth", "wpapsk", "--enc", "wep-a"}), with({"--auth", "2", "--enc", "2"}));
    EXPECT_EQ(with({}), with({"--auth", "wpa2psk", "--enc", "aes", "--mask", "255.255.255.0"}));
    EXPECT_EQ(DryRun({"lan-dhcp", "off"}), DryRun({"lan-dhcp", "0"}));
}

TEST(Tolctl, Utf8TextIsSentInTheCodePage) {
    EXPECT_EQ(DryRun({"bt-name", "Café"}), "1f 1b 1f f0 04 43 61 66 82\n");
    EXPECT_EQ(DryRun({"--codepage", "CP850", "bt-name", "Øre"}), "1f 1b 1f f0 03 9d 72 65\n");
}

TEST(Tolctl, RefusedInputNamesTheFieldAndSendsNothing) {
    struct Refusal {
        std::vector<std::string> args;
        std::vector<std::string> mentions;
    };
    const Refusal refusals[] = {
        {{"wifi-ap", "--name", std::string(32, 'n')}, {"--name", "31", "32"}},
        {{"wifi-ap", "--name", "ok", "--mode", "3"}, {"--mode", "ap|sta|apsta"}},
        {{"--codepage", "CP932", "wifi-ap", "--name", "\xE3\x81\x82"}, {"--name", "CP932"}},
        {{"wifi-ap", "--name", "\xFF"}, {"--name", "UTF-8"}},
        {{"wifi-station", "--ssid", std::string(60, 's'), "--password", std::string(60, 'p'), "--ip", "1.2.3.4",
          "--gateway", "1.2.3.1"},
         {"station text", "127"}},
        {{"wifi-station", "--ssid", "s", "--ip", "1.2.3", "--gateway", "1.2.3.1"}, {"--ip", "1.2.3"}},
        {{"wifi-station", "--ssid", "s", "--ip", "1.2.3.4", "--gateway", "1.2.3.256"}, {"--gateway"}},
        {{"wifi-station", "--ssid", "s", "--ip", "1.2.3.4", "--gateway", "1.2.3.1", "--enc", "wpa"}, {"--enc"}},
        {{"lan-ip", "192.168.1.1.1"}, {"lan-ip"}},
        {{"lan-mac", "9E:22:56"}, {"lan-mac"}},
        {{"lan-mac", "9E:22:56:1G"}, {"lan-mac"}},
        {{"lan-dhcp", "maybe"}, {"lan-dhcp"}},
        {{"--codepage", "CP-none", "cut"}, {"--codepage"}},
    };
    for (const Refusal& r : refusals) {
        std::vector<std::string> args = r.args;
        args.insert(args.begin(), "--dry-run");
        const Result result = Tolctl(args);
        EXPECT_EQ(result.code, 2) << args[1];
        EXPECT_EQ(result.out, "") << args[1];
        for (const std::string& word : r.mentions) {
            EXPECT_NE(result.err.find(word), std::string::npos) << "'" << word << "' not in: " << result.err;
        }
    }
}

TEST(Tolctl, UsageErrors) {
    EXPECT_EQ(Tolctl({}).code, 2);
    EXPECT_EQ(Tolctl({"--dry-run", "no-such-command"}).code, 2);
    EXPECT_EQ(Tolctl({"--dry-run", "wifi-ap"}).code, 2);  // --name is required
    EXPECT_EQ(Tolctl({"--dry-run", "bt-name"}).code, 2);
    const Result noPort = Tolctl({"cut"});
    EXPECT_EQ(noPort.code, 2);
    EXPECT_EQ(noPort.out, "");
    EXPECT_NE(noPort.err.find("--dry-run"), std::string::npos);
    const Result help = Tolctl({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Exit codes"), std::string::npos);
    EXPECT_EQ(Tolctl({"decode", "/no/such/file"}).code, 2);
}

}  // namespace

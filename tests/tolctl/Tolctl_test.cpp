#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "system/OemText.h"
#include "tests/support/TolctlRun.h"
#include "tolctl/Tolctl.h"

namespace {

using Result = TolctlResult;

std::string DryRun(std::vector<std::string> args) {
    args.insert(args.begin(), {"--dry-run", "--show-secrets"});
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
    {{"wifi-ap", "--name", "", "--mode", "2"},
     "1f 1a 1f 1b 1f 03 0a 0b 0c 02 00",
     "wifi-ap mode=2 name=\"\""},
    {{"wifi-station", "--ssid", "WIFI Name", "--auth", "open", "--enc", "none", "--ip", "192.168.1.200",
      "--mask", "255.255.255.0", "--gateway", "192.168.1.1"},
     "1f 1a 1f 1b 1f 03 07 08 09 00 00 09 00 27 57 49 46 49 20 4e 61 6d 65 31 39 32 2e 31 36 38 2e 31 2e 32 "
     "30 30 "
     "2c 32 35 35 2e 32 35 35 2e 32 35 35 2e 30 2c 31 39 32 2e 31 36 38 2e 31 2e 31",
     "wifi-station auth=0 enc=0 ssid=\"WIFI Name\" password=\"\" ip=192.168.1.200 mask=255.255.255.0 "
     "gateway=192.168.1.1"},
    {{"wifi-station", "--ssid", "Home", "--password", "pw-12345", "--auth", "3", "--enc", "aes", "--ip",
      "10.0.5.200", "--gateway", "10.0.5.1"},
     "",
     "wifi-station auth=3 enc=4 ssid=\"Home\" password=\"pw-12345\" ip=10.0.5.200 mask=255.255.255.0 "
     "gateway=10.0.5.1"},
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
        EXPECT_EQ(Tolctl({"decode"}, out).out, c.decoded + "\n") << c.args[0];  // the hex text as it is
    }
    // With the password hidden (** for each of its bytes), decode shows it hidden.
    const Result hidden = Tolctl({"--dry-run", "wifi-station", "--ssid", "Home", "--password", "pw-12345",
                                  "--ip", "10.0.5.200", "--gateway", "10.0.5.1"});
    EXPECT_EQ(Tolctl({"decode"}, hidden.out).out,
              "wifi-station auth=3 enc=4 ssid=\"Home\" password=(hidden) ip=10.0.5.200 mask=255.255.255.0 "
              "gateway=10.0.5.1\n");
    EXPECT_EQ(Tolctl({"decode"}, "1f 1b 1f 09 01 *3\n").out.find("unknown: 31 66"), 0u);  // not hex text
}

TEST(Tolctl, ChoicesByNameOrIndex) {
    EXPECT_EQ(DryRun({"wifi-ap", "--name", "x", "--mode", "APSTA"}),
              DryRun({"wifi-ap", "--name", "x", "--mode", "2"}));
    EXPECT_EQ(DryRun({"wifi-ap", "--name", "x"}), DryRun({"wifi-ap", "--name", "x", "--mode", "0"}));
    const std::vector<std::string> base = {"wifi-station", "--ssid",  "s",          "--ip",    "1.2.3.4",
                                           "--gateway",    "1.2.3.1", "--password", "12345678"};
    auto with = [&base](std::vector<std::string> more) {
        more.insert(more.begin(), base.begin(), base.end());
        return DryRun(more);
    };
    EXPECT_EQ(with({"--auth", "wpapsk", "--enc", "wep-a"}), with({"--auth", "2", "--enc", "2"}));
    EXPECT_EQ(with({}), with({"--auth", "wpa2psk", "--enc", "aes", "--mask", "255.255.255.0"}));
    EXPECT_EQ(DryRun({"lan-dhcp", "off"}), DryRun({"lan-dhcp", "0"}));
}

TEST(Tolctl, AnEmptyValueAfterEqualsStaysEmpty) {
    // Not the next argument taken as the value: that would send the name "--mode=apsta".
    EXPECT_EQ(DryRun({"wifi-ap", "--name=", "--mode=apsta"}),
              DryRun({"wifi-ap", "--name", "", "--mode", "2"}));
    EXPECT_EQ(Tolctl({"--dry-run", "wifi-ap", "--name=x", "--mode=", "cut"}).code, 2);
    // After "--" everything is positional text, "=" and all.
    EXPECT_EQ(DryRun({"bt-name", "--", "--x="}), "1f 1b 1f f0 04 2d 2d 78 3d\n");
}

TEST(Tolctl, Utf8TextIsSentInTheCodePage) {
    EXPECT_EQ(DryRun({"bt-name", "Café"}), "1f 1b 1f f0 04 43 61 66 82\n");
    EXPECT_EQ(DryRun({"--codepage", "CP850", "bt-name", "Øre"}), "1f 1b 1f f0 03 9d 72 65\n");
    EXPECT_EQ(DryRun({"--codepage", "CP1252", "bt-name", "5\u20ac"}), "1f 1b 1f f0 02 35 80\n");
}

TEST(Tolctl, APasswordTheCodePageCannotWriteIsRefusedWithoutShowingIt) {
    const Result r = Tolctl({"--dry-run", "wifi-station", "--ssid", "Shop", "--password", "s\u20acret",
                             "--ip", "1.2.3.4", "--gateway", "1.2.3.1"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("--password"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("CP437"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("\u20ac"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("cret"), std::string::npos) << r.err;
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
        {{"wifi-station", "--ssid", std::string(60, 's'), "--password", std::string(60, 'p'), "--ip",
          "1.2.3.4", "--gateway", "1.2.3.1"},
         {"station text", "127"}},
        {{"wifi-station", "--ssid", "s", "--ip", "1.2.3", "--gateway", "1.2.3.1"}, {"--ip", "1.2.3"}},
        {{"wifi-station", "--ssid", "s", "--ip", "1.2.3.4", "--gateway", "1.2.3.256"}, {"--gateway"}},
        {{"wifi-station", "--ssid", "s", "--ip", "1.2.3.4", "--gateway", "1.2.3.1", "--enc", "wpa"},
         {"--enc"}},
        {{"lan-ip", "192.168.1.1.1"}, {"lan-ip"}},
        // Numeric shorthand that a resolver would read as some address: never guessed.
        {{"lan-ip", "127.1"}, {"lan-ip", "'127.1'", "four decimal fields"}},
        {{"lan-gateway", "3232235777"}, {"lan-gateway"}},
        {{"lan-mask", "0xffffff00"}, {"lan-mask"}},
        {{"lan-ip", "0x7f.0.0.1"}, {"lan-ip"}},
        {{"lan-ip", "192.168.1"}, {"lan-ip"}},
        {{"lan-mac", "127.1"}, {"lan-mac"}},
        {{"wifi-station", "--ssid", "s", "--ip", "127.1", "--gateway", "1.2.3.1"}, {"--ip", "127.1"}},
        {{"wifi-station", "--ssid", "s", "--ip", "1.2.3.4", "--mask", "255.255.255", "--gateway", "1.2.3.1"},
         {"--mask"}},
        {{"wifi-station", "--ssid", "s", "--ip", "1.2.3.4", "--gateway", "0x01020301"}, {"--gateway"}},
        {{"--port", "socket://127.1", "cut"}, {"--port", "'127.1'", "four decimal fields"}},
        {{"--port", "socket://0x7f.0.0.1:9100", "cut"}, {"--port", "'0x7f.0.0.1'"}},
        {{"--port", "socket://3232235777", "cut"}, {"--port"}},
        {{"--port", "socket://192.168.1:9100", "cut"}, {"--port"}},
        {{"--port", "socket://1.0x2.3.4", "cut"}, {"--port"}},
        {{"lan-mac", "9E:22:56"}, {"lan-mac"}},
        {{"lan-mac", "9E:22:56:1G"}, {"lan-mac"}},
        {{"lan-dhcp", "maybe"}, {"lan-dhcp"}},
        {{"--codepage", "CP-none", "cut"}, {"--codepage"}},
        // Characters the code page would send as other characters (the default one, a look-alike).
        {{"wifi-ap", "--name", "Caf\u00e9 \u20ac"}, {"--name", "'\u20ac'", "CP437"}},
        {{"bt-name", "x\U0001F600\u0101"}, {"bt-name", "'\U0001F600\u0101'"}},
        {{"wifi-station", "--ssid", "Caf\u20ac", "--ip", "1.2.3.4", "--gateway", "1.2.3.1"},
         {"--ssid", "'\u20ac'"}},
        // Text the command would cut or that cannot work, addresses no printer can have.
        {{"bt-name", std::string(64, 'n')}, {"bt-name", "64 characters; at most 63"}},
        {{"bt-pin", ""}, {"bt-pin", "empty"}},
        {{"wifi-station", "--ssid", "", "--auth", "open", "--ip", "1.2.3.4", "--gateway", "1.2.3.1"},
         {"--ssid", "empty"}},
        {{"wifi-station", "--ssid", "s", "--password", "1234567", "--ip", "1.2.3.4", "--gateway", "1.2.3.1"},
         {"--password", "wpa2psk", "8-63", "not 7"}},
        {{"wifi-station", "--ssid", "s", "--auth", "wpapsk", "--password", std::string(64, 'p'), "--ip",
          "1.2.3.4", "--gateway", "1.2.3.1"},
         {"--password", "wpapsk", "8-63"}},
        {{"wifi-station", "--ssid", "s", "--auth", "open", "--ip", "10.0.3.255", "--mask", "255.255.252.0",
          "--gateway", "10.0.0.1"},
         {"--ip", "broadcast address"}},
        {{"wifi-station", "--ssid", "s", "--auth", "open", "--ip", "1.2.3.4", "--mask", "255.255.0.255",
          "--gateway", "1.2.3.1"},
         {"--mask", "not a subnet mask"}},
        {{"wifi-station", "--ssid", "s", "--auth", "open", "--ip", "10.0.5.200", "--gateway", "10.0.6.1"},
         {"--gateway: 10.0.6.1 is outside the printer's network 10.0.5.0 with mask 255.255.255.0"}},
        {{"wifi-station", "--ssid", "s", "--auth", "open", "--ip", "10.0.5.200", "--gateway", "10.0.5.200"},
         {"--gateway: 10.0.5.200 is the printer's own address"}},
        {{"lan-mask", "0.255.255.255"}, {"lan-mask", "not a subnet mask"}},
        {{"lan-ip", "0.0.0.0"}, {"lan-ip", "0.0.0.0 cannot be"}},
        {{"lan-ip", "255.255.255.255"}, {"lan-ip"}},
        {{"lan-ip", "127.0.14.040"}, {"lan-ip", "leading zeros are ambiguous"}},
        {{"lan-mac", "158.34.86.028"}, {"lan-mac", "leading zeros are ambiguous"}},
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

TEST(Tolctl, NumbersAreDecimalOnlyAndRangeErrorsAreShort) {
    const std::string noDir = "/nonexistent/dir/f";  // listen fails here only after its options
    struct Refusal {
        std::vector<std::string> args;
        std::string message;
    };
    const Refusal refusals[] = {
        {{"--baud", "0x2580", "--dry-run", "cut"}, "--baud: must be 9600, 19200, 38400, 57600 or 115200"},
        {{"--baud", "0b10010110000000", "--dry-run", "cut"}, "--baud: must be"},
        {{"--baud", std::string(300, '9'), "--dry-run", "cut"}, "--baud: must be"},
        {{"--connect-timeout", "nan", "--dry-run", "cut"},
         "--connect-timeout: 'nan' is not a number of seconds"},
        {{"--connect-timeout", "inf", "--dry-run", "cut"},
         "--connect-timeout: 'inf' is not a number of seconds"},
        {{"--connect-timeout", "0x1p1", "--dry-run", "cut"}, "--connect-timeout: '0x1p1'"},
        {{"--connect-timeout", "1e1", "--dry-run", "cut"}, "--connect-timeout: '1e1'"},
        {{"--connect-timeout", "0", "--dry-run", "cut"}, "--connect-timeout: must be 0.001-3600 (seconds)"},
        {{"--connect-timeout", std::string(300, '9'), "--dry-run", "cut"}, "--connect-timeout: must be"},
        {{"listen", "--port", "0x10", "--save", noDir}, "--port: '0x10' is not a decimal number"},
        {{"listen", "--port", "070000", "--save", noDir}, "--port: must be 0-65535"},  // octal would be 28672
        {{"listen", "--port", std::string(300, '9')}, "--port: must be 0-65535"},
        {{"listen", "--count", "0"}, "--count: must be 1 or more"},
        {{"listen", "--count", "-1"}, "--count: must be 1 or more"},
        {{"listen", "--count", "0x1", "--save", noDir}, "--count: '0x1' is not a decimal number"},
        {{"--port", "socket://127.0.0.1:0x2390", "--dry-run", "cut"},
         "TCP port: '0x2390' is not a decimal number"},
        {{"--port", "socket://127.0.0.1:" + std::string(300, '9'), "--dry-run", "cut"},
         "TCP port: must be 1-65535"},
        {{"--port", "serial:/dev/null?baud=0x2580", "--dry-run", "cut"}, "baud=9600|"},
        {{"scan", "127.0.0.010/30"}, "'127.0.0.010': leading zeros are ambiguous"},
    };
    for (const Refusal& r : refusals) {
        const Result result = Tolctl(r.args);
        EXPECT_EQ(result.code, 2) << r.args[1];
        EXPECT_EQ(result.out, "") << r.args[1];
        EXPECT_NE(result.err.find(r.message), std::string::npos)
            << "'" << r.message << "' not in: " << result.err;
        EXPECT_LT(result.err.size(), 250u) << result.err;  // no long value echoed back
    }
    // A number's leading zeros are decimal.
    EXPECT_EQ(DryRun({"--baud", "009600", "--connect-timeout", "05", "lan-ip", "10.0.1.255"}),
              "1f 1b 1d 00 0a 00 01 ff\n");
}

// A file in the temporary folder, removed again at the end of the test.
class TempFile {
  public:
    TempFile(const std::string& utf8Name, const std::string& bytes)
        : m_path(std::filesystem::temp_directory_path() / std::filesystem::u8path(utf8Name)) {
        std::ofstream(m_path, std::ios::binary) << bytes;
    }
    ~TempFile() { std::filesystem::remove(m_path); }
    std::string Utf8() const { return m_path.u8string(); }

  private:
    std::filesystem::path m_path;
};

std::vector<std::string> Station(std::vector<std::string> more) {
    std::vector<std::string> args = {"wifi-station", "--ssid",    "Home",    "--ip",
                                     "10.0.5.200",   "--gateway", "10.0.5.1"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(Tolctl, PasswordFromAFileOrStandardInputLosesOneLineEnd) {
    const std::string plain = DryRun(Station({"--password", "pass word"}));
    for (const std::string& content :
         {std::string("pass word"), std::string("pass word\n"), std::string("pass word\r\n")}) {
        const TempFile file("tolctl-pw-\xC3\xA9t\xC3\xA9.txt", content);  // a name beyond ASCII
        EXPECT_EQ(DryRun(Station({"--password-file", file.Utf8()})), plain);
    }
    const TempFile empty("tolctl-pw-4.txt", "\n");
    EXPECT_EQ(DryRun(Station({"--auth", "open", "--password-file", empty.Utf8()})),
              DryRun(Station({"--auth", "open"})));

    std::vector<std::string> args = Station({"--password-file", "-"});
    args.insert(args.begin(), {"--dry-run", "--show-secrets"});
    const Result fromInput = Tolctl(args, "pass word\r\n");
    EXPECT_EQ(fromInput.code, 0) << fromInput.err;
    EXPECT_EQ(fromInput.out, plain);
}

TEST(Tolctl, DryRunHidesThePasswordUnlessToldToShowIt) {
    std::vector<std::string> args = Station({"--password", "secret1234"});
    EXPECT_NE(DryRun(args).find(" 65 73 65 63 72 65 74 31 32 33 34 31 30 2e"), std::string::npos);
    args.insert(args.begin(), "--dry-run");
    const Result hidden = Tolctl(args);
    EXPECT_EQ(hidden.code, 0) << hidden.err;
    // "Home", ten bytes hidden, the address text.
    EXPECT_NE(hidden.out.find(" 65 ** ** ** ** ** ** ** ** ** ** 31 30 2e"), std::string::npos) << hidden.out;
}

TEST(Tolctl, PasswordFileProblemsNameTheFileButNeverItsContent) {
    const std::string secret = "S3cr3t-hunter";
    const TempFile notUtf8("tolctl-pw-5.txt", secret + "\xFF\n");
    const TempFile tooLong("tolctl-pw-6.txt", secret + std::string(120, 'x'));
    const TempFile twoBytes("tolctl-pw-7.txt", secret + "\xE3\x81\x82");  // two bytes in CP932
    const TempFile huge("tolctl-pw-8.txt", secret + std::string(10000, 'x'));
    const TempFile utf16("tolctl-pw-9.txt", std::string("S\0e\0c\0r\0e\0t\0", 12));
    const TempFile byteOrderMark("tolctl-pw-10.txt", "\xEF\xBB\xBF" + secret);
    const TempFile twoLines("tolctl-pw-2.txt", secret + "\n\n");  // one line end goes, not two
    const TempFile carriageReturn("tolctl-pw-3.txt", secret + "\r");
    const std::string missing = (std::filesystem::temp_directory_path() / "tolctl-no-such-file").u8string();
    struct Case {
        std::vector<std::string> more;
        std::vector<std::string> mentions;
        std::string codePage = "CP437";
    };
    const Case cases[] = {
        {{"--password-file", missing}, {"--password-file", "cannot read", "tolctl-no-such-file"}},
        {{"--password-file", notUtf8.Utf8()}, {"--password-file", "tolctl-pw-5.txt", "UTF-8"}},
        {{"--password-file", tooLong.Utf8()}, {"--password-file", "8-63"}},
        {{"--password-file", twoBytes.Utf8()}, {"--password-file", "CP932"}, "CP932"},
        {{"--password-file", huge.Utf8()}, {"--password-file", "too long"}},
        {{"--password-file", utf16.Utf8()}, {"--password-file", "tolctl-pw-9.txt", "00 byte"}},
        {{"--password-file", byteOrderMark.Utf8()}, {"--password-file", "byte order mark"}},
        {{"--password-file", twoLines.Utf8()}, {"--password-file", "tolctl-pw-2.txt", "more than one line"}},
        {{"--password-file", carriageReturn.Utf8()}, {"--password-file", "more than one line"}},
        {{"--password-file", std::filesystem::temp_directory_path().u8string()}, {"--password-file"}},
        {{"--password", "x", "--password-file", notUtf8.Utf8()}, {"--password"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = Station(c.more);
        args.insert(args.begin(), {"--dry-run", "--codepage", c.codePage});
        const Result r = Tolctl(args);
        EXPECT_EQ(r.code, 2) << r.err;
        EXPECT_EQ(r.out, "");
        for (const std::string& word : c.mentions) {
            EXPECT_NE(r.err.find(word), std::string::npos) << "'" << word << "' not in: " << r.err;
        }
        EXPECT_EQ(r.err.find(secret), std::string::npos) << r.err;
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
    EXPECT_NE(help.out.find("decimal"), std::string::npos);
    const Result stationHelp = Tolctl({"wifi-station", "--help"});
    EXPECT_NE(stationHelp.out.find("--password-file"), std::string::npos);
    EXPECT_EQ(Tolctl({"decode", "/no/such/file"}).code, 2);

    // --dry-run does not make scan or listen safe to try: refused, not left out.
    for (const auto& args : {std::vector<std::string>{"scan", "--dry-run", "127.0.0.1"},
                             {"--dry-run", "scan", "127.0.0.1"},
                             {"--dry-run", "listen", "--save", "/no/dir/f"}}) {
        const Result r = Tolctl(args);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("has no --dry-run"), std::string::npos) << r.err;
    }
}

TEST(Tolctl, NewcomersWordingIsTakenOrAnswered) {
    // tolctl's own options after the subcommand, a bare address as the port.
    EXPECT_EQ(Tolctl({"lan-ip", "1.2.3.4", "--codepage", "CP850", "--dry-run"}).out,
              "1f 1b 1d 00 01 02 03 04\n");
    EXPECT_EQ(Tolctl({"cut", "--port", "127.0.0.1:1"}).code, 1);  // refused: nobody listens there
    // Mistyped words get the one they are closest to, far-off ones nothing.
    EXPECT_NE(Tolctl({"wifi-sta"}).err.find("did you mean 'wifi-station'?"), std::string::npos);
    EXPECT_NE(Tolctl({"cut", "--prot", "X"}).err.find("did you mean '--port'?"), std::string::npos);
    EXPECT_NE(Tolctl({"scan", "--port", "9101", "127.0.0.1"}).err.find("--tcp-port"), std::string::npos);
    EXPECT_NE(Tolctl({"profile", "exmaple"}).err.find("did you mean 'example'?"), std::string::npos);
    EXPECT_EQ(Tolctl({"frobnicate"}).err.find("did you mean"), std::string::npos);
    // Where nothing is close, the subcommands that are there.
    EXPECT_NE(Tolctl({"profile", "frobnicate"})
                  .err.find("tolctl: profile needs a subcommand: example, targets-csv, schema or keys"),
              std::string::npos);
    EXPECT_NE(Tolctl({"frobnicate"}).err.find("tolctl: the subcommands are test-print, cut,"),
              std::string::npos);
    // A path beginning with / is a file, on Windows too (the current drive's root there).
    const std::filesystem::path file = std::filesystem::current_path() / "tolctl-decode-slash.bin";
    std::ofstream(file, std::ios::binary) << "\x1d\x56\x01";
    const Result decoded = Tolctl({"decode", "/" + file.relative_path().generic_u8string()});
    std::filesystem::remove(file);
    EXPECT_EQ(decoded.out, "cut\n") << decoded.err;
}

}  // namespace

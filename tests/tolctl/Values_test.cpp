#include <gtest/gtest.h>

#include <limits>

#include "values/Values.h"

namespace {

constexpr int64_t kIntMax = std::numeric_limits<int>::max();

TEST(ValuesTest, AddressesAreFourDecimalFieldsWithoutLeadingZeros) {
    const std::pair<const char*, uint32_t> accepted[] = {
        {"192.168.1.100", 0xC0A80164u}, {"0.0.0.0", 0u}, {"255.255.255.255", 0xFFFFFFFFu}};
    for (const auto& a : accepted) {
        uint32_t value = 0;
        EXPECT_TRUE(ParseAddress(a.first, value)) << a.first;
        EXPECT_EQ(value, a.second) << a.first;
    }
    for (const char* text :
         {"127.1",    "3232235777", "0x7f.0.0.1",      "192.168.1",    "1.2.3.4.",
          ".1.2.3.4", "1..3.4",     "1.2.3.256",       "1.2.3.-1",     "1.2.3.+1",
          "1.2.3.4 ", " 1.2.3.4",   "1.2.3.0x4",       "1.2.3.4e0",    "1.2.3.99999999999999999999",
          "",         "localhost",  "010.000.001.255", "127.0.14.040", "00.0.0.0",
          "1.2.3.00"}) {
        uint32_t value = 7;
        EXPECT_FALSE(ParseAddress(text, value)) << text;
        EXPECT_EQ(value, 7u) << text;
    }
    uint32_t mac = 0;
    EXPECT_TRUE(ParseMacTail("9e-22-56-1C", mac));
    EXPECT_EQ(mac, 0x9E22561Cu);
    for (const char* text :
         {"158.34.86.028", "0x9E:22:56:1C", "9E:22:56", "123:22:56:1C", "9E:22-56:1C", "9E:22:56:1C:"}) {
        EXPECT_FALSE(ParseMacTail(text, mac)) << text;
    }
}

TEST(ValuesTest, HostsWrittenLikeNumbersMustBeFourDecimalFields) {
    EXPECT_NE(CheckHost("127.000.000.001").find("leading zeros are ambiguous"), std::string::npos);
    for (const char* host : {"192.168.1.100", "localhost", "printer.local", "printer.local.", "3com",
                             "1password.example", "PRN_01-a", "cafe.be"}) {
        EXPECT_EQ(CheckHost(host), "") << host;
    }
    // Shorthand that a resolver would read as some address of its own choosing.
    for (const char* host :
         {"127.1", "3232235777", "0x7f.0.0.1", "0x7f000001", "0XFF.0.0.1", "192.168.1", "1.0x2.3.4",
          "127.0.0.0x1", "1..2.3", ".", "1.2.3.4.", "0x", "0xprinter.local"}) {
        EXPECT_TRUE(IsNumericHost(host)) << host;
        EXPECT_NE(CheckHost(host).find("is not an IPv4 address"), std::string::npos) << host;
    }
    for (const char* host : {"", "127.0.0.1 x", "printer\tlocal", "a..b", ".local", "host/x", "h:1",
                             "\xC3\xB1.example", "[::1]"}) {
        EXPECT_FALSE(IsNumericHost(host) && CheckHost(host).empty()) << host;
        EXPECT_NE(CheckHost(host), "") << host;
    }
    EXPECT_EQ(CheckHost(std::string(63, 'a') + ".example"), "");
    EXPECT_NE(CheckHost(std::string(64, 'a') + ".example"), "");
    EXPECT_NE(CheckHost(std::string(300, 'a')).size(), 0u);
    EXPECT_LT(CheckHost(std::string(300, 'a')).size(), 120u);  // the name is not echoed whole
}

TEST(ValuesTest, IntegersAreDecimalOnly) {
    int64_t value = -1;
    std::string error;
    const std::pair<const char*, int64_t> accepted[] = {
        {"0", 0}, {"65535", 65535}, {"0100", 100}, {"007", 7}};
    for (const auto& a : accepted) {
        EXPECT_TRUE(ParseDecimal(a.first, 0, 65535, value, error)) << a.first;
        EXPECT_EQ(value, a.second) << a.first;
    }
    for (const char* text : {"0x10", "0X10", "0o17", "0b101", "+5", " 5", "5 ", "1_000", "1'000", "1e3",
                             "1.0", "", "-", "12a", "\xEF\xBC\x91"}) {
        value = -1;
        EXPECT_FALSE(ParseDecimal(text, 0, 65535, value, error)) << text;
        EXPECT_NE(error.find("is not a decimal number"), std::string::npos) << text << ": " << error;
        EXPECT_EQ(value, -1);
    }
    EXPECT_FALSE(ParseDecimal("65536", 0, 65535, value, error));
    EXPECT_EQ(error, "must be 0-65535");
    EXPECT_FALSE(ParseDecimal(std::string(300, '9'), 0, 65535, value, error));
    EXPECT_EQ(error, "must be 0-65535");
    EXPECT_FALSE(ParseDecimal("0", 1, kIntMax, value, error));
    EXPECT_EQ(error, "must be 1 or more");
    EXPECT_FALSE(ParseDecimal("-1", 1, kIntMax, value, error));
    EXPECT_EQ(error, "must be 1 or more");
    EXPECT_FALSE(ParseDecimal("-0", 0, 10, value, error));  // no sign where none is needed
    EXPECT_FALSE(ParseDecimal("2147483648", 1, kIntMax, value, error));
    EXPECT_EQ(error, "must be 1-2147483647");

    // The whole 64-bit range and no further.
    const int64_t min = std::numeric_limits<int64_t>::min(), max = std::numeric_limits<int64_t>::max();
    EXPECT_TRUE(ParseDecimal("9223372036854775807", min, max, value, error));
    EXPECT_EQ(value, max);
    EXPECT_TRUE(ParseDecimal("-9223372036854775808", min, max, value, error));
    EXPECT_EQ(value, min);
    EXPECT_TRUE(ParseDecimal("-0012", -20, 20, value, error));
    EXPECT_EQ(value, -12);
    EXPECT_FALSE(ParseDecimal("9223372036854775808", min, max, value, error));
    EXPECT_FALSE(ParseDecimal("-9223372036854775809", min, max, value, error));
    EXPECT_FALSE(ParseDecimal("18446744073709551626", min, max, value, error));  // 2^64 + 10 wraps to 10
}

TEST(ValuesTest, SecondsAreDecimalAndFinite) {
    int ms = -1;
    std::string error;
    const std::pair<const char*, int> accepted[] = {
        {"5", 5000},      {"0.25", 250},     {"0.001", 1},           {"0.0005", 1},   {"1.2344", 1234},
        {"1.2345", 1235}, {"3600", 3600000}, {"3600.0004", 3600000}, {"0005.5", 5500}};
    for (const auto& a : accepted) {
        EXPECT_TRUE(ParseSeconds(a.first, 1, 3600000, ms, error)) << a.first << ": " << error;
        EXPECT_EQ(ms, a.second) << a.first;
    }
    for (const char* text : {"nan", "NaN", "inf", "-inf", "infinity", "-1", "+1", "1e3", "0x1p3", " 5", "5.",
                             ".5", "", "1,5", "1.2.3"}) {
        ms = -1;
        EXPECT_FALSE(ParseSeconds(text, 1, 3600000, ms, error)) << text;
        EXPECT_NE(error.find("is not a number of seconds"), std::string::npos) << text << ": " << error;
        EXPECT_EQ(ms, -1);
    }
    for (const std::string& text : {std::string("0"), std::string("0.0004"), std::string("3600.001"),
                                    std::string("3601"), std::string(300, '9')}) {
        EXPECT_FALSE(ParseSeconds(text, 1, 3600000, ms, error)) << text;
        EXPECT_EQ(error, "must be 0.001-3600 (seconds)");
    }
    EXPECT_TRUE(ParseSeconds("1." + std::string(300, '9'), 1, 3600000, ms, error));
    EXPECT_EQ(ms, 2000);
    EXPECT_TRUE(ParseSeconds("2147483.647", 0, std::numeric_limits<int>::max(), ms, error));
    EXPECT_EQ(ms, std::numeric_limits<int>::max());
    EXPECT_FALSE(ParseSeconds("2147483.6475", 0, std::numeric_limits<int>::max(), ms, error));
}

TEST(ValuesTest, ShownTextIsShortAndPrintable) {
    EXPECT_EQ(ShownText("abc"), "'abc'");
    EXPECT_EQ(ShownText("a\nb\x7f"), "'a\\x0ab\\x7f'");
    EXPECT_EQ(ShownText(std::string(300, '7')), "'" + std::string(32, '7') + "...'");
    EXPECT_EQ(ShownText(std::string(300, '7'), std::string::npos), "'" + std::string(300, '7') + "'");
    // A cut never splits a UTF-8 character.
    EXPECT_EQ(ShownText(std::string(31, 'a') + "\xC3\xA9xyz"), "'" + std::string(31, 'a') + "...'");
}

}  // namespace

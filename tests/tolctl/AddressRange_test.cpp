#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "values/AddressRange.h"

namespace {

std::vector<uint32_t> Parsed(const std::string& text) {
    std::vector<uint32_t> addresses;
    std::string error;
    EXPECT_TRUE(ParseAddressRange(text, addresses, error)) << text << ": " << error;
    return addresses;
}

std::string Refusal(const std::string& text) {
    std::vector<uint32_t> addresses = {1};
    std::string error;
    EXPECT_FALSE(ParseAddressRange(text, addresses, error)) << text;
    EXPECT_TRUE(addresses.empty()) << text;
    return error;
}

TEST(AddressRangeTest, OneAddressARangeOfTheLastFieldOrEveryAddressOfANetwork) {
    EXPECT_EQ(Parsed("192.168.1.7"), std::vector<uint32_t>{0xC0A80107});
    EXPECT_EQ(Parsed("192.168.1.7-9"), (std::vector<uint32_t>{0xC0A80107, 0xC0A80108, 0xC0A80109}));
    EXPECT_EQ(Parsed("192.168.1.7-7"), std::vector<uint32_t>{0xC0A80107});

    // The whole block, its first and last address included, from any address in it.
    const std::vector<uint32_t> net = Parsed("127.0.1.77/24");
    ASSERT_EQ(net.size(), 256u);
    EXPECT_EQ(net.front(), 0x7F000100u);
    EXPECT_EQ(net.back(), 0x7F0001FFu);
    for (size_t i = 1; i < net.size(); ++i) {
        ASSERT_EQ(net[i], net[i - 1] + 1);
    }
    EXPECT_EQ(Parsed("10.0.0.6/30"), (std::vector<uint32_t>{0x0A000004, 0x0A000005, 0x0A000006, 0x0A000007}));
    EXPECT_EQ(Parsed("10.0.0.6/31"), (std::vector<uint32_t>{0x0A000006, 0x0A000007}));
    EXPECT_EQ(Parsed("10.0.0.6/32"), std::vector<uint32_t>{0x0A000006});
    const std::vector<uint32_t> big = Parsed("10.1.200.3/16");
    ASSERT_EQ(big.size(), kMaxRangeAddresses);
    EXPECT_EQ(big.front(), 0x0A010000u);
    EXPECT_EQ(big.back(), 0x0A01FFFFu);

    // The top of the address space ends the list instead of wrapping around.
    EXPECT_EQ(Parsed("255.255.255.254/31"), (std::vector<uint32_t>{0xFFFFFFFE, 0xFFFFFFFF}));
    EXPECT_EQ(Parsed("255.255.255.250-255").back(), 0xFFFFFFFFu);
    EXPECT_EQ(Parsed("255.255.0.0/16").size(), kMaxRangeAddresses);
}

TEST(AddressRangeTest, AnythingElseIsRefusedWithTheReason) {
    EXPECT_EQ(Refusal("10.0.0.9-3"), "'10.0.0.9-3': the range ends before it starts");
    EXPECT_EQ(Refusal("10.0.0.1-256"), "'10.0.0.1-256': the range's last field must be 0-255");
    EXPECT_EQ(Refusal("10.0.0.1/15"), "'10.0.0.1/15': the network's prefix length must be 16-32");
    EXPECT_EQ(Refusal("10.0.0.1/33"), "'10.0.0.1/33': the network's prefix length must be 16-32");
    EXPECT_EQ(
        Refusal("127.1/24"),
        "'127.1/24': not an address (A.B.C.D), a range (A.B.C.D-E) or a network (A.B.C.D/NN); each address "
        "is four decimal fields 0-255");
    // Octal to some programs: 127.0.0.010-012 could be 8-10 or 10-12.
    for (const char* text : {"127.0.0.010-12", "127.0.0.10-012", "127.0.0.010/30", "127.0.0.1-00"}) {
        EXPECT_NE(Refusal(text).find("leading zeros are ambiguous"), std::string::npos) << text;
    }
    for (const char* text : {"", "10.0.0.1-", "10.0.0.1/", "10.0.0.1-0x5", "10.0.0.1/0x18", "10.0.0.1-+5",
                             "10.0.0.1-3-5", "10.0.0.1/24/2", "10.0.0.1-5/24", " 10.0.0.1", "10.0.0.1 ",
                             "0x7f.0.0.1-3", "10.0.0.1-10.0.0.5", "10.0.0.256", "host-5", "10.0.0.1/2x"}) {
        EXPECT_FALSE(Refusal(text).empty()) << text;
    }
}

TEST(AddressRangeTest, SpanNamesTheFirstAndLastAddress) {
    EXPECT_EQ(FormatAddressSpan(Parsed("127.0.1.0/24")), "127.0.1.0-127.0.1.255");
    EXPECT_EQ(FormatAddressSpan(Parsed("127.0.1.9")), "127.0.1.9");
    EXPECT_EQ(FormatAddressSpan({}), "");
}

TEST(AddressRangeTest, OnlyDottedNumbersBeforeTheMarkMakeARange) {
    EXPECT_TRUE(LooksLikeAddressRange("10.0.0.1-20"));
    EXPECT_TRUE(LooksLikeAddressRange("10.0.0.0/24"));
    EXPECT_TRUE(LooksLikeAddressRange("127.1-3"));  // then refused by ParseAddressRange
    EXPECT_FALSE(LooksLikeAddressRange("till-3.shop"));
    EXPECT_FALSE(LooksLikeAddressRange("10.0.0.1"));
    EXPECT_FALSE(LooksLikeAddressRange("-3"));
}

}  // namespace

#include <gtest/gtest.h>

#include "AddressRange.h"

namespace {

std::vector<uint32_t> Range(const std::string& text) {
    std::vector<uint32_t> addresses;
    std::string error;
    EXPECT_TRUE(ParseAddressRange(text, addresses, error)) << text << ": " << error;
    return addresses;
}

TEST(AddressRangeTest, AddressesRangesAndNetworksInAscendingOrder) {
    EXPECT_EQ(Range("10.0.0.7"), std::vector<uint32_t>{0x0A000007});
    EXPECT_EQ(Range("10.0.0.5-7"), (std::vector<uint32_t>{0x0A000005, 0x0A000006, 0x0A000007}));
    EXPECT_EQ(Range("10.0.0.5-5"), std::vector<uint32_t>{0x0A000005});
    EXPECT_EQ(Range("010.0.0.0-010"), Range("10.0.0.0-10"));  // leading zeros are decimal

    // A network is every address of its block, the first and the last too.
    const std::vector<uint32_t> block = Range("127.0.1.0/24");
    ASSERT_EQ(block.size(), 256u);
    EXPECT_EQ(block.front(), 0x7F000100u);
    EXPECT_EQ(block.back(), 0x7F0001FFu);
    EXPECT_EQ(Range("127.0.1.77/24"), block);  // any address of the block stands for it
    EXPECT_EQ(Range("127.0.1.77/32"), std::vector<uint32_t>{0x7F00014D});
    EXPECT_EQ(Range("127.0.1.77/31"), (std::vector<uint32_t>{0x7F00014C, 0x7F00014D}));
    EXPECT_EQ(Range("127.0.1.77/30"),
              (std::vector<uint32_t>{0x7F00014C, 0x7F00014D, 0x7F00014E, 0x7F00014F}));
    const std::vector<uint32_t> largest = Range("255.255.3.4/16");
    ASSERT_EQ(largest.size(), kMaxRangeAddresses);
    EXPECT_EQ(largest.front(), 0xFFFF0000u);
    EXPECT_EQ(largest.back(), 0xFFFFFFFFu);  // the last address ends the walk, no wrap to 0
    for (size_t i = 1; i < largest.size(); ++i) {
        ASSERT_EQ(largest[i], largest[i - 1] + 1);
    }
}

TEST(AddressRangeTest, AnythingElseIsRefusedWithAReason) {
    const struct {
        const char* text;
        const char* reason;
    } refused[] = {
        {"10.0.0.5-3", "the range ends before it begins (5-3)"},
        {"10.0.0.5-256", "must be 0-255"},
        {"10.0.0.5-0x9", "is not a decimal number"},
        {"10.0.0.5-", "is not a decimal number"},
        {"10.0.0.5--3", "must be 0-255"},
        {"10.0.0.0/15", "the prefix length must be 16-32"},
        {"10.0.0.0/33", "the prefix length must be 16-32"},
        {"10.0.0.0/", "the prefix length must be 16-32"},
        {"10.0.0.0/+24", "the prefix length must be 16-32"},
        {"10.0.0.0/24/24", "the prefix length"},
        {"10.0.0.1-2/24", "not both"},
        {"127.1-3", "'127.1' is not an IPv4 address"},
        {"127.1/24", "'127.1' is not an IPv4 address"},
        {"0x7f.0.0.1/24", "is not an IPv4 address"},
        {"10.0.0.256", "is not an IPv4 address"},
        {"", "is not an IPv4 address"},
        {"printer.local", "is not an IPv4 address"},
    };
    for (const auto& r : refused) {
        std::vector<uint32_t> addresses{1};
        std::string error;
        EXPECT_FALSE(ParseAddressRange(r.text, addresses, error)) << r.text;
        EXPECT_TRUE(addresses.empty()) << r.text;
        EXPECT_NE(error.find(r.reason), std::string::npos) << r.text << ": " << error;
    }
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

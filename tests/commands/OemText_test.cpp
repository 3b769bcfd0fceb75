#include <gtest/gtest.h>

#include "system/OemText.h"
#include "tests/commands/CmdTestUtil.h"

namespace {

std::string Oem(const WideString& text, int capacity) {
    std::string out(static_cast<size_t>(capacity) + 4, '#');  // guard bytes after the room given
    const int n = ConvertToOem(text, reinterpret_cast<unsigned char*>(&out[0]), capacity);
    EXPECT_EQ(out.substr(static_cast<size_t>(capacity)), "####") << "wrote past its room";
    EXPECT_EQ(out.substr(static_cast<size_t>(n), static_cast<size_t>(capacity - n)),
              std::string(static_cast<size_t>(capacity - n), '#'))
        << "wrote bytes it does not count";
    return out.substr(0, static_cast<size_t>(n));
}

TEST(OemText, Cp437GivesTheSameBytesOnEveryPlatform) {
    ASSERT_TRUE(SetOemCodePage("CP437"));
    EXPECT_EQ(OemCodePageName(), "CP437");
    EXPECT_EQ(Oem(W("Thermal Printer"), 15), "Thermal Printer");
    EXPECT_EQ(Oem(W("Café ü ß £"), 10), "Caf\x82 \x81 \xE1 \x9C");
    EXPECT_EQ(Oem(W("─│┌"), 3), "\xC4\xB3\xDA");  // box drawing, the OEM page's own characters
    EXPECT_EQ(Oem(W("€"), 1), "?");               // not in CP437: the default character
    EXPECT_EQ(OemByteCount(W("Café")), 4);
}

TEST(OemText, ConversionStopsAtItsRoom) {
    ASSERT_TRUE(SetOemCodePage("CP437"));
    EXPECT_EQ(Oem(W("abcdef"), 3), "abc");
    EXPECT_EQ(Oem(W("abc"), 0), "");
    EXPECT_EQ(Oem(WideString(), 5), "");
}

TEST(OemText, CharacterOutsideTheBmpBecomesOneDefaultCharacterPerUnit) {
    ASSERT_TRUE(SetOemCodePage("CP437"));
    const WideString emoji = W("a😀b");
    ASSERT_EQ(emoji.size(), 4u);  // U+1F600 takes two UTF-16 units
    EXPECT_EQ(OemByteCount(emoji), 4);
    EXPECT_EQ(Oem(emoji, 4), "a??b");
    EXPECT_EQ(Oem(emoji, 2), "a");  // never half of it
}

TEST(OemText, DoubleByteCharactersAreNeverSplit) {
    ASSERT_TRUE(SetOemCodePage("CP437"));
    if (!SetOemCodePage("CP932")) {
        GTEST_SKIP() << "CP932 is not available here";
    }
    EXPECT_EQ(OemByteCount(W("あい")), 4);
    EXPECT_EQ(Oem(W("あい"), 3), "\x82\xA0");
    EXPECT_EQ(Oem(W("あい"), 1), "");
    EXPECT_EQ(Oem(W("xあ"), 2), "x");
    ASSERT_TRUE(SetOemCodePage("CP437"));
}

TEST(OemText, BackFromTheCodePage) {
    ASSERT_TRUE(SetOemCodePage("cp850"));  // names are case-insensitive
    EXPECT_EQ(OemCodePageName(), "CP850");
    const unsigned char bytes[] = {'C', 'a', 'f', 0x82};
    EXPECT_EQ(WideToUtf8(ConvertFromOem(bytes, 4)), "Café");
    ASSERT_TRUE(SetOemCodePage("437"));
    EXPECT_EQ(OemCodePageName(), "CP437");
    EXPECT_EQ(ConvertFromOem(nullptr, 0), WideString());
}

TEST(OemText, UnknownCodePageIsRefusedAndTheOldOneKept) {
    ASSERT_TRUE(SetOemCodePage("CP437"));
    EXPECT_FALSE(SetOemCodePage("no-such-page"));
    EXPECT_FALSE(SetOemCodePage(""));
    EXPECT_EQ(OemCodePageName(), "CP437");
}

TEST(WideText, Utf8RoundTripAndMalformedInput) {
    const std::string text = "A é € 😀";
    WideString wide;
    ASSERT_TRUE(Utf8ToWide(text, wide));
    EXPECT_EQ(wide.size(), 8u);
    EXPECT_EQ(WideToUtf8(wide), text);
    EXPECT_FALSE(Utf8ToWide("\xC3", wide));          // cut sequence
    EXPECT_FALSE(Utf8ToWide("\xC0\xAF", wide));      // overlong
    EXPECT_FALSE(Utf8ToWide("\xED\xA0\x80", wide));  // surrogate
    EXPECT_FALSE(Utf8ToWide("\xFF", wide));
    EXPECT_TRUE(wide.empty());
    EXPECT_EQ(WideToUtf8(WideString(1, static_cast<WideChar>(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace

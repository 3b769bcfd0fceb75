#include <gtest/gtest.h>

#include "commands/WifiCmds.h"
#include "system/OemText.h"
#include "tests/commands/CmdTestUtil.h"
#include "values/Values.h"

namespace {

const Bytes kApHeader = {0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x03, 0x0A, 0x0B, 0x0C};
const Bytes kStationHeader = {0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x03, 0x07, 0x08, 0x09};

class WifiCmds : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(SetOemCodePage("CP437")); }
};

TEST_F(WifiCmds, AccessPointWorkedExample) {
    const WideString name = W("Thermal Printer");
    SetAPParaCmd cmd(0, static_cast<int>(name.size()), name);
    EXPECT_EQ(BytesOf(cmd),
              (Bytes{0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x03, 0x0A, 0x0B, 0x0C, 0x00, 0x0F, 0x54, 0x68,
                     0x65, 0x72, 0x6D, 0x61, 0x6C, 0x20, 0x50, 0x72, 0x69, 0x6E, 0x74, 0x65, 0x72}));
    EXPECT_EQ(cmd.GetData()[cmd.GetLength()], 0x00);  // stored after the text, not sent
}

TEST_F(WifiCmds, AccessPointNameSizes) {
    SetAPParaCmd empty(2, 0, WideString());
    Bytes expected = kApHeader;
    expected.push_back(0x02);
    expected.push_back(0x00);
    EXPECT_EQ(BytesOf(empty), expected);

    const WideString longest(31, u'x');
    SetAPParaCmd full(1, 31, longest);
    EXPECT_EQ(full.GetLength(), 42);
    EXPECT_EQ(full.GetData()[10], 31);
    EXPECT_EQ(full.GetData()[41], 'x');
    EXPECT_EQ(full.GetData()[42], 0x00);
}

TEST_F(WifiCmds, AccessPointNameTooLongNeverOverrunsTheBuffer) {
    // Callers refuse such names; the command itself still stays inside its 43 bytes (ASan checks).
    const WideString name(200, u'y');
    SetAPParaCmd cmd(0, 200, name);
    EXPECT_EQ(cmd.GetLength(), 42);
    EXPECT_EQ(cmd.GetData()[10], 200);  // the caller's length, low byte, as given
}

TEST_F(WifiCmds, IntegersGoOutAsTheirLowByte) {
    SetAPParaCmd ap(0x102, 0x10F, W("a"));
    EXPECT_EQ(ap.GetData()[9], 0x02);
    EXPECT_EQ(ap.GetData()[10], 0x0F);
    WifiTestParaCmd station(-1, 256 + 4, 0, 0, 1, W("x"));
    EXPECT_EQ(station.GetData()[9], 0xFF);
    EXPECT_EQ(station.GetData()[10], 0x04);
}

TEST_F(WifiCmds, StationWorkedExample) {
    const StationText st = BuildStationText(W("WIFI Name"), WideString(), 0xC0A801C8, 0xFFFFFF00, 0xC0A80101);
    EXPECT_EQ(st.nameLength, 9);
    EXPECT_EQ(st.passwordLength, 0);
    EXPECT_EQ(st.addressLength, 39);
    EXPECT_EQ(WideToUtf8(st.text), "WIFI Name192.168.1.200,255.255.255.0,192.168.1.1");

    WifiTestParaCmd cmd(0, 0, st.nameLength, st.passwordLength, st.addressLength, st.text);
    Bytes expected = kStationHeader;
    for (unsigned char b : {0x00, 0x00, 0x09, 0x00, 0x27}) {
        expected.push_back(b);
    }
    EXPECT_EQ(BytesOf(cmd), Concat(expected, "WIFI Name192.168.1.200,255.255.255.0,192.168.1.1"));
    EXPECT_EQ(cmd.GetLength(), 62);
}

TEST_F(WifiCmds, StationTextPiecesFollowEachOtherWithoutSeparators) {
    const StationText st = BuildStationText(W("Home"), W("secret12"), 0xC0A80105, 0xFFFFFF00, 0x0A000001);
    EXPECT_EQ(st.nameLength, 4);
    EXPECT_EQ(st.passwordLength, 8);
    EXPECT_EQ(WideToUtf8(st.text), "Homesecret12192.168.1.5,255.255.255.0,10.0.0.1");
    EXPECT_EQ(st.addressLength, 34);
    EXPECT_EQ(st.nameLength + st.passwordLength + st.addressLength, static_cast<int>(st.text.size()));
}

TEST_F(WifiCmds, AddressTextHasNoLeadingZerosAndSpansItsRange) {
    EXPECT_EQ(FormatAddress(0xC0A80105), "192.168.1.5");
    EXPECT_EQ(FormatAddress(0x00000000), "0.0.0.0");
    EXPECT_EQ(BuildStationText({}, {}, 0, 0, 0).addressLength, 23);
    EXPECT_EQ(BuildStationText({}, {}, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF).addressLength, 47);
}

TEST_F(WifiCmds, StationTextLimits) {
    const WideString text127(127, u's');
    WifiTestParaCmd largest(3, 4, 100, 4, 23, text127);
    EXPECT_EQ(largest.GetLength(), 141);
    EXPECT_EQ(largest.GetData()[141], 0x00);

    const WideString text300(300, u's');  // never written past the 142-byte buffer (ASan checks)
    WifiTestParaCmd clipped(3, 4, 250, 27, 23, text300);
    EXPECT_EQ(clipped.GetLength(), 141);
}

TEST_F(WifiCmds, CodePageTextAndDoubleByteCut) {
    // CP437 writes é as 82; a character outside it becomes the default character.
    SetAPParaCmd accent(0, 4, W("Café"));
    EXPECT_EQ(BytesOf(accent), Concat(Concat(kApHeader, std::string("\x00\x04", 2)), "Caf\x82"));
    SetAPParaCmd euro(0, 1, W("€"));
    EXPECT_EQ(euro.GetData()[11], '?');

    // A code page with two-byte characters: the field never grows past n bytes and never
    // holds half a character; what the conversion leaves unwritten is 00.
    if (!SetOemCodePage("CP932")) {
        GTEST_SKIP() << "CP932 is not available here";
    }
    SetAPParaCmd kana(0, 3, W("aあい"));
    ASSERT_EQ(kana.GetLength(), 14);
    EXPECT_EQ(kana.GetData()[10], 3);
    EXPECT_EQ(kana.GetData()[11], 'a');
    EXPECT_EQ(kana.GetData()[12], 0x82);  // あ is 82 A0 in CP932
    EXPECT_EQ(kana.GetData()[13], 0xA0);
    EXPECT_EQ(kana.GetData()[14], 0x00);  // い did not fit; this is the 00 after the field

    // Here the last byte of the field is left unwritten: あ needs two bytes and one is left.
    // It is sent as 00, and the station text's last byte the same way.
    SetAPParaCmd half(0, 2, W("aあ"));
    ASSERT_EQ(half.GetLength(), 13);
    EXPECT_EQ(BytesOf(half), Concat(Concat(kApHeader, std::string("\x00\x02", 2)), std::string("a\x00", 2)));
    WifiTestParaCmd station(3, 4, 1, 0, 0, W("xyあ"));
    ASSERT_EQ(station.GetLength(), 17);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(station.GetData()) + 14, 3),
              std::string("xy\x00", 3));
    SetOemCodePage("CP437");
}

}  // namespace

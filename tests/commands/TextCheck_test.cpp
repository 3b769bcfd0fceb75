#include <gtest/gtest.h>

#include "commands/TextCheck.h"
#include "system/OemText.h"
#include "tests/commands/CmdTestUtil.h"

namespace {

class TextCheck : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(SetOemCodePage("CP437")); }
    void TearDown() override { SetOemCodePage("CP437"); }
};

TEST_F(TextCheck, LengthLimitsNameTheFieldAndTheLimit) {
    EXPECT_EQ(CheckCmdText(CmdTextField::ApName, WideString(31, u'a')), "");
    const std::string tooLong = CheckCmdText(CmdTextField::ApName, WideString(32, u'a'));
    EXPECT_NE(tooLong.find("access point name"), std::string::npos) << tooLong;
    EXPECT_NE(tooLong.find("31"), std::string::npos) << tooLong;
    EXPECT_NE(tooLong.find("32"), std::string::npos) << tooLong;

    EXPECT_EQ(CheckCmdText(CmdTextField::StationText, WideString(127, u's')), "");
    const std::string station = CheckCmdText(CmdTextField::StationText, WideString(128, u's'));
    EXPECT_NE(station.find("station text"), std::string::npos) << station;
    EXPECT_NE(station.find("127"), std::string::npos) << station;
}

TEST_F(TextCheck, BluetoothTextHasNoLengthLimit) {
    EXPECT_EQ(CheckCmdText(CmdTextField::BtName, WideString(300, u'b')), "");
    EXPECT_EQ(CheckCmdText(CmdTextField::BtPin, WideString()), "");
}

TEST_F(TextCheck, TextTheCodePageCannotWriteOneByteEachIsRefused) {
    EXPECT_EQ(CheckCmdText(CmdTextField::ApName, W("Café")), "");
    EXPECT_EQ(CheckCmdText(CmdTextField::ApName, W("€")), "");      // one default character per unit
    EXPECT_EQ(CheckCmdText(CmdTextField::ApName, W("cat 😀")), "");  // "cat ??", one byte per unit

    if (!SetOemCodePage("CP932")) {
        GTEST_SKIP() << "CP932 is not available here";
    }
    const std::string kana = CheckCmdText(CmdTextField::ApName, W("aあ"));
    EXPECT_NE(kana.find("access point name"), std::string::npos) << kana;
    EXPECT_NE(kana.find("CP932"), std::string::npos) << kana;
    EXPECT_NE(CheckCmdText(CmdTextField::StationText, W("あ")), "");
    EXPECT_NE(CheckCmdText(CmdTextField::BtName, W("あ")), "");
    // Past the 63 units that are sent, nothing is converted, so nothing there is refused.
    EXPECT_EQ(CheckCmdText(CmdTextField::BtName, WideString(63, u'n') + W("あ")), "");
}

TEST_F(TextCheck, UnwritableCharactersAreTheOnesTheCodePageWouldReplace) {
    EXPECT_EQ(UnwritableCharacters(W("Thermal Printer ?")), WideString());        // a real '?' is fine
    EXPECT_EQ(UnwritableCharacters(W("Caf\u00e9 \u00fc \u2500")), WideString());  // CP437 has them
    // The euro sign, an emoji (a surrogate pair) and a letter a best-fit mapping would turn into
    // 'a': each once, in order.
    EXPECT_EQ(UnwritableCharacters(W("\u20ac x \U0001F600 \u0101 \u20ac")), W("\u20ac\U0001F600\u0101"));
    ASSERT_TRUE(SetOemCodePage("CP1252"));
    EXPECT_EQ(UnwritableCharacters(W("\u20ac")), WideString());
}

}  // namespace

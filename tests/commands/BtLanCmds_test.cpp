#include <gtest/gtest.h>

#include "commands/BtLanCmds.h"
#include "system/OemText.h"
#include "tests/commands/CmdTestUtil.h"

namespace {

class BtLanCmds : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(SetOemCodePage("CP437")); }
};

TEST_F(BtLanCmds, BluetoothWorkedExamples) {
    EXPECT_EQ(BytesOf(SetBtNameCmd(W("Printer"))),
              (Bytes{0x1F, 0x1B, 0x1F, 0xF0, 0x07, 0x50, 0x72, 0x69, 0x6E, 0x74, 0x65, 0x72}));
    EXPECT_EQ(BytesOf(SetBtPinCmd(W("6042"))), (Bytes{0x1F, 0x1B, 0x1F, 0x09, 0x04, '6', '0', '4', '2'}));
    EXPECT_EQ(BytesOf(SetBtNameCmd(WideString())), (Bytes{0x1F, 0x1B, 0x1F, 0xF0, 0x00}));
    EXPECT_EQ(BytesOf(SetBtPinCmd(WideString())), (Bytes{0x1F, 0x1B, 0x1F, 0x09, 0x00}));
}

TEST_F(BtLanCmds, BluetoothTextIsCutTo63) {
    WideString name;
    for (int i = 0; i < 63; ++i) {
        name += static_cast<WideChar>('A' + i % 26);
    }
    SetBtNameCmd exact(name);
    EXPECT_EQ(exact.GetLength(), 68);
    EXPECT_EQ(exact.GetData()[4], 0x3F);
    EXPECT_EQ(exact.GetData()[68], 0x00);

    SetBtNameCmd longer(name + W("XYZ and much more"));
    EXPECT_EQ(BytesOf(longer), BytesOf(exact));
    SetBtPinCmd pin(WideString(500, u'9'));
    EXPECT_EQ(pin.GetLength(), 68);
    EXPECT_EQ(pin.GetData()[4], 0x3F);
}

TEST_F(BtLanCmds, AddressWorkedExamples) {
    EXPECT_EQ(BytesOf(SetIPCmd(0xC0A8017B)), (Bytes{0x1F, 0x1B, 0x1D, 0x00, 0xC0, 0xA8, 0x01, 0x7B}));
    EXPECT_EQ(BytesOf(SetMASKCmd(0xFFFFFF00)), (Bytes{0x1F, 0x1B, 0x1D, 0x01, 0xFF, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(BytesOf(SetGATECmd(0xC0A80101)), (Bytes{0x1F, 0x1B, 0x1D, 0x02, 0xC0, 0xA8, 0x01, 0x01}));
    EXPECT_EQ(BytesOf(SetIPCmd(0)), (Bytes{0x1F, 0x1B, 0x1D, 0x00, 0, 0, 0, 0}));
    EXPECT_EQ(BytesOf(SetGATECmd(0xFFFFFFFF)), (Bytes{0x1F, 0x1B, 0x1D, 0x02, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(BtLanCmds, MacAlwaysBeginsWithBc20) {
    // 158.34.86.28 as the dialog shows it.
    EXPECT_EQ(BytesOf(SetMACCmd(0x9E22561C)),
              (Bytes{0x1F, 0x1B, 0x1D, 0x03, 0xBC, 0x20, 0x9E, 0x22, 0x56, 0x1C}));
    EXPECT_EQ(BytesOf(SetMACCmd(0)), (Bytes{0x1F, 0x1B, 0x1D, 0x03, 0xBC, 0x20, 0, 0, 0, 0}));
}

TEST_F(BtLanCmds, Dhcp) {
    EXPECT_EQ(BytesOf(SetLanDHCPCmd(1)), (Bytes{0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x1B, 0x08, 0x01}));
    EXPECT_EQ(BytesOf(SetLanDHCPCmd(0)), (Bytes{0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x1B, 0x08, 0x00}));
    // The low byte, with no range check.
    EXPECT_EQ(BytesOf(SetLanDHCPCmd(0x105)), (Bytes{0x1F, 0x1A, 0x1F, 0x1B, 0x1F, 0x1B, 0x08, 0x05}));
}

}  // namespace

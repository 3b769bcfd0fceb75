#include <gtest/gtest.h>

#include <string>

#include "CmdTestUtil.h"
#include "FixedCmds.h"

namespace {

TEST(FixedCmds, BytesOfEveryFixedCommand) {
    EXPECT_EQ(BytesOf(CutPaper()), (Bytes{0x1D, 0x56, 0x01}));
    EXPECT_EQ(BytesOf(OpenCashBoxCmd()), (Bytes{0x1B, 0x70, 0x00, 0x40, 0x50}));
    EXPECT_EQ(BytesOf(ReadPinCmd()), (Bytes{0x1F, 0x1B, 0x1F, 0x0A}));
    EXPECT_EQ(BytesOf(CheckSpeedCmd()), (Bytes{0x1F, 0x1B, 0x1F, 0x0B}));
    EXPECT_EQ(BytesOf(FacModeCmd()), (Bytes{0x1F, 0x1A, 0x1B, 0x1C}));
    EXPECT_EQ(BytesOf(HexModeCmd()), (Bytes{0x1F, 0x28, 0x41}));
    EXPECT_EQ(BytesOf(WifiRefacCmd()), (Bytes{0x1F, 0x1B, 0x1F, 0x11}));
}

TEST(FixedCmds, PrintTestIsTextTwelveLineEndsAndTerminator) {
    PrintTestCmd cmd;
    ASSERT_EQ(cmd.GetLength(), 111);
    const std::string text =
        "Congratulations that the printer is connect success,you can configure the printer now.";
    ASSERT_EQ(text.size(), 86u);
    std::string expected = text;
    for (int i = 0; i < 12; ++i) {
        expected += "\r\n";
    }
    expected += '\0';
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(cmd.GetData()), 111), expected);
}

TEST(FixedCmds, ObjectsOfOneClassShareOneTable) {
    const unsigned char* first;
    {
        CutPaper a;
        first = a.GetData();
        CutPaper b;
        EXPECT_EQ(a.GetData(), b.GetData());
    }
    // Destroying both freed nothing: the table is still there and unchanged.
    CutPaper c;
    EXPECT_EQ(c.GetData(), first);
    EXPECT_EQ(BytesOf(c), (Bytes{0x1D, 0x56, 0x01}));
    EXPECT_EQ(HexModeCmd().GetData(), HexModeCmd().GetData());
    EXPECT_EQ(WifiRefacCmd().GetData(), WifiRefacCmd().GetData());
    EXPECT_EQ(FacModeCmd().GetData(), FacModeCmd().GetData());
}

TEST(Cmd, SettersReplaceFieldsOnly) {
    HexModeCmd cmd;
    const unsigned char other[] = {1, 2};
    cmd.SetLength(2);
    cmd.SetData(other);
    EXPECT_EQ(BytesOf(cmd), (Bytes{1, 2}));
    EXPECT_EQ(BytesOf(HexModeCmd()), (Bytes{0x1F, 0x28, 0x41}));  // the shared table is untouched
}

TEST(Cmd, UsedThroughTheBaseClass) {
    // Senders see only Cmd; deleting through it must run the subclass destructor (ASan checks).
    Cmd* cmds[] = {new CutPaper(), new PrintTestCmd(), new OpenCashBoxCmd()};
    EXPECT_EQ(cmds[0]->GetLength() + cmds[1]->GetLength() + cmds[2]->GetLength(), 3 + 111 + 5);
    for (Cmd* cmd : cmds) {
        delete cmd;
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "commands/BtLanCmds.h"
#include "commands/FixedCmds.h"
#include "commands/WifiCmds.h"
#include "tests/commands/CmdTestUtil.h"

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

TEST(FixedCmds, TheStatusRequestCarriesWhatItAsksFor) {
    EXPECT_EQ(BytesOf(StatusRequestCmd(1)), (Bytes{0x10, 0x04, 0x01}));
    EXPECT_EQ(BytesOf(StatusRequestCmd(4)), (Bytes{0x10, 0x04, 0x04}));
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

// Every kind of command, fixed and built, as a sender sees it: through Cmd.
std::vector<std::unique_ptr<Cmd>> EveryKindOfCommand() {
    std::vector<std::unique_ptr<Cmd>> cmds;
    cmds.emplace_back(new CutPaper());
    cmds.emplace_back(new PrintTestCmd());
    cmds.emplace_back(new SetAPParaCmd(0, 4, W("Shop")));
    cmds.emplace_back(new WifiTestParaCmd(3, 4, 4, 6, 5, W("Shopsecret1.2.3.4")));
    cmds.emplace_back(new SetBtNameCmd(W("Printer")));
    cmds.emplace_back(new SetBtPinCmd(W("6042")));
    cmds.emplace_back(new SetIPCmd(0xC0A8017B));
    cmds.emplace_back(new SetMASKCmd(0xFFFFFF00));
    cmds.emplace_back(new SetGATECmd(0xC0A80101));
    cmds.emplace_back(new SetMACCmd(0x9E22561C));
    cmds.emplace_back(new SetLanDHCPCmd(1));
    return cmds;
}

TEST(Cmd, SettersReplaceFieldsOnlyAndOwnershipStays) {
    // Pointing a command at other bytes changes what it sends, not what it frees: a built
    // command still frees its own buffer (and nothing else) when deleted through Cmd. The
    // sanitizers of the native build report a wrong free or a leak here.
    static const unsigned char kOther[] = {1, 2};
    for (std::unique_ptr<Cmd>& cmd : EveryKindOfCommand()) {
        cmd->SetData(kOther);
        cmd->SetLength(2);
        EXPECT_EQ(BytesOf(*cmd), (Bytes{1, 2}));
        cmd.reset();
    }
    EXPECT_EQ(BytesOf(CutPaper()), (Bytes{0x1D, 0x56, 0x01}));  // the shared table is untouched
    EXPECT_EQ(BytesOf(HexModeCmd()), (Bytes{0x1F, 0x28, 0x41}));
}

}  // namespace

#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "commands/Commands.h"
#include "commands/Decode.h"
#include "tests/commands/CmdTestUtil.h"
#include "tests/tolctl/DecodedBytes.h"

namespace {

using Lines = std::vector<std::string>;

Bytes Of(const Cmd& cmd) {
    return Bytes(cmd.GetData(), cmd.GetData() + cmd.GetLength());
}

std::string HexOf(const Bytes& bytes) {
    std::string hex;
    for (unsigned char b : bytes) {
        hex += "0123456789abcdef"[b >> 4];
        hex += "0123456789abcdef"[b & 15];
    }
    return hex;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Decode : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(SetOemCodePage("CP437")); }
};

// Decodes `input` and checks that the lines stand for exactly its bytes: none skipped, none
// added, none misread, trailing bytes included.
Lines DecodedWhole(const Bytes& input) {
    const Lines lines = DecodeCommands(input);
    Bytes rebuilt;
    std::string problem;
    EXPECT_TRUE(RebuildDecodedBytes(lines, rebuilt, problem)) << problem;
    EXPECT_EQ(rebuilt, input) << "the decoded lines do not stand for the input";
    return lines;
}

TEST_F(Decode, SeveralCommandsInARow) {
    const Bytes stream = Of(CutPaper()) + Of(SetIPCmd(0xC0A8017B)) + Of(PrintTestCmd()) +
                         Of(SetLanDHCPCmd(1)) + Of(SetBtPinCmd(W("12\"\\"))) + Of(HexModeCmd());
    EXPECT_EQ(DecodedWhole(stream), (Lines{"cut", "lan-ip 192.168.1.123", "test-print", "lan-dhcp 1",
                                           "bt-pin \"12\\\"\\\\\"", "hex-mode"}));
}

TEST_F(Decode, UnknownBytesBetweenCommands) {
    const Bytes stream = Bytes{0x41, 0x42} + Of(CutPaper()) + Bytes{0x00};
    EXPECT_EQ(DecodedWhole(stream), (Lines{"unknown: 41 42 (2 bytes that begin no known command)", "cut",
                                           "unknown: 00 (1 byte that begin no known command)"}));
    EXPECT_EQ(DecodedWhole({}), Lines{});
}

TEST_F(Decode, TruncatedCommands) {
    Bytes ap = Of(SetAPParaCmd(0, 5, W("Hello")));
    ap.resize(13);
    EXPECT_EQ(
        DecodedWhole(ap),
        Lines{"truncated wifi-ap: 1f 1a 1f 1b 1f 03 0a 0b 0c 00 05 48 65 (input ends after 13 bytes of 16)"});
    ap.resize(10);
    EXPECT_NE(DecodedWhole(ap).at(0).find("before the command's length bytes"), std::string::npos);
    EXPECT_EQ(DecodedWhole(Bytes{0x1D, 0x56, 0x01, 0x1F, 0x1A}),
              (Lines{"cut", "truncated: 1f 1a (input ends after 2 bytes, inside a command's header)"}));
    // A stray letter at the end is not taken for the start of the test print.
    EXPECT_EQ(DecodedWhole(Bytes{'C'}), Lines{"unknown: 43 (1 byte that begin no known command)"});
}

TEST_F(Decode, StatusRequests) {
    EXPECT_EQ(DecodedWhole(Bytes{0x10, 0x04, 0x01, 0x10, 0x04, 0x04, 0x10, 0x04, 0xFF}),
              (Lines{"status-request n=1", "status-request n=4", "status-request n=255"}));
    EXPECT_EQ(DecodedWhole(Bytes{0x10, 0x04}),
              Lines{"truncated status-request: 10 04 (input ends after 2 bytes of 3)"});
    EXPECT_EQ(DecodedWhole(Bytes{0x10, 0x05}), Lines{"unknown: 10 05 (2 bytes that begin no known command)"});
}

// The steps a stream reader takes as bytes arrive one at a time, each step taken as soon as it
// is certain: (offset, length, name or "") -- as the listener reads status requests.
using Steps = std::vector<std::tuple<size_t, size_t, std::string>>;

Steps StreamedSteps(const Bytes& input) {
    Steps steps;
    size_t pos = 0;
    for (size_t have = 1; have <= input.size(); ++have) {
        while (pos < have) {
            const DecodeStep step = NextDecodeStep(input.data() + pos, have - pos, false);
            if (step.kind == DecodeStep::Kind::NeedMore) {
                break;
            }
            EXPECT_NE(step.kind, DecodeStep::Kind::Truncated);
            steps.emplace_back(pos, step.length, step.name != nullptr ? step.name : "");
            pos += step.length;
        }
    }
    return steps;
}

Steps WholeSteps(const Bytes& input) {
    Steps steps;
    for (size_t pos = 0; pos < input.size();) {
        const DecodeStep step = NextDecodeStep(input.data() + pos, input.size() - pos, true);
        if (step.kind == DecodeStep::Kind::Truncated) {
            break;  // the stream is still waiting for the rest of it
        }
        steps.emplace_back(pos, step.length, step.name != nullptr ? step.name : "");
        pos += step.length;
    }
    return steps;
}

TEST_F(Decode, ReadAsAStreamItTakesTheStepsOfTheWholeDecode) {
    // The test print begins with text: its first letters must not be taken for stray bytes
    // before the rest has come.
    EXPECT_EQ(StreamedSteps(Of(PrintTestCmd())), (Steps{{0, Of(PrintTestCmd()).size(), "test-print"}}));
    EXPECT_EQ(StreamedSteps(Bytes{'C', 'X'}), (Steps{{0, 1, ""}, {1, 1, ""}}));
    std::mt19937 random(54321);
    const Bytes valid = Of(PrintTestCmd()) + Bytes{0x10, 0x04, 0x01} + Of(SetAPParaCmd(1, 3, W("abc"))) +
                        Of(CutPaper()) + Of(SetMACCmd(7)) + Bytes{'C', 'o', 'n'};
    for (int round = 0; round < 300; ++round) {
        Bytes input = valid;
        for (int e = 1 + static_cast<int>(random() % 4); e > 0; --e) {
            input[random() % input.size()] = static_cast<unsigned char>(random() % 3 == 0 ? 0x10 : random());
        }
        input.resize(random() % (input.size() + 1));
        // Where the input ends, the whole decode may still take steps the stream waits with.
        const Steps streamed = StreamedSteps(input);
        Steps whole = WholeSteps(input);
        ASSERT_LE(streamed.size(), whole.size()) << HexOf(input);
        whole.resize(streamed.size());
        ASSERT_EQ(streamed, whole) << HexOf(input);
    }
}

TEST_F(Decode, StationTextThatIsNotThreeAddresses) {
    WifiTestParaCmd cmd(1, 2, 1, 1, 3, W("ab1,2"));
    EXPECT_EQ(DecodedWhole(Of(cmd)),
              Lines{"wifi-station auth=1 enc=2 ssid=\"a\" password=\"b\" address=\"1,2\""});
    // Addresses written another way than the programs write them are shown as they came, not
    // as the address they might mean.
    const std::string padded = "010.0.0.1,255.255.255.0,10.0.0.254";
    WifiTestParaCmd zeros(3, 4, 0, 0, static_cast<int>(padded.size()), W(padded));
    EXPECT_EQ(DecodedWhole(Of(zeros)),
              Lines{"wifi-station auth=3 enc=4 ssid=\"\" password=\"\" address=\"" + padded + "\""});
}

TEST_F(Decode, ControlCharactersInTextAreEscaped) {
    EXPECT_EQ(DecodedWhole(Of(SetBtNameCmd(W("a\nb")))), Lines{"bt-name \"a\\x0ab\""});
    EXPECT_EQ(DecodedWhole(Of(SetBtNameCmd(W("Café")))), Lines{"bt-name \"Café\""});
}

TEST_F(Decode, NeverFailsOnArbitraryInput) {
    // Random bytes and damaged commands: every byte is accounted for in some line (ASan and
    // UBSan watch the reads).
    std::mt19937 random(12345);
    const Bytes valid = Of(WifiTestParaCmd(3, 4, 4, 4, 23, W("homepass0.0.0.0,0.0.0.0,0.0.0.0"))) +
                        Of(SetAPParaCmd(1, 3, W("abc"))) + Of(SetMACCmd(7));
    for (int round = 0; round < 2000; ++round) {
        Bytes input = valid;
        const int edits = 1 + static_cast<int>(random() % 6);
        for (int e = 0; e < edits; ++e) {
            input[random() % input.size()] = static_cast<unsigned char>(random() % 4 == 0 ? 0x1F : random());
        }
        input.resize(random() % (input.size() + 1));
        DecodedWhole(input);
        if (::testing::Test::HasFailure()) {
            FAIL() << "input: " << HexOf(input);
        }
    }
    Bytes noise(4096);
    for (unsigned char& b : noise) {
        b = static_cast<unsigned char>(random());
    }
    DecodedWhole(noise);
}

TEST_F(Decode, TheByteCheckNoticesAByteDroppedAddedOrChanged) {
    // The check above is what catches a decoder that loses bytes; it must see any difference.
    const Bytes stream = Of(SetBtNameCmd(W("Printer"))) + Bytes{0xEE, 0x1D} + Of(SetIPCmd(0x0A000001));
    const Lines lines = DecodeCommands(stream);
    Bytes rebuilt;
    std::string problem;
    ASSERT_TRUE(RebuildDecodedBytes(lines, rebuilt, problem)) << problem;
    ASSERT_EQ(rebuilt, stream);
    for (size_t i = 0; i < stream.size(); ++i) {
        Bytes dropped = stream;
        dropped.erase(dropped.begin() + static_cast<std::ptrdiff_t>(i));
        EXPECT_NE(DecodeCommands(dropped), lines) << "byte " << i;
        Bytes changed = stream;
        changed[i] ^= 0x40;
        EXPECT_NE(DecodeCommands(changed), lines) << "byte " << i;
    }
    // Lines that claim bytes they do not show are not read back.
    EXPECT_FALSE(
        RebuildDecodedBytes({"unknown: 41 42 (3 bytes that begin no known command)"}, rebuilt, problem));
    EXPECT_FALSE(
        RebuildDecodedBytes({"truncated: 1f 1a (input ends after 2 bytes)", "cut"}, rebuilt, problem));
    EXPECT_FALSE(RebuildDecodedBytes({"lan-ip 10.0.0.01"}, rebuilt, problem));
}

}  // namespace

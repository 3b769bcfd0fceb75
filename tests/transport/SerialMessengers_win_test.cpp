// COM and LPT ports through ptys that the bench links into the prefix's dosdevices folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "SerialMessengers.h"
#include "WineBench.h"

namespace {

namespace bench = wine_bench;

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(bench::Available()) << "run through tests/wine/bench.sh"; }
    void TearDown() override {
        for (const std::string& name : m_used) {
            bench::Remove(name);
        }
    }
    // The fake behind a DOS device, put back as it was after the test.
    bool Pty(const std::string& name) {
        m_used.push_back(name);
        return bench::Pty(name);
    }
    bool Stall(const std::string& name) {
        m_used.push_back(name);
        return bench::Stall(name);
    }
    bool Absent(const std::string& name) {
        m_used.push_back(name);
        return bench::Absent(name);
    }

  private:
    std::vector<std::string> m_used;
};

// The line settings that an 8N1 port without flow control shows to `stty -a`.
void ExpectRawEightNOne(const std::string& stty, int baud) {
    EXPECT_NE(stty.find("speed " + std::to_string(baud) + " baud"), std::string::npos) << stty;
    std::istringstream words(stty);
    const std::set<std::string> flags{std::istream_iterator<std::string>(words), {}};
    for (const char* flag : {"cs8", "-parenb", "-cstopb", "-crtscts", "-ixon", "-ixoff"}) {
        EXPECT_EQ(flags.count(flag), 1u) << "no " << flag << " in: " << stty;
    }
}

// A COM port that its test can look into: the line settings as the driver reports them, and
// whether the far end's bytes have reached the driver.
class WatchedCom : public ComMessenger {
  public:
    using ComMessenger::ComMessenger;
    DCB State() const {
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        EXPECT_TRUE(GetCommState(m_hPort.Get(), &dcb));
        return dcb;
    }
    bool Arrived(DWORD count) const {
        for (int i = 0; i < 300; ++i) {
            DWORD errors = 0;
            COMSTAT status{};
            if (ClearCommError(m_hPort.Get(), &errors, &status) && status.cbInQue >= count) {
                return true;
            }
            Sleep(10);
        }
        return false;
    }
};

const std::string kCommand("\x1f\x1b\x1f\x00\x0a\xff", 6);

TEST_F(SerialPortTest, ComPortsWriteExactBytesAt8N1WithoutFlowControl) {
    struct Case {
        int port;
        int baud;
        const char* name;
    };
    for (const Case& c : {Case{0, 9600, "com1"}, Case{1, 115200, "com2"}}) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(Pty(c.name));
        {
            WatchedCom messenger(c.port, c.baud);
            EXPECT_EQ(messenger.LastError(), 0) << messenger.LastErrorText();  // opened and configured
            // What the driver reports back: 8N1, DTR and RTS on, no flow control of any kind.
            const DCB dcb = messenger.State();
            EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(c.baud));
            EXPECT_EQ(dcb.ByteSize, 8);
            EXPECT_EQ(dcb.Parity, NOPARITY);
            EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
            EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
            EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
            EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
            EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
            EXPECT_EQ(dcb.fOutX, 0u);
            EXPECT_EQ(dcb.fInX, 0u);
            ASSERT_EQ(messenger.Write(kCommand.data(), static_cast<int>(kCommand.size())), 0)
                << messenger.LastErrorText();
            EXPECT_EQ(bench::Captured(c.name, kCommand.size()), kCommand);
            ExpectRawEightNOne(bench::Stty(c.name), c.baud);
            EXPECT_GT(bench::Holders(c.name), 0);
        }
        EXPECT_EQ(bench::Holders(c.name), 0);  // the messenger's deletion closed the port
    }
}

TEST_F(SerialPortTest, NamedComPortChangesOnlyItsOwnSettings) {
    ASSERT_TRUE(Pty("com3"));
    // What a driver might have left: another rate, two stop bits, both kinds of flow control,
    // and XON/XOFF characters of its own. (A pty always has 8 bits and no parity, so those two
    // members cannot be watched here.)
    ASSERT_TRUE(bench::Preset("com3", "1200 cstopb crtscts ixon ixoff start ^A stop ^B"));
    ComMessenger messenger("COM3", 38400);
    EXPECT_EQ(messenger.LastError(), 0) << messenger.LastErrorText();
    ASSERT_EQ(messenger.Write("named", 5), 0) << messenger.LastErrorText();
    EXPECT_EQ(bench::Captured("com3", 5), "named");
    const std::string stty = bench::Stty("com3");
    ExpectRawEightNOne(stty, 38400);
    // The members that are not the messenger's keep what the driver had.
    EXPECT_NE(stty.find("start = ^A;"), std::string::npos) << stty;
    EXPECT_NE(stty.find("stop = ^B;"), std::string::npos) << stty;
}

TEST_F(SerialPortTest, LptPortsWriteExactBytes) {
    for (int port = 0; port < 3; ++port) {
        const std::string name = "lpt" + std::to_string(port + 1);
        SCOPED_TRACE(name);
        ASSERT_TRUE(Pty(name));
        const std::string bytes = kCommand + name;
        {
            LptMessenger messenger(port);
            EXPECT_GT(bench::Holders(name), 0);
            ASSERT_EQ(messenger.Write(bytes.data(), static_cast<int>(bytes.size())), 0)
                << messenger.LastErrorText();
        }
        EXPECT_EQ(bench::Captured(name, bytes.size()), bytes);
        EXPECT_EQ(bench::Holders(name), 0);  // deleting the messenger closed the port
    }
    LptMessenger named("LPT2");
    ASSERT_EQ(named.Write("by name", 7), 0) << named.LastErrorText();
    EXPECT_EQ(bench::Captured("lpt2", 7 + kCommand.size() + 4), kCommand + "lpt2" + "by name");
}

TEST_F(SerialPortTest, AbsentPortsFailAtOnce) {
    ASSERT_TRUE(Absent("com2"));
    ASSERT_TRUE(Absent("lpt3"));
    const ULONGLONG start = GetTickCount64();
    ComMessenger com2(1, 9600);
    ComMessenger com3(2, 9600);  // no such port number
    ComMessenger negative(-1, 9600);
    LptMessenger lpt3(2);
    LptMessenger lpt4(3);
    Messenger* all[] = {&com2, &com3, &negative, &lpt3, &lpt4};
    for (Messenger* messenger : all) {
        EXPECT_EQ(messenger->Write("x", 1), -1);
        EXPECT_NE(messenger->LastError(), 0);
        EXPECT_FALSE(messenger->LastErrorText().empty());
    }
    EXPECT_EQ(com2.LastError(), ERROR_FILE_NOT_FOUND) << com2.LastErrorText();
    EXPECT_LT(GetTickCount64() - start, 1000u);
    char buffer[1];
    EXPECT_EQ(com2.Read(buffer, 1), -1);
}

TEST_F(SerialPortTest, StalledPortTimesOutAndTheNextWriteStillWorks) {
    ASSERT_TRUE(Stall("lpt1"));
    LptMessenger messenger(0);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(messenger.Write("lost", 4), 258);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 2400u);
    EXPECT_LT(elapsed, 4000u);
    EXPECT_EQ(messenger.LastError(), WAIT_TIMEOUT);

    // Once the printer takes data again, a write on the same messenger goes through, and the
    // cancelled one never arrives.
    ASSERT_TRUE(bench::Drain("lpt1"));
    ASSERT_EQ(messenger.Write("next", 4), 0) << messenger.LastErrorText();
    EXPECT_EQ(bench::Captured("lpt1", 65536 + 4), std::string(65536, '\0') + "next");
}

TEST_F(SerialPortTest, ReadTakesWhatHasArrivedAndLosesNothing) {
    ASSERT_TRUE(Pty("com1"));
    WatchedCom messenger(0, 9600);
    char buffer[8] = {};
    EXPECT_EQ(messenger.Read(buffer, 0), 0);

    // Bytes that wait in the driver are taken by one Read, every time. (Wine answers each such
    // read as pending; a read cancelled at once would miss them now and then.)
    for (int round = 0; round < 10; ++round) {
        ASSERT_TRUE(bench::Inject("com1", "\x10\x04\x01"));
        ASSERT_TRUE(messenger.Arrived(3));
        ASSERT_EQ(messenger.Read(buffer, 3), 0) << "round " << round << ": " << messenger.LastErrorText();
        EXPECT_EQ(std::string(buffer, 3), "\x10\x04\x01");
    }

    // Nothing has arrived: the read fails at once, without waiting out all 16 looks.
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(messenger.Read(buffer, 4), -1);
    EXPECT_LT(GetTickCount64() - start, 1000u);

    // Part of it has arrived: the read fails, and the next one answers those bytes first.
    ASSERT_TRUE(bench::Inject("com1", "ab"));
    ASSERT_TRUE(messenger.Arrived(2));
    EXPECT_EQ(messenger.Read(buffer, 4), -1);
    ASSERT_TRUE(bench::Inject("com1", "cd"));
    ASSERT_TRUE(messenger.Arrived(2));
    ASSERT_EQ(messenger.Read(buffer, 4), 0) << messenger.LastErrorText();
    EXPECT_EQ(std::string(buffer, 4), "abcd");

    // A failed read took nothing that came later.
    ASSERT_TRUE(bench::Inject("com1", "late"));
    ASSERT_TRUE(messenger.Arrived(4));
    ASSERT_EQ(messenger.Read(buffer, 4), 0) << messenger.LastErrorText();
    EXPECT_EQ(std::string(buffer, 4), "late");

    LptMessenger lpt(7);
    EXPECT_EQ(lpt.Read(buffer, 1), -1);
}

}  // namespace

// Serial (COM) and parallel (LPT) ports against ptys and FIFOs that stand for the printer.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/transport/FarEnd.h"
#include "transport/SerialMessengers.h"

namespace {

class ComMessengerTest : public FarEndTest {};
class LptMessengerTest : public FarEndTest {};

// What an 8N1 line without flow control of any kind, passing raw bytes, looks like.
void ExpectRaw8N1WithoutFlowControl(const LineSettings& line, int baud) {
    EXPECT_EQ(line.outputBaud, baud);
    EXPECT_EQ(line.inputBaud, baud);
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_FALSE(line.parity);
    EXPECT_FALSE(line.twoStopBits);
    EXPECT_FALSE(line.rtsCts);
    EXPECT_FALSE(line.xonOutput || line.xoffInput || line.anyRestarts);
    EXPECT_FALSE(line.outputCooked);
    EXPECT_FALSE(line.canonical || line.echo || line.signals);
}

const std::string kCommand("\x1f\x1b\x1f\x00\x0a\xff", 6);

TEST_F(ComMessengerTest, SetsTheLineTo8N1RawWithoutFlowControl) {
    PortEnd& line = Port("com1", EndKind::Line);
    ComMessenger messenger(line.Device(), 19200);
    ASSERT_EQ(messenger.LastErrorText(), "");
    ExpectRaw8N1WithoutFlowControl(line.Line(), 19200);
}

TEST_F(ComMessengerTest, BytesArriveUnchanged) {
    PortEnd& line = Port("com2", EndKind::Line);
    ComMessenger messenger(line.Device(), 115200);
    // Line ends and XON/XOFF bytes must pass as they are in a raw line.
    const std::string command("\x1f\x1b\x1f\x0a\x0d\x11\x13\x00\xff", 9);
    EXPECT_EQ(messenger.Write(command.data(), static_cast<int>(command.size())), 0);
    EXPECT_EQ(line.Take(command.size()), command);
}

TEST_F(ComMessengerTest, NamedComPortChangesOnlyItsOwnSettings) {
    PortEnd& line = Port("com3", EndKind::Line);
    // What a driver might have left: another rate, two stop bits, both kinds of flow control,
    // and XON/XOFF characters of its own. (A pty always has 8 bits and no parity under Wine, so
    // those two members cannot be watched there.)
    ASSERT_TRUE(line.Preset("1200 cstopb crtscts ixon ixoff start ^A stop ^B"));
    ComMessenger messenger(line.Device(), 38400);
    EXPECT_EQ(messenger.LastError(), 0) << messenger.LastErrorText();
    ASSERT_EQ(messenger.Write("named", 5), 0) << messenger.LastErrorText();
    EXPECT_EQ(line.Take(5), "named");
    const LineSettings settings = line.Line();
    ExpectRaw8N1WithoutFlowControl(settings, 38400);
    // The members that are not the messenger's keep what the driver had.
    EXPECT_EQ(settings.startChar, 1);
    EXPECT_EQ(settings.stopChar, 2);
}

TEST_F(ComMessengerTest, PortsThatDoNotOpenAnswerFailure) {
    ComMessenger missing(Absent("com4"), 9600);
    EXPECT_EQ(missing.Write("x", 1), -1);
    EXPECT_TRUE(SaysWhy(missing, kNotFound));

    ComMessenger third(2, 9600);  // only COM1 and COM2 exist
    EXPECT_EQ(third.OpenPort(5, 9600), 0);
    EXPECT_EQ(third.Write("x", 1), -1);
    EXPECT_EQ(third.Close(), 0);
}

TEST_F(ComMessengerTest, AFileInADevicesPlaceIsNeverWritten) {
    const std::string file = RegularFile("not-a-port", "keep");
    ComMessenger com(file, 9600);
    EXPECT_EQ(com.Write("x", 1), -1);
    EXPECT_NE(com.LastErrorText().find("not a device"), std::string::npos) << com.LastErrorText();
    LptMessenger lpt(file);
    EXPECT_EQ(lpt.Write("x", 1), -1);
    EXPECT_EQ(FileBytes(file), "keep");
}

TEST_F(LptMessengerTest, AFailedSecondOpenLetsTheFirstDeviceGo) {
    PortEnd& printer = Port("lpt2", EndKind::Printer);
    LptMessenger messenger(printer.Device());
    ASSERT_EQ(messenger.Write("1", 1), 0) << messenger.LastErrorText();
    EXPECT_EQ(messenger.OpenPort(9), 0);
    EXPECT_EQ(messenger.Write("2", 1), -1);
    EXPECT_EQ(printer.Take(1), "1");
    LptMessenger again(printer.Device());
    EXPECT_EQ(again.Write("3", 1), 0) << again.LastErrorText();  // no longer held
}

TEST_F(LptMessengerTest, PortNumbersOutsideTheRangeOpenNothing) {
    LptMessenger messenger(3);
    EXPECT_EQ(messenger.Write("x", 1), -1);
    EXPECT_EQ(messenger.LastError(), kNoSuchPort.code);
    EXPECT_EQ(messenger.Open(), -1);
    EXPECT_EQ(messenger.Close(), 0);
}

TEST_F(LptMessengerTest, StalledPortTimesOutAndTheNextWriteStillWorks) {
    PortEnd& printer = Port("lpt1", EndKind::Stalled);
    LptMessenger messenger(printer.Device());
    const Stopwatch watch;
    EXPECT_EQ(messenger.Write("lost", 4), 258);
    const long long elapsed = watch.Ms();
    EXPECT_GE(elapsed, 2400);
    EXPECT_LT(elapsed, 4000);
    EXPECT_EQ(messenger.LastError(), kWriteTimedOut.code);

    // Once the printer takes data again, a write on the same messenger goes through, and the
    // timed-out one never arrives.
    ASSERT_TRUE(printer.Drain());
    ASSERT_EQ(messenger.Write("next", 4), 0) << messenger.LastErrorText();
    EXPECT_EQ(printer.Take(65536 + 4), std::string(65536, '\0') + "next");
}

}  // namespace

#ifdef _WIN32

namespace {

// Under Wine the devices behind the port numbers (COM1, COM2, LPT1-LPT3) can be faked, by the
// bench; the line settings can be read back through the driver; and a read fails as soon as
// fewer bytes have arrived than it wants.

// A COM port whose test can read back the settings the driver reports.
class DcbCom : public WatchedCom {
  public:
    using WatchedCom::WatchedCom;
    DCB State() const {
        DCB dcb{};
        dcb.DCBlength = sizeof(dcb);
        EXPECT_TRUE(GetCommState(m_hPort.Get(), &dcb));
        return dcb;
    }
};

TEST_F(ComMessengerTest, ADeviceNamedByAPathIsCheckedAndOpens) {
    PortEnd& printer = Port("com3", EndKind::Line);
    ComMessenger path("\\\\.\\" + printer.Device(), 9600);  // "\\.\COM3": a character device
    EXPECT_EQ(path.Write("x", 1), 0) << path.LastErrorText();
    EXPECT_EQ(printer.Take(1), "x");
}

TEST_F(ComMessengerTest, ComPortsWriteExactBytesAt8N1WithoutFlowControl) {
    struct Case {
        int port;
        int baud;
        const char* name;
    };
    for (const Case& c : {Case{0, 9600, "com1"}, Case{1, 115200, "com2"}}) {
        SCOPED_TRACE(c.name);
        PortEnd& line = Port(c.name, EndKind::Line);
        {
            DcbCom messenger(c.port, c.baud);
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
            EXPECT_EQ(line.Take(kCommand.size()), kCommand);
            ExpectRaw8N1WithoutFlowControl(line.Line(), c.baud);
            EXPECT_GT(line.Holders(), 0);
        }
        EXPECT_EQ(line.Holders(), 0);  // the messenger's deletion closed the port
    }
}

TEST_F(LptMessengerTest, LptPortsWriteExactBytes) {
    PortEnd* second = nullptr;
    for (int port = 0; port < 3; ++port) {
        const std::string name = "lpt" + std::to_string(port + 1);
        SCOPED_TRACE(name);
        PortEnd& printer = Port(name, EndKind::Printer);
        const std::string bytes = kCommand + name;
        {
            LptMessenger messenger(port);
            EXPECT_GT(printer.Holders(), 0);
            ASSERT_EQ(messenger.Write(bytes.data(), static_cast<int>(bytes.size())), 0)
                << messenger.LastErrorText();
        }
        EXPECT_EQ(printer.Take(bytes.size()), bytes);
        EXPECT_EQ(printer.Holders(), 0);  // deleting the messenger closed the port
        if (port == 1) {
            second = &printer;
        }
    }
    LptMessenger named("LPT2");
    ASSERT_EQ(named.Write("by name", 7), 0) << named.LastErrorText();
    EXPECT_EQ(second->Take(7), "by name");
}

TEST_F(ComMessengerTest, AbsentPortsFailAtOnce) {
    Absent("com2");
    Absent("lpt3");
    ComMessenger com2(1, 9600);
    ComMessenger com3(2, 9600);  // no such port number
    ComMessenger negative(-1, 9600);
    LptMessenger lpt3(2);
    LptMessenger lpt4(3);
    Messenger* all[] = {&com2, &com3, &negative, &lpt3, &lpt4};
    for (Messenger* messenger : all) {
        const Stopwatch watch;
        EXPECT_EQ(messenger->Write("x", 1), -1);
        EXPECT_LT(watch.Ms(), kFailsAtOnceMs);
        EXPECT_NE(messenger->LastError(), 0);
        EXPECT_FALSE(messenger->LastErrorText().empty());
    }
    EXPECT_EQ(com2.LastError(), ERROR_FILE_NOT_FOUND) << com2.LastErrorText();
    char buffer[1];
    EXPECT_EQ(com2.Read(buffer, 1), -1);
}

TEST_F(ComMessengerTest, ReadTakesWhatHasArrivedAndLosesNothing) {
    PortEnd& line = Port("com1", EndKind::Line);
    WatchedCom messenger(0, 9600);
    char buffer[8] = {};
    EXPECT_EQ(messenger.Read(buffer, 0), 0);

    // Bytes that wait in the driver are taken by one Read, every time. (Wine answers each such
    // read as pending; a read cancelled at once would miss them now and then.)
    for (int round = 0; round < 10; ++round) {
        ASSERT_TRUE(line.Send("\x10\x04\x01"));
        ASSERT_TRUE(messenger.Arrived(3));
        ASSERT_EQ(messenger.Read(buffer, 3), 0) << "round " << round << ": " << messenger.LastErrorText();
        EXPECT_EQ(std::string(buffer, 3), "\x10\x04\x01");
    }

    // Nothing has arrived: the read fails at once, without waiting out all 16 looks.
    const Stopwatch watch;
    EXPECT_EQ(messenger.Read(buffer, 4), -1);
    EXPECT_LT(watch.Ms(), 1000);

    // Part of it has arrived: the read fails, and the next one answers those bytes first.
    ASSERT_TRUE(line.Send("ab"));
    ASSERT_TRUE(messenger.Arrived(2));
    EXPECT_EQ(messenger.Read(buffer, 4), -1);
    ASSERT_TRUE(line.Send("cd"));
    ASSERT_TRUE(messenger.Arrived(2));
    ASSERT_EQ(messenger.Read(buffer, 4), 0) << messenger.LastErrorText();
    EXPECT_EQ(std::string(buffer, 4), "abcd");

    // A failed read took nothing that came later.
    ASSERT_TRUE(line.Send("late"));
    ASSERT_TRUE(messenger.Arrived(4));
    ASSERT_EQ(messenger.Read(buffer, 4), 0) << messenger.LastErrorText();
    EXPECT_EQ(std::string(buffer, 4), "late");

    LptMessenger lpt(7);
    EXPECT_EQ(lpt.Read(buffer, 1), -1);
}

}  // namespace

#else  // POSIX

#include <dlfcn.h>
#include <termios.h>

#include <cerrno>

// Stands in for a terminal driver that refuses new line settings: while g_bRefuseTcsetattr is
// set, tcsetattr fails with EINVAL. Calls from the transport code reach this definition first.
static bool g_bRefuseTcsetattr = false;

extern "C" int tcsetattr(int fd, int actions, const struct termios* settings) {
    if (g_bRefuseTcsetattr) {
        errno = EINVAL;
        return -1;
    }
    using Real = int (*)(int, int, const struct termios*);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "tcsetattr"));
    return real(fd, actions, settings);
}

namespace {

// Natively a port is held by one opener alone (Wine lets a second opener of the same device in,
// whatever the share mode), the line's settings can be refused, a baud rate can be one the
// system does not know, and a read gathers what arrives over all its looks.

TEST_F(ComMessengerTest, SecondOpenOfTheSamePortIsBusy) {
    PortEnd& line = Port("com1", EndKind::Line);
    auto first = std::make_unique<ComMessenger>(line.Device(), 9600);
    ASSERT_EQ(first->LastErrorText(), "");
    {
        ComMessenger second(line.Device(), 9600);
        EXPECT_EQ(second.LastError(), EBUSY);
        EXPECT_EQ(second.LastErrorText(), "device or resource busy");
        EXPECT_EQ(second.Write("x", 1), -1);
    }
    first.reset();
    ComMessenger third(line.Device(), 9600);
    EXPECT_EQ(third.Write("y", 1), 0) << third.LastErrorText();
    EXPECT_EQ(line.Take(1), "y");
}

TEST_F(LptMessengerTest, WritesToTheDeviceAndHoldsItAlone) {
    PortEnd& printer = Port("lpt1", EndKind::Printer);
    LptMessenger messenger(printer.Device());
    EXPECT_EQ(messenger.Write("\x1d\x56\x01", 3), 0) << messenger.LastErrorText();
    EXPECT_EQ(printer.Take(3), "\x1d\x56\x01");
    char buffer[8];
    EXPECT_EQ(messenger.Read(buffer, 1), -1);

    LptMessenger second(printer.Device());
    EXPECT_EQ(second.LastError(), EBUSY);
    EXPECT_EQ(second.Write("x", 1), -1);
}

TEST_F(ComMessengerTest, UnknownBaudRateOpensNothing) {
    PortEnd& line = Port("com1", EndKind::Line);
    ComMessenger oddBaud(line.Device(), 12345);
    EXPECT_EQ(oddBaud.Write("x", 1), -1);
    EXPECT_EQ(oddBaud.LastError(), EINVAL);
}

TEST_F(ComMessengerTest, AFailedSecondOpenLetsTheFirstDeviceGo) {
    PortEnd& line = Port("com1", EndKind::Line);
    ComMessenger messenger(line.Device(), 9600);
    ASSERT_EQ(messenger.Write("a", 1), 0);
    EXPECT_EQ(line.Take(1), "a");

    // A rate the port cannot take, then a port number that does not exist: each time the device
    // opened before is closed, and nothing more reaches it.
    EXPECT_EQ(messenger.OpenPort(0, 12345), 0);
    EXPECT_EQ(messenger.Write("b", 1), -1);
    EXPECT_EQ(messenger.LastError(), EINVAL);
    ComMessenger second(line.Device(), 9600);
    EXPECT_EQ(second.LastErrorText(), "") << "the first messenger still holds the port";
    EXPECT_EQ(second.OpenPort(7, 9600), 0);
    EXPECT_EQ(second.Write("c", 1), -1);
    EXPECT_EQ(line.Take(0), "");

    ComMessenger third(line.Device(), 9600);
    EXPECT_EQ(third.Write("d", 1), 0);  // the port is free again
    EXPECT_EQ(line.Take(1), "d");
}

TEST_F(ComMessengerTest, RefusedLineSettingsKeepThePortOpen) {
    PortEnd& line = Port("com1", EndKind::Line);
    g_bRefuseTcsetattr = true;
    ComMessenger messenger(line.Device(), 19200);
    g_bRefuseTcsetattr = false;
    EXPECT_EQ(messenger.LastError(), EINVAL);  // said, but the port is written all the same
    EXPECT_EQ(messenger.Write("as it is", 8), 0);
    EXPECT_EQ(line.Take(8), "as it is");
}

TEST_F(ComMessengerTest, ReadTakesWhatArrivesWithinItsBound) {
    PortEnd& line = Port("com1", EndKind::Line);
    ComMessenger messenger(line.Device(), 9600);
    ASSERT_TRUE(line.Send("ok\x0d\x0a"));
    char buffer[4] = {};
    EXPECT_EQ(messenger.Read(buffer, 4), 0);
    EXPECT_EQ(std::string(buffer, 4), "ok\r\n");

    EXPECT_EQ(messenger.Read(buffer, 0), 0);

    // Two bytes wanted, one comes: failure after about 16 x 100 ms.
    ASSERT_TRUE(line.Send("?"));
    const Stopwatch watch;
    EXPECT_EQ(messenger.Read(buffer, 2), -1);
    const long long elapsed = watch.Ms();
    EXPECT_GE(elapsed, 1500);
    EXPECT_LT(elapsed, 4000);

    // The byte that failed read took is not lost: the next Read answers it first.
    ASSERT_TRUE(line.Send("!"));
    EXPECT_EQ(messenger.Read(buffer, 2), 0);
    EXPECT_EQ(std::string(buffer, 2), "?!");
}

}  // namespace

#endif  // _WIN32

#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "SerialMessengers.h"

// Stands in for a terminal driver that refuses new line settings: while g_bRefuseTcsetattr is
// set, tcsetattr fails with EINVAL. Calls from the transport code reach this definition first.
namespace {
bool g_bRefuseTcsetattr = false;
}

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

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A pseudo-terminal: the messenger opens the slave as its serial port, the test holds the master,
// which stands for the printer at the other end of the cable.
struct Pty {
    UniqueFd master;
    std::string slave;

    Pty() {
        master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        EXPECT_TRUE(master.Valid());
        EXPECT_EQ(::grantpt(master.Get()), 0);
        EXPECT_EQ(::unlockpt(master.Get()), 0);
        slave = ::ptsname(master.Get());
    }

    std::string ReadAvailable() {
        std::string bytes;
        char buffer[256];
        ::fcntl(master.Get(), F_SETFL, O_NONBLOCK);
        ssize_t got;
        while ((got = ::read(master.Get(), buffer, sizeof buffer)) > 0) {
            bytes.append(buffer, static_cast<size_t>(got));
        }
        return bytes;
    }
};

TEST(ComMessengerTest, SetsTheLineTo8N1RawWithoutFlowControl) {
    Pty pty;
    ComMessenger messenger(pty.slave, 19200);
    ASSERT_EQ(messenger.LastErrorText(), "");

    // The master's termios calls reach the slave's settings.
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty.master.Get(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & PARENB, 0u);
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

TEST(ComMessengerTest, BytesArriveUnchanged) {
    Pty pty;
    ComMessenger messenger(pty.slave, 115200);
    // Line ends and XON/XOFF bytes must pass as they are in a raw line.
    const std::string command("\x1f\x1b\x1f\x0a\x0d\x11\x13\x00\xff", 9);
    EXPECT_EQ(messenger.Write(command.data(), static_cast<int>(command.size())), 0);
    EXPECT_EQ(pty.ReadAvailable(), command);
}

TEST(ComMessengerTest, SecondOpenOfTheSamePortIsBusy) {
    Pty pty;
    auto first = std::make_unique<ComMessenger>(pty.slave, 9600);
    ASSERT_EQ(first->LastErrorText(), "");
    {
        ComMessenger second(pty.slave, 9600);
        EXPECT_EQ(second.LastError(), EBUSY);
        EXPECT_EQ(second.LastErrorText(), "device or resource busy");
        EXPECT_EQ(second.Write("x", 1), -1);
    }
    first.reset();
    ComMessenger third(pty.slave, 9600);
    EXPECT_EQ(third.Write("y", 1), 0);
    EXPECT_EQ(pty.ReadAvailable(), "y");
}

TEST(ComMessengerTest, PortsThatDoNotOpenAnswerFailure) {
    ComMessenger missing("/dev/nonexistent-tty", 9600);
    EXPECT_EQ(missing.Write("x", 1), -1);
    EXPECT_EQ(missing.LastErrorText(), "no such file or directory");

    ComMessenger third(2, 9600);  // only COM1 and COM2 exist
    EXPECT_EQ(third.OpenPort(5, 9600), 0);
    EXPECT_EQ(third.Write("x", 1), -1);
    EXPECT_EQ(third.Close(), 0);

    Pty pty;
    ComMessenger oddBaud(pty.slave, 12345);
    EXPECT_EQ(oddBaud.Write("x", 1), -1);
    EXPECT_EQ(oddBaud.LastError(), EINVAL);
}

TEST(ComMessengerTest, AFailedSecondOpenLetsTheFirstDeviceGo) {
    Pty pty;
    ComMessenger messenger(pty.slave, 9600);
    ASSERT_EQ(messenger.Write("a", 1), 0);
    EXPECT_EQ(pty.ReadAvailable(), "a");

    // A rate the port cannot take, then a port number that does not exist: each time the device
    // opened before is closed, and nothing more reaches it.
    EXPECT_EQ(messenger.OpenPort(0, 12345), 0);
    EXPECT_EQ(messenger.Write("b", 1), -1);
    EXPECT_EQ(messenger.LastError(), EINVAL);
    ComMessenger second(pty.slave, 9600);
    EXPECT_EQ(second.LastErrorText(), "") << "the first messenger still holds the port";
    EXPECT_EQ(second.OpenPort(7, 9600), 0);
    EXPECT_EQ(second.Write("c", 1), -1);
    EXPECT_EQ(pty.ReadAvailable(), "");

    ComMessenger third(pty.slave, 9600);
    EXPECT_EQ(third.Write("d", 1), 0);  // the port is free again
    EXPECT_EQ(pty.ReadAvailable(), "d");
}

TEST(ComMessengerTest, RefusedLineSettingsKeepThePortOpen) {
    Pty pty;
    g_bRefuseTcsetattr = true;
    ComMessenger messenger(pty.slave, 19200);
    g_bRefuseTcsetattr = false;
    EXPECT_EQ(messenger.LastError(), EINVAL);  // said, but the port is written all the same
    EXPECT_EQ(messenger.Write("as it is", 8), 0);
    EXPECT_EQ(pty.ReadAvailable(), "as it is");
}

TEST(ComMessengerTest, ReadTakesWhatArrivesWithinItsBound) {
    Pty pty;
    ComMessenger messenger(pty.slave, 9600);
    ASSERT_EQ(::write(pty.master.Get(), "ok\x0d\x0a", 4), 4);
    char buffer[4] = {};
    EXPECT_EQ(messenger.Read(buffer, 4), 0);
    EXPECT_EQ(std::string(buffer, 4), "ok\r\n");

    EXPECT_EQ(messenger.Read(buffer, 0), 0);

    // Two bytes wanted, one comes: failure after about 16 x 100 ms.
    ASSERT_EQ(::write(pty.master.Get(), "?", 1), 1);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(messenger.Read(buffer, 2), -1);
    const double elapsed = SecondsSince(start);
    EXPECT_GE(elapsed, 1.5);
    EXPECT_LT(elapsed, 4.0);

    // The byte that failed read took is not lost: the next Read answers it first.
    ASSERT_EQ(::write(pty.master.Get(), "!", 1), 1);
    EXPECT_EQ(messenger.Read(buffer, 2), 0);
    EXPECT_EQ(std::string(buffer, 2), "?!");
}

// A FIFO stands in for the parallel port; the test holds its read end.
struct Fifo {
    std::string dir = "/tmp/tol-lpt-XXXXXX";
    std::string path;
    UniqueFd reader;

    Fifo() {
        EXPECT_NE(::mkdtemp(&dir[0]), nullptr);
        path = dir + "/lp0";
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        reader.Reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    }
    ~Fifo() {
        ::unlink(path.c_str());
        ::rmdir(dir.c_str());
    }
};

TEST(LptMessengerTest, WritesToTheDeviceAndHoldsItAlone) {
    Fifo fifo;
    LptMessenger messenger(fifo.path);
    EXPECT_EQ(messenger.Write("\x1d\x56\x01", 3), 0);
    char buffer[8];
    EXPECT_EQ(::read(fifo.reader.Get(), buffer, sizeof buffer), 3);
    EXPECT_EQ(messenger.Read(buffer, 1), -1);

    LptMessenger second(fifo.path);
    EXPECT_EQ(second.LastError(), EBUSY);
    EXPECT_EQ(second.Write("x", 1), -1);
}

TEST(LptMessengerTest, AFailedSecondOpenLetsTheFirstDeviceGo) {
    Fifo fifo;
    LptMessenger messenger(fifo.path);
    ASSERT_EQ(messenger.Write("1", 1), 0);
    EXPECT_EQ(messenger.OpenPort(9), 0);
    EXPECT_EQ(messenger.Write("2", 1), -1);
    char buffer[8];
    EXPECT_EQ(::read(fifo.reader.Get(), buffer, sizeof buffer), 1);
    LptMessenger again(fifo.path);
    EXPECT_EQ(again.Write("3", 1), 0);  // no longer held
}

TEST(LptMessengerTest, PortNumbersOutsideTheRangeOpenNothing) {
    LptMessenger messenger(3);
    EXPECT_EQ(messenger.Write("x", 1), -1);
    EXPECT_EQ(messenger.LastError(), ENODEV);
    EXPECT_EQ(messenger.Open(), -1);
    EXPECT_EQ(messenger.Close(), 0);
}

}  // namespace

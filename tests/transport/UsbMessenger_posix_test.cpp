#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "UsbMessenger.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Drain(int fd) {
    std::string bytes;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        bytes.append(buffer, static_cast<size_t>(got));
    }
    return bytes;
}

// A search folder (TOL_USB_DIR) whose "printers" are FIFOs or pseudo-terminals; the test holds
// the reading end of each.
class UsbSearchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(::mkdtemp(&m_dir[0]), nullptr);
        ::setenv("TOL_USB_DIR", m_dir.c_str(), 1);
    }
    void TearDown() override {
        for (const auto& printer : m_printers) {
            ::unlink((m_dir + "/" + printer.first).c_str());
        }
        ::rmdir(m_dir.c_str());
        ::unsetenv("TOL_USB_DIR");
    }

    // A FIFO printer; without a reader it cannot be opened for writing (ENXIO).
    int AddFifo(const std::string& name, bool withReader = true) {
        const std::string path = m_dir + "/" + name;
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        UniqueFd& reader = m_printers[name];
        if (withReader) {
            reader.Reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        }
        return reader.Get();
    }

    // A pseudo-terminal printer, made raw so that bytes pass unchanged.
    int AddPty(const std::string& name) {
        UniqueFd& master = m_printers[name];
        master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        EXPECT_EQ(::grantpt(master.Get()), 0);
        EXPECT_EQ(::unlockpt(master.Get()), 0);
        termios tio{};
        ::tcgetattr(master.Get(), &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(master.Get(), TCSANOW, &tio);
        EXPECT_EQ(::symlink(::ptsname(master.Get()), (m_dir + "/" + name).c_str()), 0);
        return master.Get();
    }

    void Remove(const std::string& name) {
        ::unlink((m_dir + "/" + name).c_str());
        m_printers.erase(name);
    }

    std::string m_dir = "/tmp/tol-usb-XXXXXX";
    std::map<std::string, UniqueFd> m_printers;
};

TEST_F(UsbSearchTest, NoPrinterMeansWritesFailUntilOneArrives) {
    UsbMessenger usb;
    EXPECT_EQ(usb.Write("x", 1), -1);
    EXPECT_EQ(usb.LastError(), ENODEV);
    EXPECT_NE(usb.LastErrorText().find("no such device"), std::string::npos);

    const int reader = AddFifo("lp0");
    EXPECT_EQ(usb.Open(), 0);  // the arrival
    EXPECT_EQ(usb.Write("\x1d\x56\x01", 3), 0);
    EXPECT_EQ(Drain(reader), "\x1d\x56\x01");
    EXPECT_EQ(usb.Read(nullptr, 0), -1);
}

TEST_F(UsbSearchTest, LastPrinterInNameOrderWins) {
    const int lp2 = AddFifo("lp2");
    const int lp10 = AddFifo("lp10");
    const int lp1 = AddPty("lp1");
    UsbMessenger usb;
    EXPECT_EQ(usb.Write("abc", 3), 0);
    EXPECT_EQ(Drain(lp10), "abc");
    EXPECT_EQ(Drain(lp2), "");
    EXPECT_EQ(Drain(lp1), "");
}

TEST_F(UsbSearchTest, OpenWhileOpenChangesNothingAndReopenFindsWhatIsLeft) {
    const int lp0 = AddPty("lp0");
    const int lp1 = AddFifo("lp1");
    UsbMessenger usb;

    AddFifo("lp5");
    EXPECT_EQ(usb.Open(), 0);  // a second arrival while a printer is open
    Remove("lp5");
    EXPECT_EQ(usb.Write("1", 1), 0);
    EXPECT_EQ(Drain(lp1), "1");

    // lp1 is unplugged: the removal closes the device, the next arrival searches again.
    Remove("lp1");
    EXPECT_EQ(usb.Close(), 0);
    EXPECT_EQ(usb.Write("2", 1), -1);
    EXPECT_EQ(usb.Open(), 0);
    EXPECT_EQ(usb.Write("\x1b\x70\x00\x40\x50\x0a", 6), 0);
    EXPECT_EQ(Drain(lp0), std::string("\x1b\x70\x00\x40\x50\x0a", 6));
}

TEST_F(UsbSearchTest, APrinterThatWillNotOpenEndsTheSearchWithNoDevice) {
    const int lp0 = AddFifo("lp0");
    AddFifo("lp1", /*withReader=*/false);  // the last one will not open
    UsbMessenger usb;
    EXPECT_EQ(usb.Open(), -1);
    EXPECT_EQ(usb.LastError(), ENXIO);
    EXPECT_EQ(usb.Write("x", 1), -1);
    EXPECT_EQ(Drain(lp0), "");  // the one opened before it was let go

    // The same when it comes first: the search stops there.
    Remove("lp0");
    AddFifo("lp2");
    UsbMessenger first;
    EXPECT_EQ(first.Open(), -1);
    EXPECT_EQ(first.Write("x", 1), -1);
}

TEST_F(UsbSearchTest, StalledPrinterTimesOutAndTheNextWriteWorks) {
    const int reader = AddFifo("lp0");
    UsbMessenger usb;
    std::vector<char> big(1024 * 1024, 'q');  // far more than a pipe holds
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(usb.Write(big.data(), static_cast<int>(big.size())), 258);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GE(elapsed, 2.4);
    EXPECT_LT(elapsed, 6.0);

    // The device stays open: once the printer reads again, the next command goes through.
    const std::string stalled = Drain(reader);
    EXPECT_GT(stalled.size(), 0u);
    EXPECT_LT(stalled.size(), big.size());
    EXPECT_EQ(usb.Write("\x1d\x56\x01", 3), 0);
    EXPECT_EQ(Drain(reader), "\x1d\x56\x01");
}

TEST_F(UsbSearchTest, ReaderGoneFailsTheWriteWithoutSignal) {
    AddFifo("lp0");
    UsbMessenger usb;
    Remove("lp0");                     // the reader closes: writes now raise SIGPIPE
    EXPECT_EQ(usb.Write("x", 1), -1);  // and the process lives on
    EXPECT_EQ(usb.LastError(), EPIPE);
}

TEST(UsbMessengerTest, FixedDeviceIsOpenedInsteadOfTheSearch) {
    UsbMessenger missing("/nonexistent/lp0");
    EXPECT_EQ(missing.LastErrorText(), "no such file or directory");
    EXPECT_EQ(missing.Open(), -1);
    EXPECT_EQ(missing.Write("x", 1), -1);

    char dir[] = "/tmp/tol-usbfixed-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/printer";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    UniqueFd reader(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    {
        UsbMessenger fixed(path);
        EXPECT_EQ(fixed.Write("ab", 2), 0);
        EXPECT_EQ(fixed.Close(), 0);
        EXPECT_EQ(fixed.Write("c", 1), -1);
        EXPECT_EQ(fixed.Open(), 0);
        EXPECT_EQ(fixed.Write("d", 1), 0);
    }
    EXPECT_EQ(Drain(reader.Get()), "abd");
    ::unlink(path.c_str());
    ::rmdir(dir);
}

}  // namespace

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TolctlRun.h"
#include "tolctl/Tolctl.h"
#include "transport/Messenger.h"

namespace {

using Result = TolctlResult;

// A loopback TCP port standing in for the printer; `listening` false makes connects refused.
struct Printer {
    UniqueFd fd;
    int port = 0;

    explicit Printer(bool listening = true) {
        fd.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        socklen_t size = sizeof addr;
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&addr), &size);
        port = ntohs(addr.sin_port);
        if (listening) {
            EXPECT_EQ(::listen(fd.Get(), 4), 0);
        }
    }
    std::string Uri() const { return "socket://127.0.0.1:" + std::to_string(port); }

    std::string Received() {
        UniqueFd peer(::accept(fd.Get(), nullptr, nullptr));
        std::string bytes;
        char buffer[1024];
        ssize_t got;
        while ((got = ::read(peer.Get(), buffer, sizeof buffer)) > 0) {
            bytes.append(buffer, static_cast<size_t>(got));
        }
        return bytes;
    }
};

TEST(TolctlSendTest, SocketPortReceivesExactlyTheCommand) {
    Printer printer;
    const Result r = Tolctl({"--port", printer.Uri(), "cut"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(printer.Received(), "\x1d\x56\x01");

    EXPECT_EQ(Tolctl({"--port", printer.Uri(), "lan-ip", "192.168.1.123"}).code, 0);
    EXPECT_EQ(printer.Received(), std::string("\x1f\x1b\x1d\x00\xc0\xa8\x01\x7b", 8));
}

TEST(TolctlSendTest, FailuresNameThePortAndTheReason) {
    Printer closed(/*listening=*/false);
    Result r = Tolctl({"--port", closed.Uri(), "cut"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "tolctl: " + closed.Uri() + " : connection refused\n");

    r = Tolctl({"--port", "socket://no-such-host.invalid", "cut"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot resolve"), std::string::npos) << r.err;

    r = Tolctl({"--port", "parallel:/nonexistent/lp0", "cut"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "tolctl: parallel:/nonexistent/lp0 : no such file or directory\n");
}

TEST(TolctlSendTest, BadPortsAreUsageErrorsAndSendNothing) {
    Printer printer;
    EXPECT_EQ(Tolctl({"--port", "socket://127.0.0.1:99999", "cut"}).code, 2);
    EXPECT_EQ(Tolctl({"--port", "serial:/dev/ttyS0?baud=14400", "cut"}).code, 2);
    EXPECT_EQ(Tolctl({"--port", "LPT1", "cut"}).code, 2);
    EXPECT_EQ(Tolctl({"--baud", "14400", "--port", printer.Uri(), "cut"}).code, 2);
    EXPECT_EQ(Tolctl({"--connect-timeout", "0", "--port", printer.Uri(), "cut"}).code, 2);
    // Refused input is refused before the port is touched.
    EXPECT_EQ(Tolctl({"--port", printer.Uri(), "wifi-ap", "--name", std::string(32, 'a')}).code, 2);
    ::fcntl(printer.fd.Get(), F_SETFL, O_NONBLOCK);
    EXPECT_EQ(::accept(printer.fd.Get(), nullptr, nullptr), -1);
}

TEST(TolctlSendTest, AddressesInNumericShorthandAreNeverConnectedTo) {
    // Each of these is read by a resolver as 127.0.0.1, where the printer listens: refused before
    // any connect, with exit code 2.
    Printer printer;
    const std::string port = std::to_string(printer.port);
    for (const char* host :
         {"127.1", "127.0.1", "0x7f.0.0.1", "127.0x0.0.1", "2130706433", "0x7f000001", "0x7f.1"}) {
        const Result r = Tolctl({"--port", std::string("socket://") + host + ":" + port, "cut"});
        EXPECT_EQ(r.code, 2) << host;
        EXPECT_NE(r.err.find(std::string("'") + host + "' is not an IPv4 address"), std::string::npos)
            << r.err;
    }
    // Address arguments of the settings, with a good port: refused before the port is touched.
    EXPECT_EQ(Tolctl({"--port", printer.Uri(), "lan-ip", "127.1"}).code, 2);
    EXPECT_EQ(Tolctl({"--port", printer.Uri(), "wifi-station", "--ssid", "s", "--ip", "1.2.3.4", "--gateway",
                      "0x7f.0.0.1"})
                  .code,
              2);
    EXPECT_EQ(Tolctl({"--port", "socket://127.000.000.001:" + port, "cut"}).code, 2);  // octal to some
    ::fcntl(printer.fd.Get(), F_SETFL, O_NONBLOCK);
    EXPECT_EQ(::accept(printer.fd.Get(), nullptr, nullptr), -1) << "a refused address was connected to";

    // A TCP port's leading zeros are decimal.
    EXPECT_EQ(Tolctl({"--port", "socket://127.0.0.1:000" + port, "cut"}).code, 0);
    EXPECT_EQ(printer.Received(), "\x1d\x56\x01");

    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunTolctl({"tolctl", "listen", "--bind", "127.1", "--port", "0"}, in, out, err), 2);
}

TEST(TolctlSendTest, SerialPortGetsTheBytesAtTheChosenBaudRate) {
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_EQ(::grantpt(master.Get()), 0);
    ASSERT_EQ(::unlockpt(master.Get()), 0);
    const std::string slave = ::ptsname(master.Get());
    termios tio{};

    Result r = Tolctl({"--port", "serial:" + slave + "?baud=38400", "open-drawer"});
    EXPECT_EQ(r.code, 0) << r.err;
    char buffer[16];
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(::read(master.Get(), buffer, sizeof buffer))),
              std::string("\x1b\x70\x00\x40\x50", 5));
    ASSERT_EQ(::tcgetattr(master.Get(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B38400));

    r = Tolctl({"--baud", "57600", "--port", "serial:" + slave, "cut"});
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(::tcgetattr(master.Get(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B57600));
}

TEST(TolctlSendTest, UsbPortThatStallsTimesOutWithExitCode3) {
    char dir[] = "/tmp/tol-ctl-usb-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/lp0";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    UniqueFd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    {
        // Fill the pipe so that the printer takes nothing more.
        UniqueFd filler(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        const std::vector<char> block(4096, 'f');
        while (::write(filler.Get(), block.data(), block.size()) > 0) {
        }
    }
    ::setenv("TOL_USB_DIR", dir, 1);
    Result r = Tolctl({"--port", "usb:", "cut"});
    EXPECT_EQ(r.code, 3);
    EXPECT_NE(r.err.find("tolctl: usb: : write timed out"), std::string::npos) << r.err;

    r = Tolctl({"--port", "usb:" + fifo, "cut"});
    EXPECT_EQ(r.code, 3);

    ::unlink(fifo.c_str());
    r = Tolctl({"--port", "usb:", "cut"});  // no printer left
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no such device"), std::string::npos) << r.err;
    ::unsetenv("TOL_USB_DIR");
    ::rmdir(dir);
}

}  // namespace

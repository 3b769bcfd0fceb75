// tolctl ports on a folder of pseudo-terminals that stand for the devices of /dev.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/TolctlProgram.h"
#include "tolctl/Tolctl.h"
#include "transport/Messenger.h"

namespace {

using namespace tolctl_program;

class PortsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::mkdir((m_dir / "usb").c_str(), 0755), 0);
        ASSERT_EQ(::setenv("TOL_DEV_DIR", m_dir.Path().c_str(), 1), 0);
        ASSERT_EQ(::setenv("TOL_USB_DIR", (m_dir / "usb").c_str(), 1), 0);
        ASSERT_EQ(::setenv("TOL_SYS_DIR", (m_dir / "sys").c_str(), 1), 0);
    }
    void TearDown() override {
        ::unsetenv("TOL_DEV_DIR");
        ::unsetenv("TOL_USB_DIR");
        ::unsetenv("TOL_SYS_DIR");
    }

    // A pty linked under `name` in the folder: a character device, as the real ports are.
    void Device(const std::string& name) {
        UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        ASSERT_TRUE(master.Valid());
        ASSERT_EQ(::grantpt(master.Get()), 0);
        ASSERT_EQ(::unlockpt(master.Get()), 0);
        ASSERT_EQ(::symlink(::ptsname(master.Get()), (m_dir / name).c_str()), 0);
        m_masters.push_back(std::move(master));
    }
    // What the kernel says about a ttyS: its UART type, 0 when no port was found.
    void SerialType(const std::string& name, int type) {
        const std::string dir = m_dir / ("sys/class/tty/" + name);
        ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
        std::ofstream(dir + "/type") << type << "\n";
    }

    static int Ports(const std::vector<std::string>& args, std::string& out, std::string& err) {
        std::vector<std::string> all = {"tolctl", "ports"};
        all.insert(all.end(), args.begin(), args.end());
        std::istringstream in;
        std::ostringstream o, e;
        const int code = RunTolctl(all, in, o, e);
        out = o.str();
        err = e.str();
        return code;
    }

    TempDir m_dir;

  private:
    std::vector<UniqueFd> m_masters;
};

TEST_F(PortsTest, ListsThePrinterDevicesWithTheirUrisInOrder) {
    for (const char* name : {"usb/lp10", "usb/lp2", "lp1", "lp0", "ttyUSB11", "ttyUSB1", "ttyACM0", "ttyS0",
                             "ttyS1", "ttyS2", "tty0", "ttyUSBx", "lpt1"}) {
        Device(name);
    }
    SerialType("ttyS0", 4);  // a 16550A
    SerialType("ttyS1", 0);  // a place where the kernel found no port; ttyS2 has no entry at all
    ASSERT_EQ(::symlink((m_dir / "gone").c_str(), (m_dir / "ttyUSB7").c_str()), 0);  // unplugged
    std::ofstream(m_dir / "lp5") << "not a device\n";
    const std::string d = m_dir.Path();

    std::string out, err;
    EXPECT_EQ(Ports({}, out, err), 0);
    EXPECT_EQ(err, "");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"usb:" + d + "/usb/lp2", "USB printer"},
        {"usb:" + d + "/usb/lp10", "USB printer"},
        {"parallel:" + d + "/lp0", "parallel port"},
        {"parallel:" + d + "/lp1", "parallel port"},
        {"serial:" + d + "/ttyUSB1", "USB serial adapter"},
        {"serial:" + d + "/ttyUSB11", "USB serial adapter"},
        {"serial:" + d + "/ttyACM0", "USB serial device (modem class)"},
        {"serial:" + d + "/ttyS0", "serial port"},
    };
    // The descriptions line up two blanks after the longest URI.
    const size_t width = ("serial:" + d + "/ttyUSB11").size() + 2;
    std::string lines;
    for (const auto& port : expected) {
        lines += port.first + std::string(width - port.first.size(), ' ') + port.second + "\n";
    }
    EXPECT_EQ(out, lines);

    EXPECT_EQ(Ports({"--format", "json"}, out, err), 0);
    const nlohmann::json json = nlohmann::json::parse(out);
    ASSERT_EQ(json.size(), 8u);
    EXPECT_EQ(json[0], nlohmann::json({{"uri", "usb:" + d + "/usb/lp2"}, {"description", "USB printer"}}));
    EXPECT_EQ(json[7]["uri"], "serial:" + d + "/ttyS0");
}

TEST_F(PortsTest, NoPortIsSaidButNotAnError) {
    std::string out, err;
    EXPECT_EQ(Ports({}, out, err), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "tolctl: ports: no printer port found\n");
    EXPECT_EQ(Ports({"--format", "json"}, out, err), 0);
    EXPECT_EQ(out, "[]\n");
    EXPECT_EQ(Ports({"--format", "xml"}, out, err), 2);
    EXPECT_EQ(err, "tolctl: ports --format: 'xml' is not text or json\n");
}

}  // namespace

#include <gtest/gtest.h>

#include "transport/PortUri.h"

namespace {

PortUri Parsed(const std::string& text, bool windowsNames = false) {
    PortUri uri;
    std::string error;
    EXPECT_TRUE(ParsePortUri(text, windowsNames, uri, error)) << text << ": " << error;
    return uri;
}

std::string Refusal(const std::string& text, bool windowsNames = false) {
    PortUri uri;
    std::string error;
    EXPECT_FALSE(ParsePortUri(text, windowsNames, uri, error)) << text;
    return error;
}

TEST(PortUriTest, SocketHostAndPort) {
    PortUri uri = Parsed("socket://127.0.1.100");
    EXPECT_EQ(uri.kind, PortUri::Kind::Socket);
    EXPECT_EQ(uri.host, "127.0.1.100");
    EXPECT_EQ(uri.tcpPort, 9100);

    uri = Parsed("socket://printer.local:9101");
    EXPECT_EQ(uri.host, "printer.local");
    EXPECT_EQ(uri.tcpPort, 9101);

    EXPECT_NE(Refusal("socket://"), "");
    EXPECT_NE(Refusal("socket://:9100"), "");
    EXPECT_NE(Refusal("socket://127.0.0.1:0").find("TCP port"), std::string::npos);
    EXPECT_NE(Refusal("socket://127.0.0.1:65536"), "");
    EXPECT_NE(Refusal("socket://127.0.0.1:91x"), "");
    EXPECT_NE(Refusal("socket://127.0.0.1/path"), "");

    // A bare address is the same as socket:// before it; its form is checked as strictly.
    uri = Parsed("127.0.0.5:9101");
    EXPECT_EQ(uri.kind, PortUri::Kind::Socket);
    EXPECT_EQ(uri.host, "127.0.0.5");
    EXPECT_EQ(uri.tcpPort, 9101);
    EXPECT_EQ(Parsed("127.0.0.5").tcpPort, 9100);
    EXPECT_NE(Refusal("127.1").find("four decimal fields"), std::string::npos);
}

TEST(PortUriTest, SerialDeviceAndBaud) {
    PortUri uri = Parsed("serial:/dev/ttyUSB0");
    EXPECT_EQ(uri.kind, PortUri::Kind::Serial);
    EXPECT_EQ(uri.device, "/dev/ttyUSB0");
    EXPECT_EQ(uri.baud, 0);  // not given: --baud or 9600 decides
    EXPECT_EQ(Parsed("serial:/dev/ttyS1?baud=115200").baud, 115200);
    EXPECT_EQ(Parsed("serial:/dev/ttyS1?baud=9600").device, "/dev/ttyS1");

    EXPECT_NE(Refusal("serial:/dev/ttyS0?baud=14400").find("baud="), std::string::npos);
    EXPECT_NE(Refusal("serial:/dev/ttyS0?speed=9600"), "");
    EXPECT_NE(Refusal("serial:"), "");
    EXPECT_NE(Refusal("serial:?baud=9600"), "");
}

TEST(PortUriTest, ParallelAndUsb) {
    PortUri uri = Parsed("parallel:/dev/lp1");
    EXPECT_EQ(uri.kind, PortUri::Kind::Parallel);
    EXPECT_EQ(uri.device, "/dev/lp1");
    EXPECT_NE(Refusal("parallel:"), "");

    uri = Parsed("usb:");
    EXPECT_EQ(uri.kind, PortUri::Kind::Usb);
    EXPECT_EQ(uri.device, "");
    EXPECT_EQ(Parsed("usb:/dev/usb/lp3").device, "/dev/usb/lp3");
}

TEST(PortUriTest, WindowsNamesMapToThePortIndexes) {
    const char* const names[] = {"USB001", "LPT1", "LPT2", "LPT3", "COM1", "COM2"};
    for (int i = 0; i < 6; ++i) {
        const PortUri uri = Parsed(names[i], true);
        EXPECT_EQ(uri.kind, PortUri::Kind::PortIndex) << names[i];
        EXPECT_EQ(uri.portIndex, i) << names[i];
    }
    EXPECT_EQ(Parsed("com2", true).portIndex, 5);
    EXPECT_NE(Refusal("COM3", true), "");
    EXPECT_NE(Refusal("LPT1", false), "");  // not a port name on POSIX
    EXPECT_NE(Refusal("usb:\\\\?\\usb#vid", true), "");
    EXPECT_EQ(Parsed("usb:", true).kind, PortUri::Kind::Usb);
}

TEST(PortUriTest, BaudTableAndAddressResolution) {
    EXPECT_EQ(BaudIndex(9600), 0);
    EXPECT_EQ(BaudIndex(115200), 4);
    EXPECT_EQ(BaudIndex(14400), -1);

    uint32_t address = 0;
    std::string error;
    EXPECT_TRUE(ResolveIpv4("127.0.1.100", address, error));
    EXPECT_EQ(address, 0x7F000164u);
    EXPECT_TRUE(ResolveIpv4("localhost", address, error)) << error;
    EXPECT_EQ(address >> 24, 127u);
    EXPECT_FALSE(ResolveIpv4("no-such-host.invalid", address, error));
    EXPECT_NE(error.find("no-such-host.invalid"), std::string::npos);

    // Leading zeros and shorthand never reach the resolver (which reads "0127.0.0.1" as octal
    // 87.0.0.1 and "127.1" as 127.0.0.1).
    for (const char* host : {"0127.0.0.001", "127.1", "0x7f.0.0.1", "2130706433", "017700000001"}) {
        address = 0;
        EXPECT_FALSE(ResolveIpv4(host, address, error)) << host;
        EXPECT_EQ(address, 0u) << host;
        EXPECT_NE(error.find("four decimal fields"), std::string::npos) << error;
    }
    // The --port parser refuses them before anything is resolved.
    EXPECT_NE(Refusal("socket://127.1:9100").find("'127.1' is not an IPv4 address"), std::string::npos);
    EXPECT_NE(Refusal("socket://printer local"), "");
    EXPECT_NE(Refusal("socket://127.0.14.040:9100").find("leading zeros are ambiguous"), std::string::npos);
    EXPECT_EQ(Parsed("socket://127.0.0.1:09100").tcpPort, 9100);  // a port's zeros are decimal
}

}  // namespace

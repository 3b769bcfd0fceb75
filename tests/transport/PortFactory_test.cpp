// The port factory: which messenger each port index makes, and who owns what.
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>

#include "tests/transport/FarEnd.h"
#include "tests/transport/LoopbackPort.h"
#include "transport/EthernetMessenger.h"
#include "transport/PortFactory.h"
#include "transport/SerialMessengers.h"
#include "transport/UsbMessenger.h"

namespace {

class PortFactoryTest : public FarEndTest {};

TEST_F(PortFactoryTest, UnknownIndexesAnswerNull) {
    EXPECT_EQ(CreateMessenger(7, 0, 0), nullptr);
    EXPECT_EQ(CreateMessenger(-1, 0, 0), nullptr);
    ReleaseMessenger(nullptr);  // returns quietly
}

TEST_F(PortFactoryTest, UsbIndexAnswersTheOneProcessWideMessenger) {
    // No USB printer is there.
    Messenger* first = CreateMessenger(kPortUsb, 3, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(typeid(*first), typeid(UsbMessenger));
    EXPECT_EQ(first, g_pUsbMessenger);
    ReleaseMessenger(first);
    EXPECT_EQ(g_pUsbMessenger, first);  // still alive
    EXPECT_EQ(CreateMessenger(kPortUsb, 0, 0), first);
    EXPECT_EQ(CreateMessenger(kPortUsb, 3, 0x01020304), first);
    EXPECT_EQ(first->Write("x", 1), -1);
    EXPECT_EQ(first->LastError(), kNoUsbPrinter.code);
    DestroyUsbMessenger();
    EXPECT_EQ(g_pUsbMessenger, nullptr);
    DestroyUsbMessenger();  // harmless a second time
    EXPECT_EQ(g_pUsbMessenger, nullptr);
}

TEST_F(PortFactoryTest, AbsentPortsAnswerMessengersThatFailAtOnce) {
    int absent = 0;
    for (int index = kPortLpt1; index <= kPortCom2; ++index) {
        if (!AbsentPortIndex(index)) {
            continue;  // natively: this machine has that device
        }
        ++absent;
        Messenger* messenger = CreateMessenger(index, 0, 0);
        ASSERT_NE(messenger, nullptr) << index;
        const Stopwatch watch;
        EXPECT_EQ(messenger->Write("x", 1), -1) << index;
        EXPECT_LT(watch.Ms(), kFailsAtOnceMs) << index;
        EXPECT_TRUE(SaysWhy(*messenger, kNotFound)) << index;
        ReleaseMessenger(messenger);
    }
    if (absent == 0) {
        GTEST_SKIP() << "every parallel and serial port is present on this machine";
    }
}

// The printer's own TCP port, 9100, on a loopback address of this run's own: other programs of
// the machine may serve 9100 on 127.0.0.1.
TEST_F(PortFactoryTest, EthernetIndexConnectsToThePrinterPortAndIgnoresTheBaudIndex) {
    LoopbackPort listener(kPrinterTcpPort, 0, RunLoopback());
    ASSERT_TRUE(listener.Bound());
    ASSERT_TRUE(listener.Listen(1));

    Messenger* messenger = CreateMessenger(kPortEthernet, 99, RunLoopback());
    ASSERT_NE(messenger, nullptr);
    EXPECT_EQ(typeid(*messenger), typeid(EthernetMessenger));
    EXPECT_EQ(messenger->Write("net", 3), 0) << messenger->LastErrorText();
    ReleaseMessenger(messenger);
    // The bytes, then the end of the stream: the release closed the connection.
    EXPECT_EQ(listener.AcceptAll(), "net");
}

#ifdef _WIN32

// The devices behind the port numbers (COM1, COM2, LPT1-LPT3) can be faked only under Wine, by
// the bench; natively they are the machine's own.

TEST_F(PortFactoryTest, LptIndexesOpenLpt1ToLpt3) {
    for (int index = kPortLpt1; index <= kPortLpt3; ++index) {
        const std::string name = "lpt" + std::to_string(index);
        SCOPED_TRACE(name);
        PortEnd& printer = Port(name, EndKind::Printer);
        Messenger* messenger = CreateMessenger(index, 4, 0);
        ASSERT_NE(messenger, nullptr);
        EXPECT_EQ(typeid(*messenger), typeid(LptMessenger));
        EXPECT_EQ(messenger->Write(name.data(), static_cast<int>(name.size())), 0)
            << messenger->LastErrorText();
        ReleaseMessenger(messenger);
        EXPECT_EQ(printer.Take(name.size()), name);
        EXPECT_EQ(printer.Holders(), 0);
    }
}

TEST_F(PortFactoryTest, ComIndexesUseTheTabledBaudRate) {
    struct Case {
        int index;
        int baudIndex;
        const char* name;
        int baud;
    };
    for (const Case& c : {Case{kPortCom1, 4, "com1", 115200}, Case{kPortCom2, 1, "com2", 19200}}) {
        SCOPED_TRACE(c.name);
        PortEnd& line = Port(c.name, EndKind::Line);
        Messenger* messenger = CreateMessenger(c.index, c.baudIndex, 0xC0A80164);
        ASSERT_NE(messenger, nullptr);
        EXPECT_EQ(typeid(*messenger), typeid(ComMessenger));
        EXPECT_EQ(messenger->Write("com", 3), 0) << messenger->LastErrorText();
        EXPECT_EQ(line.Line().outputBaud, c.baud);
        ReleaseMessenger(messenger);
        EXPECT_EQ(line.Take(3), "com");
        EXPECT_EQ(line.Holders(), 0);  // released: the port is closed
    }
}

#endif  // _WIN32

}  // namespace

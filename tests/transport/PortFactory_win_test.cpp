// The port factory with the Windows transports: which port each index opens, and who owns what.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>
#include <typeinfo>
#include <vector>

#include "EthernetMessenger.h"
#include "PortFactory.h"
#include "SerialMessengers.h"
#include "UsbMessenger.h"
#include "WineBench.h"

namespace {

namespace bench = wine_bench;

class PortFactoryTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(bench::Available()) << "run through tests/wine/bench.sh"; }
    void TearDown() override {
        DestroyUsbMessenger();
        for (const std::string& name : m_used) {
            bench::Remove(name);
        }
    }
    bool Pty(const std::string& name) {
        m_used.push_back(name);
        return bench::Pty(name);
    }
    bool Absent(const std::string& name) {
        m_used.push_back(name);
        return bench::Absent(name);
    }

  private:
    std::vector<std::string> m_used;
};

TEST_F(PortFactoryTest, IndexesOutsideTheListAnswerNull) {
    EXPECT_EQ(CreateMessenger(7, 0, 0), nullptr);
    EXPECT_EQ(CreateMessenger(-1, 0, 0), nullptr);
    ReleaseMessenger(nullptr);
}

TEST_F(PortFactoryTest, UsbIndexAnswersTheOneProcessWideMessenger) {
    Messenger* first = CreateMessenger(kPortUsb, 0, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(typeid(*first), typeid(UsbMessenger));
    EXPECT_EQ(first, g_pUsbMessenger);
    ReleaseMessenger(first);
    EXPECT_EQ(g_pUsbMessenger, first);  // still alive
    EXPECT_EQ(CreateMessenger(kPortUsb, 3, 0x01020304), first);
    DestroyUsbMessenger();
    EXPECT_EQ(g_pUsbMessenger, nullptr);
    DestroyUsbMessenger();  // harmless a second time
    EXPECT_EQ(g_pUsbMessenger, nullptr);
}

TEST_F(PortFactoryTest, LptIndexesOpenLpt1ToLpt3) {
    for (int index = kPortLpt1; index <= kPortLpt3; ++index) {
        const std::string name = "lpt" + std::to_string(index);
        SCOPED_TRACE(name);
        ASSERT_TRUE(Pty(name));
        Messenger* messenger = CreateMessenger(index, 4, 0);
        ASSERT_NE(messenger, nullptr);
        EXPECT_EQ(typeid(*messenger), typeid(LptMessenger));
        EXPECT_EQ(messenger->Write(name.data(), static_cast<int>(name.size())), 0)
            << messenger->LastErrorText();
        ReleaseMessenger(messenger);
        EXPECT_EQ(bench::Captured(name, name.size()), name);
        EXPECT_EQ(bench::Holders(name), 0);
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
        ASSERT_TRUE(Pty(c.name));
        Messenger* messenger = CreateMessenger(c.index, c.baudIndex, 0xC0A80164);
        ASSERT_NE(messenger, nullptr);
        EXPECT_EQ(typeid(*messenger), typeid(ComMessenger));
        EXPECT_EQ(messenger->Write("com", 3), 0) << messenger->LastErrorText();
        EXPECT_NE(bench::Stty(c.name).find("speed " + std::to_string(c.baud) + " baud"), std::string::npos);
        ReleaseMessenger(messenger);
        EXPECT_EQ(bench::Captured(c.name, 3), "com");
        EXPECT_EQ(bench::Holders(c.name), 0);  // released: the port is closed
    }
}

TEST_F(PortFactoryTest, AbsentPortsAnswerMessengersThatFailAtOnce) {
    for (const char* name : {"lpt1", "lpt2", "lpt3", "com1", "com2"}) {
        ASSERT_TRUE(Absent(name));
    }
    const ULONGLONG start = GetTickCount64();
    for (int index = kPortLpt1; index <= kPortCom2; ++index) {
        Messenger* messenger = CreateMessenger(index, 0, 0);
        ASSERT_NE(messenger, nullptr) << index;
        EXPECT_EQ(messenger->Write("x", 1), -1) << index;
        ReleaseMessenger(messenger);
    }
    EXPECT_LT(GetTickCount64() - start, 1000u);
}

TEST_F(PortFactoryTest, EthernetIndexConnectsToThePrinterPortAndIgnoresTheBaudIndex) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kPrinterTcpPort);
    address.sin_addr.s_addr = htonl(0x7F000001);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0)
        << "TCP port 9100 on 127.0.0.1 is taken";
    ASSERT_EQ(listen(listener, 1), 0);

    Messenger* messenger = CreateMessenger(kPortEthernet, 99, 0x7F000001);
    ASSERT_NE(messenger, nullptr);
    EXPECT_EQ(typeid(*messenger), typeid(EthernetMessenger));
    EXPECT_EQ(messenger->Write("net", 3), 0) << messenger->LastErrorText();
    ReleaseMessenger(messenger);

    const SOCKET peer = accept(listener, nullptr, nullptr);
    ASSERT_NE(peer, INVALID_SOCKET);
    std::string received;
    char buffer[64];
    int got;
    while ((got = recv(peer, buffer, sizeof(buffer), 0)) > 0) {
        received.append(buffer, static_cast<size_t>(got));
    }
    EXPECT_EQ(got, 0);  // the release closed the connection
    EXPECT_EQ(received, "net");
    closesocket(peer);
    closesocket(listener);
    WSACleanup();
}

}  // namespace

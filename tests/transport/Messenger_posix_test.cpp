#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "CmdSender.h"
#include "Commands.h"
#include "Messenger.h"
#include "PortFactory.h"
#include "UsbMessenger.h"

namespace {

TEST(MessengerTest, BaseOperationsAnswerFailure) {
    Messenger messenger;
    EXPECT_EQ(messenger.Open(), -1);
    EXPECT_EQ(messenger.Close(), -1);
    char buffer[4];
    EXPECT_EQ(messenger.Read(buffer, sizeof buffer), -1);
    EXPECT_EQ(messenger.Write("abc", 3), -1);
    EXPECT_EQ(messenger.LastErrorText(), "port not open");
}

TEST(UniqueFdTest, ClosesOnResetAndHandsOverOnMove) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    UniqueFd reader(fds[0]);
    {
        UniqueFd writer(fds[1]);
        UniqueFd moved(std::move(writer));
        EXPECT_FALSE(writer.Valid());
        EXPECT_EQ(moved.Get(), fds[1]);
    }
    // The write end is closed now, so the read end sees the end of the stream.
    char c;
    EXPECT_EQ(::read(reader.Get(), &c, 1), 0);
    reader.Reset();
    EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);
}

TEST(CmdSenderTest, WritesTheCommandsBytesThroughTheMessenger) {
    char dir[] = "/tmp/tol-sender-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/printer";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    UniqueFd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
    {
        UsbMessenger messenger(fifo);
        CmdSender sender(&messenger);
        EXPECT_EQ(sender.Send(OpenCashBoxCmd()), 0);
        EXPECT_EQ(sender.Send(CutPaper()), 0);
    }
    char buffer[16];
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(::read(reader.Get(), buffer, sizeof buffer))),
              std::string("\x1b\x70\x00\x40\x50\x1d\x56\x01", 8));
    ::unlink(fifo.c_str());
    ::rmdir(dir);
}

TEST(CmdSenderTest, UnopenedPortAnswersFailureAtOnce) {
    UsbMessenger messenger("/nonexistent/usb/lp0");
    CmdSender sender(&messenger);
    EXPECT_EQ(sender.Send(CutPaper()), -1);
    EXPECT_EQ(messenger.LastErrorText(), "no such file or directory");
}

TEST(PortFactoryTest, UnknownIndexesAnswerNull) {
    EXPECT_EQ(CreateMessenger(7, 0, 0), nullptr);
    EXPECT_EQ(CreateMessenger(-1, 0, 0), nullptr);
    ReleaseMessenger(nullptr);  // returns quietly
}

TEST(PortFactoryTest, UsbIndexAnswersTheOneProcessWideMessenger) {
    char dir[] = "/tmp/tol-factory-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    ::setenv("TOL_USB_DIR", dir, 1);  // an empty search folder: no printer
    Messenger* first = CreateMessenger(kPortUsb, 3, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, g_pUsbMessenger);
    ReleaseMessenger(first);  // stays alive
    Messenger* second = CreateMessenger(kPortUsb, 0, 0);
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->Write("x", 1), -1);
    EXPECT_EQ(second->LastError(), ENODEV);
    DestroyUsbMessenger();
    EXPECT_EQ(g_pUsbMessenger, nullptr);
    DestroyUsbMessenger();
    ::unsetenv("TOL_USB_DIR");
    ::rmdir(dir);
}

TEST(PortFactoryTest, MissingParallelPortStillAnswersAMessenger) {
    // Nothing here has a /dev/lp2 that opens; the messenger exists and its Write fails.
    Messenger* messenger = CreateMessenger(kPortLpt3, 0, 0);
    ASSERT_NE(messenger, nullptr);
    if (::access("/dev/lp2", W_OK) == 0) {
        ReleaseMessenger(messenger);
        GTEST_SKIP() << "/dev/lp2 is present on this machine";
    }
    EXPECT_EQ(messenger->Write("x", 1), -1);
    EXPECT_NE(messenger->LastErrorText(), "");
    ReleaseMessenger(messenger);
}

}  // namespace

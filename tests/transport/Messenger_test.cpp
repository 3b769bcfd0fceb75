// The base messenger's write, and the sender that every action writes through.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <iterator>
#include <new>
#include <string>
#include <thread>

#include "commands/FixedCmds.h"
#include "tests/transport/FarEnd.h"
#include "transport/CmdSender.h"
#include "transport/Messenger.h"
#include "transport/SerialMessengers.h"

namespace {

class MessengerTest : public FarEndTest {};
class CmdSenderTest : public FarEndTest {};

TEST_F(MessengerTest, BaseOperationsAnswerFailure) {
    Messenger messenger;
    char buffer[4];
    EXPECT_EQ(messenger.Open(), -1);
    EXPECT_EQ(messenger.Close(), -1);
    EXPECT_EQ(messenger.Read(buffer, sizeof buffer), -1);
    // No port: the write fails at once and says why.
    EXPECT_EQ(messenger.Write("abc", 3), -1);
    EXPECT_NE(messenger.LastError(), 0);
    EXPECT_EQ(messenger.LastErrorText(), "port not open");
}

TEST_F(MessengerTest, CompletedWritesDeliverExactBytes) {
    PipeMessenger messenger;
    ASSERT_TRUE(messenger.Ready());
    const std::string first("\x1b\x40\x00\xff", 4);
    ASSERT_EQ(messenger.Write(first.data(), static_cast<int>(first.size())), 0);
    EXPECT_EQ(messenger.ReadAvailable(), first);

    // Through a sender, as an action writes: the command's bytes and nothing else.
    CmdSender sender(&messenger);
    CutPaper cut;
    ASSERT_EQ(sender.Send(cut), 0);
    EXPECT_EQ(messenger.ReadAvailable(), std::string(reinterpret_cast<const char*>(cut.GetData()),
                                                     static_cast<size_t>(cut.GetLength())));
    EXPECT_EQ(messenger.Write("", 0), 0);
    EXPECT_EQ(messenger.ReadAvailable(), "");
}

TEST_F(MessengerTest, CompletionWithAnErrorAnswersFailure) {
    PipeMessenger messenger;
    ASSERT_TRUE(messenger.Ready());
    // More than the pipe holds, so the write waits for its reader; the reader goes away instead.
    const std::string big(256 * 1024, 'p');
    std::thread unplug([&messenger] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        messenger.CloseReader();
    });
    const Stopwatch watch;
    const int result = messenger.Write(big.data(), static_cast<int>(big.size()));
    const long long elapsed = watch.Ms();
    unplug.join();
    EXPECT_EQ(result, -1);
    EXPECT_LT(elapsed, 2000);
    EXPECT_NE(messenger.LastError(), 0);
}

TEST_F(CmdSenderTest, WritesTheCommandsBytesThroughTheMessenger) {
    PortEnd& printer = Port("lpt1", EndKind::Printer);
    {
        LptMessenger messenger(printer.Device());
        CmdSender sender(&messenger);
        EXPECT_EQ(sender.Send(OpenCashBoxCmd()), 0);
        EXPECT_EQ(sender.Send(CutPaper()), 0);
    }
    EXPECT_EQ(printer.Take(8), std::string("\x1b\x70\x00\x40\x50\x1d\x56\x01", 8));
}

TEST_F(CmdSenderTest, UnopenedPortAnswersFailureAtOnce) {
    LptMessenger messenger(Absent("lpt3"));
    CmdSender sender(&messenger);
    EXPECT_EQ(sender.Send(CutPaper()), -1);
    EXPECT_EQ(messenger.LastError(), kNotFound.code);
    EXPECT_TRUE(SaysWhy(messenger, kNotFound));
}

#ifdef _WIN32

// A port whose driver ignores cancellation, so that a pending write ends only when the far end
// reads. The test holds the pipe's handles: deleting the messenger does not end the write either.
class StubbornMessenger : public Messenger {
  public:
    explicit StubbornMessenger(HANDLE port) { m_hPort.Reset(port); }
    ~StubbornMessenger() override { m_hPort.Release(); }

  protected:
    void CancelPendingIo() override {}
};

TEST_F(MessengerTest, AWriteThatOutlivesItsMessengerKeepsItsRecordUntilItCompletes) {
    const std::wstring name = L"\\\\.\\pipe\\tol-stubborn-" + std::to_wstring(GetCurrentProcessId());
    const UniqueKernelHandle port(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                                   PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
    ASSERT_TRUE(port.Valid());
    const UniqueKernelHandle reader(
        CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader.Valid());

    // The messenger lives in memory the test keeps, so that a write into it after its deletion
    // shows as a changed byte.
    alignas(StubbornMessenger) unsigned char storage[sizeof(StubbornMessenger)];
    auto* messenger = new (storage) StubbornMessenger(port.Get());
    const std::string big(64 * 1024, 'w');  // far more than the pipe holds
    EXPECT_EQ(messenger->Write(big.data(), static_cast<int>(big.size())), 258);
    const int before = Messenger::AbandonedWrites();
    messenger->~StubbornMessenger();  // the write is still pending
    EXPECT_EQ(Messenger::AbandonedWrites(), before + 1);
    std::fill(std::begin(storage), std::end(storage), static_cast<unsigned char>(0xDD));

    // The far end takes everything; the write completes, and its routine runs at this thread's
    // next alertable wait.
    std::string received;
    char chunk[4096];
    DWORD got = 0;
    while (received.size() < big.size() && ReadFile(reader.Get(), chunk, sizeof chunk, &got, nullptr) &&
           got > 0) {
        received.append(chunk, got);
    }
    EXPECT_EQ(received, big);
    for (int i = 0; i < 250 && Messenger::AbandonedWrites() != before; ++i) {
        SleepEx(20, TRUE);
    }
    EXPECT_EQ(Messenger::AbandonedWrites(), before);  // the record is freed once it is done with
    EXPECT_EQ(std::count(std::begin(storage), std::end(storage), static_cast<unsigned char>(0xDD)),
              static_cast<std::ptrdiff_t>(sizeof storage))
        << "the completion wrote into the deleted messenger";
}

#endif  // _WIN32

}  // namespace

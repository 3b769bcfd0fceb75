// The base messenger's overlapped write, on a named pipe that the test holds both ends of.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <new>
#include <string>
#include <thread>

#include "CmdSender.h"
#include "FixedCmds.h"
#include "Messenger.h"

namespace {

// A messenger that writes into the server end of a fresh named pipe; the test reads the client
// end. The pipe's small buffer lets a large write stay pending.
class PipeMessenger : public Messenger {
  public:
    PipeMessenger() {
        static int counter = 0;
        const std::wstring name = L"\\\\.\\pipe\\tol-messenger-test-" +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
        m_hPort.Reset(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
        m_hReader = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~PipeMessenger() override {
        CloseReader();
        m_hPort.Reset();
    }

    bool Ready() const { return m_hPort.Valid() && m_hReader != INVALID_HANDLE_VALUE; }

    std::string ReadAvailable() {
        std::string bytes;
        DWORD waiting = 0;
        while (PeekNamedPipe(m_hReader, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
            std::string chunk(waiting, '\0');
            DWORD got = 0;
            if (!ReadFile(m_hReader, &chunk[0], waiting, &got, nullptr)) {
                break;
            }
            bytes.append(chunk, 0, got);
        }
        return bytes;
    }

    void CloseReader() {
        if (m_hReader != INVALID_HANDLE_VALUE) {
            CloseHandle(m_hReader);
            m_hReader = INVALID_HANDLE_VALUE;
        }
    }

  private:
    HANDLE m_hReader = INVALID_HANDLE_VALUE;
};

TEST(MessengerTest, BaseOperationsAnswerFailure) {
    Messenger messenger;
    char buffer[4];
    EXPECT_EQ(messenger.Open(), -1);
    EXPECT_EQ(messenger.Close(), -1);
    EXPECT_EQ(messenger.Read(buffer, sizeof(buffer)), -1);
    // No port: the write fails at once and says why.
    EXPECT_EQ(messenger.Write("x", 1), -1);
    EXPECT_NE(messenger.LastError(), 0);
    EXPECT_FALSE(messenger.LastErrorText().empty());
}

TEST(MessengerTest, CompletedWritesDeliverExactBytes) {
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

TEST(MessengerTest, CompletionWithAnErrorAnswersFailure) {
    PipeMessenger messenger;
    ASSERT_TRUE(messenger.Ready());
    // More than the pipe holds, so the write waits for a reader; the reader goes away instead.
    const std::string big(256 * 1024, 'p');
    std::thread unplug([&messenger] {
        Sleep(300);
        messenger.CloseReader();
    });
    const ULONGLONG start = GetTickCount64();
    const int result = messenger.Write(big.data(), static_cast<int>(big.size()));
    const ULONGLONG elapsed = GetTickCount64() - start;
    unplug.join();
    EXPECT_EQ(result, -1);
    EXPECT_LT(elapsed, 2000u);
    EXPECT_NE(messenger.LastError(), 0);
}

// A port whose driver ignores cancellation, so that a pending write ends only when the far end
// reads. The test holds the pipe's handles: deleting the messenger does not end the write either.
class StubbornMessenger : public Messenger {
  public:
    explicit StubbornMessenger(HANDLE port) { m_hPort.Reset(port); }
    ~StubbornMessenger() override { m_hPort.Release(); }

  protected:
    void CancelPendingIo() override {}
};

TEST(MessengerTest, AWriteThatOutlivesItsMessengerKeepsItsRecordUntilItCompletes) {
    const std::wstring name = L"\\\\.\\pipe\\tol-stubborn-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE port = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    const HANDLE reader = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);

    // The messenger lives in memory the test keeps, so that a write into it after its deletion
    // shows as a changed byte.
    alignas(StubbornMessenger) unsigned char storage[sizeof(StubbornMessenger)];
    auto* messenger = new (storage) StubbornMessenger(port);
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
    while (received.size() < big.size() && ReadFile(reader, chunk, sizeof chunk, &got, nullptr) && got > 0) {
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
    CloseHandle(reader);
    CloseHandle(port);
}

}  // namespace

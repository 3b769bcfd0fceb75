// A printer on TCP: one connection per messenger, one command per connection.
#pragma once

#include <cstdint>

#include "transport/Messenger.h"

class EthernetMessenger : public Messenger {
  public:
    /// `address` in host order, first dotted field in bits 31-24; TCP port's low 16 bits used.
    /// `connectTimeoutMs` bounds the connect on POSIX (default 5 s); on Windows the connect
    /// waits for the system's own time-out when it is 0.
    EthernetMessenger(uint32_t address, int tcpPort, int connectTimeoutMs = kDefaultConnectTimeoutMs);
    ~EthernetMessenger() override;

    int Open() override;
    int Close() override;
    int Write(const void* data, int length) override;

    /// Reads exactly `length` bytes of what the printer sends back (its answers to status
    /// requests), all of them within the receive time-out: 0; 258 when they did not all come in
    /// time; -1 when the printer closed the connection or it failed. LastErrorText says which
    /// ("none within 1000 ms", "the printer closed the connection", the system's reason). Read
    /// itself stays the base one (-1): the setting tools read nothing back.
    int Receive(void* buffer, int length);
    /// Drops what the printer has sent and nothing has read yet, without waiting: how many bytes
    /// (at most `most`), 0 when none or when the connection failed (the next Receive tells).
    int DropWaitingInput(int most);
    /// The bound of each Receive (default 1000 ms).
    void SetReceiveTimeout(int timeoutMs) { m_nReceiveTimeoutMs = timeoutMs; }

    /// Ends the stream after the bytes written (the printer sees the end of the command) and
    /// waits up to `timeoutMs` for the printer to close its side, discarding anything it sends:
    /// 0 when it closed, 258 when it still holds the connection at the bound, -1 when the
    /// connection failed instead (reset: the printer did not take the command; LastErrorText
    /// says why). The messenger is closed afterwards either way.
    int EndAndAwaitClose(int timeoutMs);

    /// Keeps the system's network library started until the process ends (Windows Sockets; nothing
    /// to do elsewhere); connections made afterwards neither start nor end a use of their own.
    /// For programs that connect from many threads at once: there, one thread's last WSACleanup
    /// can close the socket another thread has just connected (seen as WSAENOTSOCK under Wine).
    static void KeepNetworkStarted();

#ifdef _WIN32
    static constexpr int kDefaultConnectTimeoutMs = 0;
#else
    static constexpr int kDefaultConnectTimeoutMs = 5000;
#endif

  private:
    int m_nPort;
    uint32_t m_dwAddress;
    int m_nConnectTimeoutMs;
    int m_nReceiveTimeoutMs = 1000;
#ifdef _WIN32
    WinsockSession m_winsock;  // started by an Open that connected, ended by Close
    UniqueSocket m_socket;
#else
    UniqueFd m_socket;
#endif
    bool m_bConnected;
};

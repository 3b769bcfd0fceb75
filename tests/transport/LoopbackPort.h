// The far end of the Ethernet port: TCP on the loopback address, held by the test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "system/UniqueHandle.h"

#ifdef _WIN32
#include "system/WinHandles.h"
using SocketOwner = UniqueSocket;
#else
using SocketOwner = UniqueFd;
#endif

/// 127.0.0.1 in host order.
constexpr uint32_t kLoopback = 0x7F000001;

/// A new TCP socket, non-blocking when asked (natively also closed on exec). Each platform's
/// far end makes it.
SocketOwner NewTcpSocket(bool nonBlocking);

/// One accepted TCP connection, held by the test.
class Connection {
  public:
    explicit Connection(SocketOwner socket) : m_socket(std::move(socket)) {}

    bool Valid() const { return m_socket.Valid(); }
    bool Send(const std::string& bytes);
    /// One receive of at most `count` bytes.
    std::string ReceiveSome(size_t count);
    void Close() { m_socket.Reset(); }
    /// Closes the connection with a reset (SO_LINGER 0), as a printer that refuses it does.
    void Reset();

  private:
    SocketOwner m_socket;
};

/// A loopback address of this run's own, 127.92.X.Y, for a far end on a fixed port number that
/// another program of the machine may be using on 127.0.0.1.
uint32_t RunLoopback();

/// A TCP socket bound to a loopback address (127.0.0.1 unless `host` is given), on a free port
/// unless `port` is given; it listens once Listen is called, and until then a connect to it is
/// refused.
class LoopbackPort {
  public:
    explicit LoopbackPort(int port = 0, int receiveBuffer = 0, uint32_t host = kLoopback);
    ~LoopbackPort();
    LoopbackPort(const LoopbackPort&) = delete;
    LoopbackPort& operator=(const LoopbackPort&) = delete;

    bool Bound() const { return m_nPort != 0; }
    int Port() const { return m_nPort; }
    bool Listen(int backlog = 16);
    /// Accepts one connection and leaves it to the test.
    Connection Accept();
    /// Accepts one connection and reads it to its end ("<accept failed>", "<recv failed>").
    std::string AcceptAll();
    /// Connects `count` sockets that nobody accepts, so that a listener with backlog 0 has a
    /// full queue and drops further connection requests.
    void FillAcceptQueue(int count);

  private:
    SocketOwner m_socket;
    uint32_t m_dwHost;
    int m_nPort = 0;
    std::vector<Connection> m_fillers;
};

// TCP to the printer through Windows Sockets 2.2: one connection per messenger. The Winsock use
// that an Open starts lives as long as the connection: a failed Open ends it again at once, a
// successful one leaves it to Close.
#include "transport/EthernetMessenger.h"

#include <utility>

namespace {

// A connect bounded by timeoutMs: non-blocking, then select until the socket is writable (done)
// or has an exception (refused). Answers 0 or the Winsock error.
int ConnectWithin(SOCKET socket, const sockaddr_in& address, int timeoutMs) {
    u_long nonBlocking = 1;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
        return WSAGetLastError();
    }
    int error = 0;
    if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            fd_set writable;
            fd_set failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(socket, &writable);
            FD_SET(socket, &failed);
            timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
            const int ready = select(0, nullptr, &writable, &failed, &limit);
            if (ready == SOCKET_ERROR) {
                error = WSAGetLastError();
            } else if (ready == 0) {
                error = WSAETIMEDOUT;
            } else if (FD_ISSET(socket, &failed)) {
                int soError = 0;
                int size = sizeof(soError);
                getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &size);
                error = soError != 0 ? soError : WSAECONNREFUSED;
            } else {
                error = 0;
            }
        }
    }
    u_long blocking = 0;
    if (error == 0 && ioctlsocket(socket, FIONBIO, &blocking) == SOCKET_ERROR) {
        error = WSAGetLastError();
    }
    return error;
}

}  // namespace

EthernetMessenger::EthernetMessenger(uint32_t address, int tcpPort, int connectTimeoutMs)
    : m_nPort(tcpPort), m_dwAddress(address), m_nConnectTimeoutMs(connectTimeoutMs), m_bConnected(false) {
    EthernetMessenger::Open();
}

EthernetMessenger::~EthernetMessenger() {
    EthernetMessenger::Close();
}

int EthernetMessenger::Open() {
    if (m_bConnected) {
        return kMessengerOk;
    }
    // On every failure below, the socket closes and then Winsock ends, as the owners go.
    WinsockSession winsock = ConnectionWinsock();
    if (winsock.StartError() != 0) {
        KeepError(winsock.StartError());
        return kMessengerFailed;
    }
    UniqueSocket sock(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!sock.Valid()) {
        KeepError(WSAGetLastError());
        return kMessengerFailed;
    }

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(m_nPort & 0xFFFF));
    address.sin_addr.s_addr = htonl(m_dwAddress);
    int error = 0;
    if (m_nConnectTimeoutMs > 0) {
        error = ConnectWithin(sock.Get(), address, m_nConnectTimeoutMs);
    } else if (connect(sock.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) ==
               SOCKET_ERROR) {
        // Blocking: waits as long as the system's own connect time-out.
        error = WSAGetLastError();
    }
    if (error != 0) {
        if (error == WSAETIMEDOUT && m_nConnectTimeoutMs > 0) {
            // Said as the POSIX build says it: the system may have no text for the code.
            KeepError(error, "connection timed out after " + std::to_string(m_nConnectTimeoutMs) + " ms");
        } else {
            KeepError(error);
        }
        return kMessengerFailed;
    }

    m_winsock = std::move(winsock);
    m_socket = std::move(sock);
    m_bConnected = true;
    KeepError(0, "");
    return kMessengerOk;
}

int EthernetMessenger::Close() {
    if (m_bConnected) {
        // No shutdown first: closesocket sends what is queued and then the FIN.
        m_socket.Reset();
        m_bConnected = false;
        m_winsock.End();
    }
    return kMessengerOk;
}

int EthernetMessenger::Write(const void* data, int length) {
    if (!m_bConnected) {
        if (LastError() == 0) {
            KeepError(WSAENOTCONN);
        }
        return kMessengerFailed;
    }
    if (length < 0 || (data == nullptr && length > 0)) {
        KeepError(WSAEINVAL);
        return kMessengerFailed;
    }
    // send may take fewer bytes than offered; the rest follows until all are taken.
    const char* next = static_cast<const char*>(data);
    int left = length;
    while (left > 0) {
        const int sent = send(m_socket.Get(), next, left, 0);
        if (sent == SOCKET_ERROR) {
            KeepError(WSAGetLastError());
            return kMessengerFailed;
        }
        if (sent <= 0) {
            KeepError(WSAECONNRESET);
            return kMessengerFailed;
        }
        next += sent;
        left -= sent;
    }
    return kMessengerOk;
}

int EthernetMessenger::Receive(void* buffer, int length) {
    if (!m_bConnected) {
        if (LastError() == 0) {
            KeepError(WSAENOTCONN);
        }
        return kMessengerFailed;
    }
    if (length < 0 || (buffer == nullptr && length > 0)) {
        KeepError(WSAEINVAL);
        return kMessengerFailed;
    }
    // Blocking receives bounded by SO_RCVTIMEO, as EndAndAwaitClose waits: a reset reaches recv
    // as WSAECONNRESET.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(m_nReceiveTimeoutMs);
    char* next = static_cast<char*>(buffer);
    int left = length;
    while (left > 0) {
        const ULONGLONG now = GetTickCount64();
        const DWORD wait = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        int got = SOCKET_ERROR;
        int error = WSAETIMEDOUT;
        if (wait > 0) {
            if (setsockopt(m_socket.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait),
                           sizeof(wait)) == SOCKET_ERROR) {
                KeepError(WSAGetLastError());
                return kMessengerFailed;
            }
            got = recv(m_socket.Get(), next, left, 0);
            error = got == SOCKET_ERROR ? WSAGetLastError() : 0;
        }
        if (got > 0) {
            next += got;
            left -= got;
        } else if (got == 0) {
            KeepError(WSAECONNRESET, "the printer closed the connection");
            return kMessengerFailed;
        } else if (error == WSAETIMEDOUT) {
            KeepError(error, "none within " + std::to_string(m_nReceiveTimeoutMs) + " ms");
            return kMessengerTimeout;
        } else {
            KeepError(error);
            return kMessengerFailed;
        }
    }
    return kMessengerOk;
}

int EthernetMessenger::DropWaitingInput(int most) {
    // Only what has arrived is received: the blocking socket does not wait for it.
    int dropped = 0;
    char discard[512];
    u_long waiting = 0;
    while (m_bConnected && dropped < most && ioctlsocket(m_socket.Get(), FIONREAD, &waiting) == 0 &&
           waiting > 0) {
        const u_long left = static_cast<u_long>(most - dropped);
        const u_long want = waiting < left ? waiting : left;
        const int got =
            recv(m_socket.Get(), discard, static_cast<int>(want < sizeof discard ? want : sizeof discard), 0);
        if (got <= 0) {
            break;  // the end, or a failure: the next Receive tells
        }
        dropped += got;
    }
    return dropped;
}

int EthernetMessenger::EndAndAwaitClose(int timeoutMs) {
    if (!m_bConnected) {
        return kMessengerFailed;
    }
    int result = kMessengerOk;
    if (shutdown(m_socket.Get(), SD_SEND) == SOCKET_ERROR) {
        // A reset that came first leaves "not connected" here; the reset is the reason to give.
        int pending = 0;
        int size = sizeof(pending);
        const int shutdownError = WSAGetLastError();
        if (getsockopt(m_socket.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &size) ==
                SOCKET_ERROR ||
            pending == 0) {
            pending = shutdownError;
        }
        KeepError(pending);
        result = kMessengerFailed;
    }
    // A blocking receive bounded by SO_RCVTIMEO rather than select: a reset must reach recv as
    // WSAECONNRESET, and a wait in select can leave only the end of the stream for it.
    // The deadline holds whatever arrives: a printer that keeps talking does not hold it open.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    char discard[512];
    while (result == kMessengerOk) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            KeepError(WSAETIMEDOUT,
                      "the printer still held the connection after " + std::to_string(timeoutMs) + " ms");
            result = kMessengerTimeout;
            break;
        }
        const DWORD left = static_cast<DWORD>(deadline - now);
        if (setsockopt(m_socket.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&left),
                       sizeof(left)) == SOCKET_ERROR) {
            KeepError(WSAGetLastError());
            result = kMessengerFailed;
            break;
        }
        const int got = recv(m_socket.Get(), discard, sizeof(discard), 0);
        if (got == 0) {
            break;  // the printer closed its side: it read to the end
        }
        if (got > 0) {
            continue;
        }
        const int error = WSAGetLastError();
        if (error == WSAETIMEDOUT) {
            KeepError(error,
                      "the printer still held the connection after " + std::to_string(timeoutMs) + " ms");
            result = kMessengerTimeout;
        } else {
            KeepError(error);
            result = kMessengerFailed;
        }
    }
    Close();
    return result;
}

void EthernetMessenger::KeepNetworkStarted() {
    // Started once and never ended: the process's exit ends it.
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (started) {
        g_winsockKeptForProcess = true;
    }
}

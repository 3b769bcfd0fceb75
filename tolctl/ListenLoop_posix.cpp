#include "ListenLoop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ostream>

#include "Decode.h"
#include "StopSignals.h"

namespace {

// After an accept failed for want of descriptors or memory, the listeners rest this long, twice
// as long after each further failure, up to the longest pause; a connection that ends frees a
// descriptor and ends the pause.
constexpr std::chrono::milliseconds kFirstAcceptPause(50);
constexpr std::chrono::milliseconds kLongestAcceptPause(1000);

// strerror_r comes in two flavours (GNU answers a pointer, XSI an int); both land here.
[[maybe_unused]] const char* ErrorText(const char* gnuResult, const char*) {
    return gnuResult;
}
[[maybe_unused]] const char* ErrorText(int xsiResult, const char* buffer) {
    return xsiResult == 0 ? buffer : "unknown error";
}

std::string PeerName(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

// Errors of accept that belong to the one connection it was taking (see accept(2)): the next
// connection may well be fine.
bool PeerOnlyError(int error) {
    switch (error) {
        case EINTR:
        case ECONNABORTED:
        case EPROTO:
        case EPERM:
        case ENETDOWN:
        case ENOPROTOOPT:
        case EHOSTDOWN:
        case ENONET:
        case EHOSTUNREACH:
        case EOPNOTSUPP:
        case ENETUNREACH:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string ErrnoText(int code) {
    char buffer[256] = {};
    std::string text = ErrorText(strerror_r(code, buffer, sizeof buffer), buffer);
    if (text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) &&
        std::islower(static_cast<unsigned char>(text[1]))) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text;
}

ListenLoop::ListenLoop(int count, std::chrono::seconds idleTimeout, std::ostream& out, std::ostream& err)
    : m_nCount(count), m_idleTimeout(idleTimeout), m_out(out), m_err(err), m_buffer(64 * 1024) {}

void ListenLoop::AddListener(UniqueFd fd, std::string name) {
    m_listeners.push_back({std::move(fd), std::move(name)});
}

void ListenLoop::SaveTo(UniqueFd fd, std::string name) {
    m_save = std::move(fd);
    m_saveName = std::move(name);
}

bool ListenLoop::Accepting() const {
    return !m_listeners.empty() && (m_nCount == 0 || m_nAccepted < m_nCount);
}

bool ListenLoop::Run(const StopSignals& signals) {
    std::vector<pollfd> fds;
    while (m_nCount == 0 || m_nFinished < m_nCount) {
        if (signals.Stopped()) {
            Stop();
            break;
        }
        const Clock::time_point now = Clock::now();
        Clock::time_point wake = now + std::chrono::hours(1);
        fds.clear();
        const bool listening = Accepting() && now >= m_acceptPause;
        if (listening) {
            for (const Listener& listener : m_listeners) {
                fds.push_back({listener.fd.Get(), POLLIN, 0});
            }
        } else if (Accepting()) {
            wake = m_acceptPause;
        }
        const size_t first = fds.size();
        const size_t polled = m_connections.size();
        for (const Connection& connection : m_connections) {
            fds.push_back({connection.fd.Get(), POLLIN, 0});
            wake = std::min(wake, connection.lastHeard + m_idleTimeout);
        }

        if (signals.Poll(fds.data(), fds.size(), wake - now) < 0 && errno != EINTR) {
            const int error = errno;
            m_err << "tolctl: listen: cannot wait for connections: " << ErrnoText(error) << '\n';
            Stop();
            return false;
        }

        const Clock::time_point after = Clock::now();
        for (size_t i = 0; i < polled; ++i) {
            Connection& connection = m_connections[i];
            if (fds[first + i].revents != 0 && !Receive(connection, after)) {
                continue;
            }
            if (after - connection.lastHeard >= m_idleTimeout) {
                Finish(connection, Ending::Idle);
            }
        }
        m_connections.erase(std::remove_if(m_connections.begin(), m_connections.end(),
                                           [](const Connection& c) { return c.done; }),
                            m_connections.end());
        for (size_t i = 0; listening && i < m_listeners.size(); ++i) {
            if (fds[i].revents != 0) {
                AcceptFrom(m_listeners[i], after);
            }
        }
        if (m_nCount > 0 && m_nAccepted >= m_nCount) {
            m_listeners.clear();  // from now on later peers are refused instead of left waiting
        }
    }
    return !m_bSaveFailed;
}

void ListenLoop::AcceptFrom(Listener& listener, Clock::time_point now) {
    while (Accepting()) {
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        UniqueFd fd(::accept4(listener.fd.Get(), reinterpret_cast<sockaddr*>(&peer), &size,
                              SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (fd.Valid()) {
            m_acceptBackoff = Clock::duration::zero();
            Connection connection;
            connection.fd = std::move(fd);
            connection.peer = PeerName(peer);
            connection.lastHeard = now;
            m_connections.push_back(std::move(connection));
            ++m_nAccepted;
            continue;
        }
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            return;
        }
        if (PeerOnlyError(error)) {
            continue;
        }
        // Out of descriptors (EMFILE, ENFILE) or memory: the connection stays queued and the
        // listening socket stays readable, so trying again at once would only spin.
        if (m_acceptBackoff == Clock::duration::zero()) {
            m_err << "tolctl: listen " << listener.name
                  << " : cannot accept a connection: " << ErrnoText(error) << "; trying again" << std::endl;
            m_acceptBackoff = kFirstAcceptPause;
        } else {
            m_acceptBackoff = std::min<Clock::duration>(2 * m_acceptBackoff, kLongestAcceptPause);
        }
        m_acceptPause = now + m_acceptBackoff;
        return;
    }
}

bool ListenLoop::Receive(Connection& connection, Clock::time_point now) {
    const ssize_t got = ::recv(connection.fd.Get(), m_buffer.data(), m_buffer.size(), 0);
    if (got > 0) {
        Keep(connection, m_buffer.data(), static_cast<size_t>(got));
        connection.lastHeard = now;
        return true;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return true;
    }
    Finish(connection, got == 0 ? Ending::Closed : Ending::Failed, got == 0 ? 0 : errno);
    return false;
}

void ListenLoop::Keep(Connection& connection, const unsigned char* data, size_t size) {
    std::vector<unsigned char>& bytes = connection.bytes;
    const size_t kept = std::min(size, kListenKeepBytes - bytes.size());
    if (bytes.size() + kept > bytes.capacity()) {
        // Grown by hand so that the buffer never holds more than the bytes kept.
        bytes.reserve(std::min(kListenKeepBytes, std::max(bytes.size() + kept, 2 * bytes.capacity())));
    }
    bytes.insert(bytes.end(), data, data + kept);
    connection.dropped += size - kept;
}

void ListenLoop::Stop() {
    // Peers whose connection is complete but not accepted yet have delivered their bytes too.
    const Clock::time_point now = Clock::now();
    for (Listener& listener : m_listeners) {
        AcceptFrom(listener, now);
    }
    for (Connection& connection : m_connections) {
        // What is queued now, then one more look to tell a closed connection from an open one;
        // a peer that keeps sending cannot hold the stop up.
        int queued = 0;
        ::ioctl(connection.fd.Get(), FIONREAD, &queued);
        size_t left = static_cast<size_t>(std::max(queued, 0));
        Ending how = Ending::Stopped;
        int error = 0;
        for (;;) {
            const size_t want = left > 0 ? std::min(left, m_buffer.size()) : m_buffer.size();
            const ssize_t got = ::recv(connection.fd.Get(), m_buffer.data(), want, MSG_DONTWAIT);
            if (got > 0) {
                Keep(connection, m_buffer.data(), static_cast<size_t>(got));
                if (left == 0) {
                    break;
                }
                left -= std::min(left, static_cast<size_t>(got));
            } else if (got == 0) {
                how = Ending::Closed;
                break;
            } else if (errno != EINTR) {
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    how = Ending::Failed;
                    error = errno;
                }
                break;
            }
        }
        Finish(connection, how, error);
    }
    m_connections.clear();
}

void ListenLoop::Finish(Connection& connection, Ending how, int error) {
    Save(connection);
    for (const std::string& line : DecodeCommands(connection.bytes)) {
        m_out << line << '\n';
    }
    const std::string from = "(connection from " + connection.peer;
    if (connection.dropped > 0) {
        m_out << from << ": " << connection.dropped << " bytes past the first " << kListenKeepBytes
              << " dropped)\n";
    }
    switch (how) {
        case Ending::Closed:
            break;
        case Ending::Failed:
            m_out << from << " ended: " << ErrnoText(error) << ")\n";
            break;
        case Ending::Idle:
            m_out << from << " dropped as idle: nothing received for " << m_idleTimeout.count() << " s)\n";
            break;
        case Ending::Stopped:
            m_out << from << " still open when stopped)\n";
            break;
    }
    m_out.flush();
    connection.fd.Reset();
    connection.bytes = std::vector<unsigned char>();
    connection.done = true;
    ++m_nFinished;
    m_acceptPause = Clock::time_point();  // a descriptor is free again
}

void ListenLoop::Save(const Connection& connection) {
    const unsigned char* at = connection.bytes.data();
    size_t left = m_save.Valid() ? connection.bytes.size() : 0;
    while (left > 0) {
        const ssize_t wrote = ::write(m_save.Get(), at, left);
        if (wrote > 0) {
            at += wrote;
            left -= static_cast<size_t>(wrote);
        } else if (wrote < 0 && errno == EINTR) {
            continue;
        } else {
            const int error = wrote < 0 ? errno : EIO;
            m_err << "tolctl: listen --save: cannot write '" << m_saveName << "': " << ErrnoText(error)
                  << '\n';
            m_bSaveFailed = true;
            return;
        }
    }
}

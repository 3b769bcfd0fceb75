#include "Emulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Decode.h"
#include "StopSignals.h"

namespace {

// After an accept failed for want of descriptors or memory, the listeners rest this long, twice
// as long after each further failure, up to the longest pause; a connection that ends frees a
// descriptor and ends the pause.
constexpr std::chrono::milliseconds kFirstAcceptPause(50);
constexpr std::chrono::milliseconds kLongestAcceptPause(1000);

// The state file is written at most this often while connections keep changing it.
constexpr std::chrono::milliseconds kStateInterval(500);

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

int StatusAnswer(unsigned char n) {
    switch (n) {
        case 1:
            return 0x16;  // printer status: online, drawer closed
        case 2:
        case 3:
        case 4:
            return 0x12;  // offline cause, error cause, paper: nothing to report
        default:
            return -1;
    }
}

Emulator::Emulator(int count, std::chrono::seconds idleTimeout, EmulatorCallbacks callbacks)
    : m_nCount(count), m_idleTimeout(idleTimeout), m_tell(std::move(callbacks)), m_buffer(64 * 1024) {}

bool Emulator::KeepStateIn(const std::string& path) {
    m_state.reset(new StateFile(path));
    return WriteState();
}

bool Emulator::Accepting() const {
    return m_nListening > 0 && (m_nCount == 0 || m_nAccepted < m_nCount);
}

bool Emulator::Run(const StopSignals& signals) {
    std::vector<pollfd> fds;
    std::vector<size_t> polledPrinters;
    std::vector<size_t> polledConnections;
    while (m_nCount == 0 || m_nFinished < m_nCount) {
        if (signals.Stopped() || m_bStopAsked) {
            Stop();
            break;
        }
        const Clock::time_point now = Clock::now();
        Clock::time_point wake = now + std::chrono::hours(1);
        fds.clear();
        polledPrinters.clear();
        polledConnections.clear();
        if (Accepting() && now >= m_acceptPause) {
            for (size_t i = 0; i < m_printers.size(); ++i) {
                if (m_printers[i].listener.Valid()) {
                    fds.push_back({m_printers[i].listener.Get(), POLLIN, 0});
                    polledPrinters.push_back(i);
                }
            }
        } else if (Accepting()) {
            wake = m_acceptPause;
        }
        for (size_t i = 0; i < m_connections.size(); ++i) {
            const Connection& connection = m_connections[i];
            if (now < connection.readyAt) {
                wake = std::min(wake, connection.readyAt);  // a slow printer: not read before then
                continue;
            }
            const short events = POLLIN | (connection.answers.empty() ? 0 : POLLOUT);
            fds.push_back({connection.fd.Get(), events, 0});
            polledConnections.push_back(i);
            wake = std::min(wake, connection.lastHeard + m_idleTimeout);
        }
        if (m_bStateChanged) {
            wake = std::min(wake, m_nextStateWrite);
        }

        if (signals.Poll(fds.data(), fds.size(), wake - now) < 0 && errno != EINTR) {
            const int error = errno;
            m_tell.problem(EmulatorProblem{EmulatorProblem::Kind::Wait, std::string(), error});
            Stop();
            break;
        }

        const Clock::time_point after = Clock::now();
        const size_t first = polledPrinters.size();
        for (size_t k = 0; k < polledConnections.size(); ++k) {
            Connection& connection = m_connections[polledConnections[k]];
            const short revents = fds[first + k].revents;
            if ((revents & POLLOUT) != 0) {
                SendAnswers(connection);
            }
            if ((revents & ~POLLOUT) != 0 && !Receive(connection, after)) {
                continue;
            }
            if (after - connection.lastHeard >= m_idleTimeout) {
                Finish(connection, Delivery::Ending::Idle);
            }
        }
        for (size_t k = 0; k < first; ++k) {
            if (fds[k].revents != 0) {
                AcceptFrom(polledPrinters[k], after);
            }
        }
        m_connections.erase(std::remove_if(m_connections.begin(), m_connections.end(),
                                           [](const Connection& c) { return c.done; }),
                            m_connections.end());
        if (m_nCount > 0 && m_nAccepted >= m_nCount && m_nListening > 0) {
            // From now on later peers are refused instead of left waiting.
            for (VirtualPrinter& printer : m_printers) {
                printer.listener.Reset();
                printer.held.clear();
            }
            m_nListening = 0;
        }
        if (m_bStateChanged && after >= m_nextStateWrite) {
            WriteState();
        }
    }
    if (m_state) {
        WriteState();
    }
    return !m_bStateFailed;
}

void Emulator::AcceptFrom(size_t index, Clock::time_point now) {
    while (Accepting()) {
        VirtualPrinter& printer = m_printers[index];
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        UniqueFd fd(::accept4(printer.listener.Get(), reinterpret_cast<sockaddr*>(&peer), &size,
                              SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (fd.Valid()) {
            m_acceptBackoff = Clock::duration::zero();
            ++m_nAccepted;
            if (printer.fault.kind == PrinterFault::Kind::Reset) {
                // Closed with a zero linger time: the peer gets a reset, nothing is read.
                const linger abort{1, 0};
                ::setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                fd.Reset();
                const std::string from = PeerName(peer);
                const std::vector<unsigned char> nothing;
                const Delivery reset{index, printer.name, from, nothing, 0, Delivery::Ending::Reset, 0};
                m_bStopAsked = !m_tell.delivered(reset) || m_bStopAsked;
                ++m_nFinished;
                continue;
            }
            // Answers are a byte each; a peer that never reads them holds no more than this of
            // the emulator's memory (and kEmulatorAnswerBytes more in the connection).
            const int sendBuffer = 8192;
            ::setsockopt(fd.Get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
            Connection connection;
            connection.fd = std::move(fd);
            connection.printer = index;
            connection.peer = PeerName(peer);
            connection.readyAt = now + std::chrono::milliseconds(printer.fault.slowMs);
            connection.lastHeard = connection.readyAt;
            m_connections.push_back(std::move(connection));
            if (printer.fault.slowMs == 0) {
                // What the peer sent with its connect, often all of it, is taken at once.
                Receive(m_connections.back(), now);
            }
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
            m_tell.problem(EmulatorProblem{EmulatorProblem::Kind::Accept, printer.name, error});
            m_acceptBackoff = kFirstAcceptPause;
        } else {
            m_acceptBackoff = std::min<Clock::duration>(2 * m_acceptBackoff, kLongestAcceptPause);
        }
        m_acceptPause = now + m_acceptBackoff;
        return;
    }
}

bool Emulator::Receive(Connection& connection, Clock::time_point now) {
    // A few reads at a time: the bytes and the end of a short connection are taken together,
    // and a peer that sends without pause still leaves the others their turn.
    for (int reads = 0; reads < 4; ++reads) {
        const ssize_t got = ::recv(connection.fd.Get(), m_buffer.data(), m_buffer.size(), 0);
        if (got > 0) {
            Keep(connection, m_buffer.data(), static_cast<size_t>(got));
            Answer(connection);
            connection.lastHeard = now;
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return true;
        }
        Finish(connection, got == 0 ? Delivery::Ending::Closed : Delivery::Ending::Failed,
               got == 0 ? 0 : errno);
        return false;
    }
    return true;
}

void Emulator::Keep(Connection& connection, const unsigned char* data, size_t size) {
    std::vector<unsigned char>& bytes = connection.bytes;
    const size_t kept = std::min(size, kEmulatorKeepBytes - bytes.size());
    if (bytes.size() + kept > bytes.capacity()) {
        // Grown by hand so that the buffer never holds more than the bytes kept.
        bytes.reserve(std::min(kEmulatorKeepBytes, std::max(bytes.size() + kept, 2 * bytes.capacity())));
    }
    bytes.insert(bytes.end(), data, data + kept);
    connection.dropped += size - kept;
}

void Emulator::Answer(Connection& connection) {
    // The commands are read as they arrive, the way the whole connection is decoded at its end,
    // so that a status request is answered while its peer waits for the answer.
    const std::vector<unsigned char>& bytes = connection.bytes;
    while (connection.scanned < bytes.size()) {
        const DecodeStep step =
            NextDecodeStep(bytes.data() + connection.scanned, bytes.size() - connection.scanned, false);
        if (step.kind == DecodeStep::Kind::NeedMore) {
            break;
        }
        if (step.kind == DecodeStep::Kind::Command && std::strcmp(step.name, "status-request") == 0) {
            const int answer = StatusAnswer(bytes[connection.scanned + 2]);
            if (answer >= 0 && connection.answers.size() < kEmulatorAnswerBytes) {
                connection.answers += static_cast<char>(answer);
            }
        }
        connection.scanned += step.length;
    }
    SendAnswers(connection);
}

void Emulator::SendAnswers(Connection& connection) {
    // Never waits: what the peer does not take now waits for the socket to be writable again.
    while (!connection.answers.empty()) {
        const ssize_t sent = ::send(connection.fd.Get(), connection.answers.data(), connection.answers.size(),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            connection.answers.erase(0, static_cast<size_t>(sent));
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else {
            if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                connection.answers.clear();  // the peer is gone; the next read tells how
            }
            return;
        }
    }
}

void Emulator::Stop() {
    // Peers whose connection is complete but not accepted yet have delivered their bytes too.
    const Clock::time_point now = Clock::now();
    for (size_t i = 0; i < m_printers.size(); ++i) {
        if (m_printers[i].listener.Valid()) {
            AcceptFrom(i, now);
        }
    }
    for (Connection& connection : m_connections) {
        if (connection.done) {
            continue;  // ended as it was accepted just now
        }
        // What is queued now, then one more look to tell a closed connection from an open one;
        // a peer that keeps sending cannot hold the stop up.
        int queued = 0;
        ::ioctl(connection.fd.Get(), FIONREAD, &queued);
        size_t left = static_cast<size_t>(std::max(queued, 0));
        Delivery::Ending how = Delivery::Ending::Stopped;
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
                how = Delivery::Ending::Closed;
                break;
            } else if (errno != EINTR) {
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    how = Delivery::Ending::Failed;
                    error = errno;
                }
                break;
            }
        }
        Finish(connection, how, error);
    }
    m_connections.clear();
}

void Emulator::Finish(Connection& connection, Delivery::Ending how, int error) {
    VirtualPrinter& printer = m_printers[connection.printer];
    const Delivery delivery{
        connection.printer, printer.name, connection.peer, connection.bytes, connection.dropped, how, error};
    // Nobody learns what arrives any more (a full disk, a closed pipe): the loop ends.
    m_bStopAsked = !m_tell.delivered(delivery) || m_bStopAsked;
    printer.state.ApplyConnection(connection.bytes, connection.dropped);
    printer.stateChanged = true;
    m_bStateChanged = m_state != nullptr;
    connection.fd.Reset();
    connection.bytes = std::vector<unsigned char>();
    connection.done = true;
    ++m_nFinished;
    m_acceptPause = Clock::time_point();  // a descriptor is free again
}

bool Emulator::WriteState() {
    m_bStateChanged = false;
    m_nextStateWrite = Clock::now() + kStateInterval;
    for (size_t i = 0; i < m_printers.size(); ++i) {
        VirtualPrinter& printer = m_printers[i];
        if (printer.stateChanged) {
            m_state->Set(i, printer.name, printer.state);
            printer.stateChanged = false;
        }
    }
    const int error = m_state->Write();
    if (error != 0) {
        if (!m_bStateFailed) {
            m_tell.problem(EmulatorProblem{EmulatorProblem::Kind::State, m_state->Path(), error});
        }
        m_bStateFailed = true;
        return false;
    }
    return true;
}

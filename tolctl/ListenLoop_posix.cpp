#include "ListenLoop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ostream>

#include "Decode.h"
#include "ErrnoText.h"
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

// One printer's entry in the state file, `"NAME": {...}`, indented as it stands there.
std::string StateEntry(const std::string& name, const PrinterState& state) {
    const auto replace = PrinterState::Json::error_handler_t::replace;
    const std::string value = state.ToJson().dump(2, ' ', false, replace);
    std::string entry = "    " + PrinterState::Json(name).dump(-1, ' ', false, replace) + ": ";
    entry.reserve(entry.size() + value.size() + value.size() / 8);
    for (const char c : value) {
        entry += c;
        if (c == '\n') {
            entry += "    ";
        }
    }
    return entry;
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

ListenLoop::ListenLoop(int count, std::chrono::seconds idleTimeout, std::ostream& out, std::ostream& err)
    : m_nCount(count), m_idleTimeout(idleTimeout), m_out(out), m_err(err), m_buffer(64 * 1024) {}

void ListenLoop::AddPrinter(UniqueFd fd, std::string name, ListenFault fault) {
    Printer printer;
    printer.listener = std::move(fd);
    printer.name = std::move(name);
    printer.fault = fault;
    m_printers.push_back(std::move(printer));
    ++m_nListening;
}

void ListenLoop::AddStalledPrinter(UniqueFd fd, std::vector<UniqueFd> fillers, std::string name) {
    Printer printer;
    printer.held = std::move(fillers);
    printer.held.push_back(std::move(fd));
    printer.name = std::move(name);
    printer.fault.kind = ListenFault::Kind::Stall;
    m_printers.push_back(std::move(printer));
}

void ListenLoop::SaveTo(UniqueFd fd, std::string name) {
    m_save = std::move(fd);
    m_saveName = std::move(name);
}

bool ListenLoop::StateTo(std::string path) {
    m_statePath = std::move(path);
    return WriteState();
}

bool ListenLoop::Accepting() const {
    return m_nListening > 0 && (m_nCount == 0 || m_nAccepted < m_nCount);
}

std::string ListenLoop::LinePrefix(size_t printer) const {
    return m_printers.size() > 1 ? m_printers[printer].name + ": " : std::string();
}

bool ListenLoop::Run(const StopSignals& signals) {
    std::vector<pollfd> fds;
    std::vector<size_t> polledPrinters;
    std::vector<size_t> polledConnections;
    while (m_nCount == 0 || m_nFinished < m_nCount) {
        if (signals.Stopped() || m_bOutputFailed) {
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
            m_err << "tolctl: listen: cannot wait for connections: " << ErrnoText(error) << '\n';
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
                Finish(connection, Ending::Idle);
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
            for (Printer& printer : m_printers) {
                printer.listener.Reset();
                printer.held.clear();
            }
            m_nListening = 0;
        }
        if (m_bStateChanged && after >= m_nextStateWrite) {
            WriteState();
        }
    }
    if (!m_statePath.empty()) {
        WriteState();
    }
    return !m_bSaveFailed && !m_bStateFailed && !m_bOutputFailed;
}

void ListenLoop::AcceptFrom(size_t index, Clock::time_point now) {
    while (Accepting()) {
        Printer& printer = m_printers[index];
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        UniqueFd fd(::accept4(printer.listener.Get(), reinterpret_cast<sockaddr*>(&peer), &size,
                              SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (fd.Valid()) {
            m_acceptBackoff = Clock::duration::zero();
            ++m_nAccepted;
            if (printer.fault.kind == ListenFault::Kind::Reset) {
                // Closed with a zero linger time: the peer gets a reset, nothing is read.
                const linger abort{1, 0};
                ::setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                fd.Reset();
                m_out << LinePrefix(index) << "(connection from " << PeerName(peer)
                      << " reset: --fault reset)" << std::endl;
                m_bOutputFailed = m_bOutputFailed || !m_out;
                ++m_nFinished;
                continue;
            }
            // Answers are a byte each; a peer that never reads them holds no more than this of
            // the listener's memory (and kListenAnswerBytes more in the connection).
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
            m_err << "tolctl: listen " << printer.name
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
        Finish(connection, got == 0 ? Ending::Closed : Ending::Failed, got == 0 ? 0 : errno);
        return false;
    }
    return true;
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

void ListenLoop::Answer(Connection& connection) {
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
            if (answer >= 0 && connection.answers.size() < kListenAnswerBytes) {
                connection.answers += static_cast<char>(answer);
            }
        }
        connection.scanned += step.length;
    }
    SendAnswers(connection);
}

void ListenLoop::SendAnswers(Connection& connection) {
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

void ListenLoop::Stop() {
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
    const std::string prefix = LinePrefix(connection.printer);
    for (const std::string& line : DecodeCommands(connection.bytes)) {
        m_out << prefix << line << '\n';
    }
    const std::string from = prefix + "(connection from " + connection.peer;
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
    // Nobody learns what arrives any more (a full disk, a closed pipe): the loop ends.
    m_bOutputFailed = m_bOutputFailed || !m_out;
    Printer& printer = m_printers[connection.printer];
    printer.state.ApplyConnection(connection.bytes, connection.dropped);
    printer.stateChanged = true;
    m_bStateChanged = !m_statePath.empty();
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

bool ListenLoop::WriteState() {
    m_bStateChanged = false;
    m_nextStateWrite = Clock::now() + kStateInterval;
    // The text of {"printers": {NAME: STATE, ...}} as dump(2) writes it, put together from each
    // printer's entry: only the printers that changed are written anew, and no object of all of
    // them is built (looking a name up in one costs as many steps as it has printers).
    std::string text = "{\n  \"printers\": {";
    for (size_t i = 0; i < m_printers.size(); ++i) {
        Printer& printer = m_printers[i];
        if (printer.stateChanged) {
            printer.stateText = StateEntry(printer.name, printer.state);
            printer.stateChanged = false;
        }
        text += i == 0 ? "\n" : ",\n";
        text += printer.stateText;
    }
    text += m_printers.empty() ? "}\n}\n" : "\n  }\n}\n";

    // Written beside the file and renamed over it, so that a reader sees the old state or the
    // new one, never a part.
    std::vector<char> temp(m_statePath.begin(), m_statePath.end());
    for (const char c : std::string(".XXXXXX")) {
        temp.push_back(c);
    }
    temp.push_back('\0');
    int error = 0;
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.Valid()) {
        error = errno;
    } else {
        size_t done = 0;
        while (error == 0 && done < text.size()) {
            const ssize_t wrote = ::write(fd.Get(), text.data() + done, text.size() - done);
            if (wrote > 0) {
                done += static_cast<size_t>(wrote);
            } else if (wrote < 0 && errno != EINTR) {
                error = errno;
            } else if (wrote == 0) {
                error = EIO;
            }
        }
        // Only for its owner, whatever the umask: it holds Wi-Fi passwords.
        if (error == 0 && ::fchmod(fd.Get(), 0600) != 0) {
            error = errno;
        }
        if (::close(fd.Release()) != 0 && error == 0) {
            error = errno;
        }
        if (error == 0 && ::rename(temp.data(), m_statePath.c_str()) != 0) {
            error = errno;
        }
        if (error != 0) {
            ::unlink(temp.data());
        }
    }
    if (error != 0) {
        if (!m_bStateFailed) {
            m_err << "tolctl: listen --state: cannot write '" << m_statePath << "': " << ErrnoText(error)
                  << std::endl;
        }
        m_bStateFailed = true;
        return false;
    }
    return true;
}

// The emulator's loop: accepts, reads, status answers, idle and slow connections, the state file
// and the stop, all as Asio operations on one io_context run by one thread.
#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>

#include <algorithm>

#include "emulator/EmulatorServer.h"
#include "emulator/EmulatorSystem.h"
#include "values/Values.h"

namespace {

// After an accept failed for want of descriptors or memory, the listeners rest this long, twice
// as long after each further failure, up to the longest pause; a connection that ends frees a
// descriptor and ends the pause.
constexpr std::chrono::milliseconds kFirstAcceptPause(50);
constexpr std::chrono::milliseconds kLongestAcceptPause(1000);

// The state file is written at most this often while connections keep changing it.
constexpr std::chrono::milliseconds kStateInterval(500);

// How often the conditions file is looked at for a change.
constexpr std::chrono::milliseconds kConditionsInterval(250);

std::string PeerName(const asio::ip::tcp::endpoint& endpoint) {
    return FormatAddress(endpoint.address().to_v4().to_uint()) + ":" + std::to_string(endpoint.port());
}

// Whether `error` is `code`, the categories compared by address: std::error_code's == calls a
// member of the category, and the sanitizers' first check of such a call on a type needs a
// descriptor, which an emulator that ran out of them (an end of file while it waits for one to
// come free) does not have.
template <typename Code>
bool Is(const std::error_code& error, Code code) {
    const std::error_code other = asio::error::make_error_code(code);
    return error.value() == other.value() && &error.category() == &other.category();
}

// Errors of accept that belong to the one connection it was taking (see accept(2)): the next
// connection may well be fine. (Asio takes EPROTO as it takes ECONNABORTED: it tries again.)
bool PeerOnlyError(const std::error_code& error) {
    using namespace asio::error;
    return Is(error, connection_aborted) || Is(error, connection_reset) || Is(error, interrupted) ||
           Is(error, no_permission) || Is(error, network_down) || Is(error, network_unreachable) ||
           Is(error, host_unreachable) || Is(error, no_protocol_option) || Is(error, operation_not_supported);
}

bool WouldBlock(const std::error_code& error) {
    return Is(error, asio::error::would_block) || Is(error, asio::error::try_again);
}

}  // namespace

Emulator::Emulator(int count, std::chrono::seconds idleTimeout, EmulatorCallbacks callbacks)
    : m_server(new Server(count, idleTimeout, std::move(callbacks))) {}

Emulator::~Emulator() = default;

void Emulator::StopOnSignals() {
    m_server->StopOnSignals();
}

bool Emulator::Listen(const std::vector<PlannedPrinter>& printers,
                      int port,
                      std::string& where,
                      std::error_code& error) {
    return m_server->Listen(printers, port, where, error);
}

int Emulator::Port() const {
    return m_server->Port();
}

size_t Emulator::PrinterCount() const {
    return m_server->PrinterCount();
}

uint32_t Emulator::Address(size_t printer) const {
    return m_server->Address(printer);
}

bool Emulator::WatchConditions(const std::string& path, std::string& problem) {
    return m_server->WatchConditions(path, problem);
}

bool Emulator::KeepStateIn(const std::string& path, std::vector<SavedPrinter> saved) {
    return m_server->KeepStateIn(path, std::move(saved));
}

bool Emulator::Run() {
    return m_server->Run();
}

void Emulator::Stop() {
    m_server->StopFromElsewhere();
}

Emulator::Server::Server(int count, std::chrono::seconds idleTimeout, EmulatorCallbacks callbacks)
    : m_nCount(count), m_idleTimeout(idleTimeout), m_tell(std::move(callbacks)) {}

void Emulator::Server::StopOnSignals() {
    m_signals.emplace(m_io, SIGINT, SIGTERM);
    RestartCallsAfterStopSignals();
}

bool Emulator::Server::KeepStateIn(const std::string& path, std::vector<SavedPrinter> saved) {
    m_state.reset(new StateFile(path));
    size_t kept = m_printers.size();
    for (const SavedPrinter& printer : saved) {
        // The printers are in address order; an entry is theirs by its address alone.
        uint32_t address = 0;
        const bool named = ParseAddress(printer.name.substr(0, printer.name.find(':')), address);
        const auto at = std::lower_bound(m_printers.begin(), m_printers.end(), address,
                                         [](const VirtualPrinter& p, uint32_t a) { return p.address < a; });
        std::string problem;
        if (!named || at == m_printers.end() || at->address != address ||
            !at->state.Restore(printer.entry, problem)) {
            m_state->SetEntry(kept++, printer.name, printer.entry);
        }
    }
    return WriteState();
}

bool Emulator::Server::WatchConditions(const std::string& path, std::string& problem) {
    m_conditionsPath = path;
    return ReadConditions(problem);
}

Emulator::Server::FileStamp Emulator::Server::StampOf(const std::string& path) {
    FileStamp stamp;
    std::error_code error;
    const std::filesystem::path file = std::filesystem::u8path(path);
    stamp.time = std::filesystem::last_write_time(file, error);
    if (!error) {
        stamp.size = std::filesystem::file_size(file, error);
        stamp.exists = !error;
    }
    return stamp;
}

bool Emulator::Server::ReadConditions(std::string& problem) {
    // Stamped before it is read: a change made while it is read is seen at the next look.
    m_conditionsStamp = StampOf(m_conditionsPath);
    std::vector<PlannedPrinter> planned = m_planned;
    if (!ReadConditionsFile(m_conditionsPath, planned, problem)) {
        return false;
    }
    // The printers listened on are those planned, in the same order, less the refused ones.
    size_t next = 0;
    bool changed = false;
    for (VirtualPrinter& printer : m_printers) {
        while (planned[next].address != printer.address) {
            ++next;
        }
        if (printer.condition != planned[next].condition) {
            printer.condition = planned[next].condition;
            printer.stateChanged = true;
            changed = true;
        }
    }
    if (changed) {
        StateChanged();
    }
    return true;
}

void Emulator::Server::WatchConditionsFile() {
    if (m_conditionsPath.empty() || m_bDraining) {
        return;
    }
    m_conditionsTimer.expires_after(kConditionsInterval);
    m_conditionsTimer.async_wait([this](const std::error_code& error) {
        if (error) {
            return;
        }
        std::string problem;
        if (!(StampOf(m_conditionsPath) == m_conditionsStamp) && !ReadConditions(problem)) {
            const std::string what = problem + "; the conditions stay as they were";
            m_tell.problem(EmulatorProblem{EmulatorProblem::Kind::Conditions, what, {}});
        }
        WatchConditionsFile();
    });
}

void Emulator::Server::StopFromElsewhere() {
    // Posted: the loop's own thread asks for the stop, as the signal handler does; one posted
    // before Run waits for it.
    asio::post(m_io, [this] {
        m_bStopAsked = true;
        m_io.stop();
    });
}

bool Emulator::Server::Accepting() const {
    return m_nListening > 0 && (m_nCount == 0 || m_nAccepted < m_nCount);
}

bool Emulator::Server::Run() {
    if (m_signals) {
        m_signals->async_wait([this](const std::error_code& error, int) {
            if (!error) {
                m_bStopAsked = true;
                m_io.stop();
            }
        });
    }
    for (size_t i = 0; i < m_printers.size(); ++i) {
        Accept(i);
    }
    WatchConditionsFile();
    try {
        if (m_nCount == 0 || m_nFinished < m_nCount) {
            // Only Finish and the stop signal end the loop.
            const auto busy = asio::make_work_guard(m_io);
            m_io.restart();
            m_io.run();
        }
        if (m_bStopAsked) {
            Stop();
        }
    } catch (const std::system_error& failure) {
        m_tell.problem(EmulatorProblem{EmulatorProblem::Kind::Wait, std::string(), failure.code()});
    }
    if (m_state) {
        WriteState();
    }
    return !m_bStateFailed;
}

void Emulator::Server::Accept(size_t index) {
    VirtualPrinter& printer = m_printers[index];
    if (printer.accepting || m_bDraining || !Accepting() || m_acceptPause != Clock::time_point() ||
        !printer.listener.is_open() || printer.fault.kind == PrinterFault::Kind::Stall) {
        return;
    }
    printer.accepting = true;
    printer.listener.async_accept(printer.peer,
                                  [this, index](const std::error_code& error, Tcp::socket socket) {
                                      Accepted(index, error, std::move(socket));
                                  });
}

void Emulator::Server::Accepted(size_t index, const std::error_code& error, Tcp::socket socket) {
    m_printers[index].accepting = false;
    if (Is(error, asio::error::operation_aborted)) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (!error) {
        m_acceptBackoff = Clock::duration::zero();
        Take(index, std::move(socket), now);
    } else if (!PeerOnlyError(error)) {
        RestAccepts(index, error, now);
        return;
    }
    Accept(index);
}

void Emulator::Server::Take(size_t index, Tcp::socket socket, Clock::time_point now) {
    VirtualPrinter& printer = m_printers[index];
    std::error_code ignored;
    if (!Accepting()) {
        // Accepted together with the last connection that --count allows: reset, as the system
        // resets what waits in a listening socket that is closed.
        socket.set_option(asio::socket_base::linger(true, 0), ignored);
        socket.close(ignored);
        return;
    }
    ++m_nAccepted;
    if (printer.fault.kind == PrinterFault::Kind::Reset) {
        // Closed with a zero linger time: the peer gets a reset, nothing is read. (Closed here:
        // Asio's destructor would turn the linger off again.)
        socket.set_option(asio::socket_base::linger(true, 0), ignored);
        socket.close(ignored);
        const std::string from = PeerName(printer.peer);
        const std::vector<unsigned char> nothing;
        const Delivery reset{index, printer.name, from, nothing, 0, Delivery::Ending::Reset, {}};
        m_bStopAsked = !m_tell.delivered(reset) || m_bStopAsked;
        ++m_nFinished;
    } else {
        // Answers are a byte each; a peer that never reads them holds no more than this of the
        // emulator's memory (and kEmulatorAnswerBytes more in the connection).
        socket.set_option(asio::socket_base::send_buffer_size(8192), ignored);
        const ConnectionPtr connection = std::make_shared<Connection>(std::move(socket));
        connection->printer = index;
        connection->peer = PeerName(printer.peer);
        connection->readyAt = now + std::chrono::milliseconds(printer.fault.slowMs);
        connection->lastHeard = connection->readyAt;
        connection->entry = m_connections.insert(m_connections.end(), connection);
        if (printer.fault.slowMs == 0) {
            Read(connection);
            WatchClock(connection->lastHeard + m_idleTimeout);
        } else {
            WatchClock(connection->readyAt);  // then it is read
        }
        if (printer.fault.kind == PrinterFault::Kind::Banner) {
            connection->answers = kEmulatorBanner;
            SendAnswers(connection);
        } else if (printer.fault.kind == PrinterFault::Kind::Flood) {
            Flood(connection);
        }
    }
    if (m_nCount > 0 && m_nAccepted >= m_nCount) {
        CloseListeners();  // from now on later peers are refused instead of left waiting
    }
    if (!m_bDraining && (m_bStopAsked || (m_nCount > 0 && m_nFinished >= m_nCount))) {
        m_io.stop();
    }
}

void Emulator::Server::RestAccepts(size_t index, const std::error_code& error, Clock::time_point now) {
    // Out of descriptors or memory: the connection stays queued and the listening socket stays
    // readable, so trying again at once would only spin.
    if (m_acceptPause != Clock::time_point()) {
        return;  // resting already; this listener resumes with the others
    }
    if (m_acceptBackoff == Clock::duration::zero()) {
        m_tell.problem(EmulatorProblem{EmulatorProblem::Kind::Accept, m_printers[index].name, error});
        m_acceptBackoff = kFirstAcceptPause;
    } else {
        m_acceptBackoff = std::min<Clock::duration>(2 * m_acceptBackoff, kLongestAcceptPause);
    }
    const Clock::time_point until = now + m_acceptBackoff;
    m_acceptPause = until;
    if (!m_bDraining) {
        m_acceptTimer.expires_at(until);
        m_acceptTimer.async_wait([this, until](const std::error_code& failure) {
            if (!failure && m_acceptPause == until) {
                ResumeAccepts();
            }
        });
    }
}

void Emulator::Server::ResumeAccepts() {
    m_acceptPause = Clock::time_point();
    m_acceptTimer.cancel();
    for (size_t i = 0; i < m_printers.size(); ++i) {
        Accept(i);
    }
}

void Emulator::Server::CloseListeners() {
    std::error_code ignored;
    for (VirtualPrinter& printer : m_printers) {
        printer.listener.close(ignored);
        printer.held.clear();
    }
    m_nListening = 0;
}

void Emulator::Server::Read(const ConnectionPtr& connection) {
    Connection& c = *connection;
    if (c.reading || c.done || m_bDraining) {
        return;
    }
    c.reading = true;
    c.socket.async_read_some(
        asio::buffer(c.chunk),
        [this, connection](const std::error_code& error, size_t size) { Received(connection, error, size); });
}

void Emulator::Server::Received(const ConnectionPtr& connection, const std::error_code& error, size_t size) {
    Connection& c = *connection;
    c.reading = false;
    if (c.done) {
        return;  // ended while the read was under way (idle, stopped)
    }
    if (size > 0) {
        Keep(c, c.chunk, size);
        Answer(connection);
        c.lastHeard = Clock::now();
    }
    if (Is(error, asio::error::eof)) {
        Finish(c, Delivery::Ending::Closed);
    } else if (Is(error, asio::error::operation_aborted)) {
        // Stopping: Stop reads out what is left.
    } else if (error) {
        Finish(c, Delivery::Ending::Failed, error);
    } else {
        Read(connection);
    }
}

void Emulator::Server::Keep(Connection& connection, const unsigned char* data, size_t size) {
    std::vector<unsigned char>& bytes = connection.bytes;
    const size_t kept = std::min(size, kEmulatorKeepBytes - bytes.size());
    if (bytes.size() + kept > bytes.capacity()) {
        // Grown by hand so that the buffer never holds more than the bytes kept.
        bytes.reserve(std::min(kEmulatorKeepBytes, std::max(bytes.size() + kept, 2 * bytes.capacity())));
    }
    bytes.insert(bytes.end(), data, data + kept);
    connection.dropped += size - kept;
}

void Emulator::Server::Answer(const ConnectionPtr& connection) {
    Connection& c = *connection;
    const VirtualPrinter& printer = m_printers[c.printer];
    const size_t held = c.answers.size() + c.sending.size();
    c.answers += StatusReplies(printer.fault, printer.condition, c.bytes, c.scanned,
                               held < kEmulatorAnswerBytes ? kEmulatorAnswerBytes - held : 0);
    SendAnswers(connection);
}

void Emulator::Server::SendAnswers(const ConnectionPtr& connection) {
    // One send at a time; what comes meanwhile waits in `answers`.
    Connection& c = *connection;
    if (c.writing || c.answers.empty() || c.done || m_bDraining) {
        return;
    }
    c.sending.swap(c.answers);
    c.writing = true;
    asio::async_write(c.socket, asio::buffer(c.sending),
                      [this, connection](const std::error_code& error, size_t) {
                          Connection& sent = *connection;
                          sent.writing = false;
                          sent.sending.clear();
                          if (error) {
                              sent.answers.clear();  // the peer is gone; the read tells how
                              return;
                          }
                          SendAnswers(connection);
                      });
}

void Emulator::Server::Flood(const ConnectionPtr& connection) {
    // One write at a time, each as the peer makes room: the loop is not held by it.
    static const std::string kFlood(4096, '\x16');
    Connection& c = *connection;
    if (c.done || m_bDraining) {
        return;
    }
    c.writing = true;
    asio::async_write(c.socket, asio::buffer(kFlood),
                      [this, connection](const std::error_code& error, size_t) {
                          connection->writing = false;
                          if (!error) {
                              Flood(connection);
                          }
                      });
}

void Emulator::Server::WatchClock(Clock::time_point when) {
    if (when >= m_clockAt || m_bDraining) {
        return;  // the clock strikes before
    }
    m_clockAt = when;
    m_clock.expires_at(when);
    m_clock.async_wait([this, when](const std::error_code& error) {
        if (!error) {
            ClockStruck(when);
        }
    });
}

void Emulator::Server::ClockStruck(Clock::time_point when) {
    if (when == m_clockAt) {
        m_clockAt = Clock::time_point::max();
    }
    const Clock::time_point now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        const ConnectionPtr connection = *it++;  // Finish takes it out of the list
        Connection& c = *connection;
        if (now < c.readyAt) {
            next = std::min(next, c.readyAt);  // a slow printer: not read before then
        } else if (now - c.lastHeard >= m_idleTimeout) {
            Finish(c, Delivery::Ending::Idle);
        } else {
            Read(connection);  // a slow printer's connection is read from now on
            next = std::min(next, c.lastHeard + m_idleTimeout);
        }
    }
    if (next != Clock::time_point::max()) {
        WatchClock(next);
    }
}

void Emulator::Server::Finish(Connection& connection, Delivery::Ending how, std::error_code error) {
    VirtualPrinter& printer = m_printers[connection.printer];
    const Delivery delivery{
        connection.printer, printer.name, connection.peer, connection.bytes, connection.dropped, how, error};
    // Nobody learns what arrives any more (a full disk, a closed pipe): the loop ends.
    m_bStopAsked = !m_tell.delivered(delivery) || m_bStopAsked;
    printer.state.ApplyConnection(connection.bytes, connection.dropped);
    printer.stateChanged = true;
    StateChanged();
    std::error_code ignored;
    connection.socket.close(ignored);
    connection.bytes = std::vector<unsigned char>();
    connection.done = true;
    ++m_nFinished;
    if (m_acceptPause != Clock::time_point() && !m_bDraining) {
        ResumeAccepts();  // a descriptor is free again
    }
    if (!m_bDraining && (m_bStopAsked || (m_nCount > 0 && m_nFinished >= m_nCount))) {
        m_io.stop();
    }
    m_connections.erase(connection.entry);  // last: the connection may go with it
}

void Emulator::Server::StateChanged() {
    if (!m_state) {
        return;
    }
    m_bStateChanged = true;
    if (m_bStateTimed || m_bDraining) {
        return;
    }
    m_bStateTimed = true;
    m_stateTimer.expires_at(m_nextStateWrite);
    m_stateTimer.async_wait([this](const std::error_code& error) {
        m_bStateTimed = false;
        if (!error && m_bStateChanged) {
            WriteState();
        }
    });
}

bool Emulator::Server::WriteState() {
    m_bStateChanged = false;
    m_nextStateWrite = Clock::now() + kStateInterval;
    for (size_t i = 0; i < m_printers.size(); ++i) {
        VirtualPrinter& printer = m_printers[i];
        if (printer.stateChanged) {
            m_state->Set(i, printer.name, printer.state, printer.condition);
            printer.stateChanged = false;
        }
    }
    const int error = m_state->Write();
    if (error != 0) {
        if (!m_bStateFailed) {
            m_tell.problem(EmulatorProblem{EmulatorProblem::Kind::State, m_state->Path(),
                                           std::error_code(error, std::generic_category())});
        }
        m_bStateFailed = true;
        return false;
    }
    return true;
}

void Emulator::Server::Stop() {
    // What is under way ends first: an operation that the system has carried out already (on
    // Windows a read that took bytes, an accept) completes with what it has, the others end.
    m_bDraining = true;
    std::error_code ignored;
    for (VirtualPrinter& printer : m_printers) {
        printer.listener.cancel(ignored);
    }
    for (const ConnectionPtr& connection : m_connections) {
        connection->socket.cancel(ignored);
    }
    m_clock.cancel();
    m_acceptTimer.cancel();
    m_stateTimer.cancel();
    m_conditionsTimer.cancel();
    if (m_signals) {
        m_signals->cancel(ignored);
    }
    m_io.restart();
    m_io.run();

    // Peers whose connection is complete but not accepted yet have delivered their bytes too.
    const Clock::time_point now = Clock::now();
    for (size_t i = 0; i < m_printers.size(); ++i) {
        VirtualPrinter& printer = m_printers[i];
        if (!printer.listener.is_open() || printer.fault.kind == PrinterFault::Kind::Stall) {
            continue;
        }
        printer.listener.non_blocking(true, ignored);
        while (Accepting()) {
            std::error_code error;
            Tcp::socket socket(m_io);
            printer.listener.accept(socket, printer.peer, error);
            if (!error) {
                Take(i, std::move(socket), now);
            } else if (WouldBlock(error) || !PeerOnlyError(error)) {
                if (!WouldBlock(error)) {
                    RestAccepts(i, error, now);
                }
                break;
            }
        }
    }
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        const ConnectionPtr connection = *it++;  // Finish takes it out of the list
        ReadOut(*connection);
    }
}

void Emulator::Server::ReadOut(Connection& connection) {
    // What is queued now, then one more look to tell a closed connection from an open one; a
    // peer that keeps sending cannot hold the stop up.
    Tcp::socket& socket = connection.socket;
    std::error_code error;
    size_t left = socket.available(error);
    socket.non_blocking(true, error);
    Delivery::Ending how = Delivery::Ending::Stopped;
    std::error_code failure;
    for (;;) {
        const size_t want = left > 0 ? std::min(left, sizeof connection.chunk) : sizeof connection.chunk;
        const size_t got = socket.read_some(asio::buffer(connection.chunk, want), error);
        if (!error && got > 0) {
            Keep(connection, connection.chunk, got);
            if (left == 0) {
                break;
            }
            left -= std::min(left, got);
        } else if (Is(error, asio::error::eof)) {
            how = Delivery::Ending::Closed;
            break;
        } else if (!Is(error, asio::error::interrupted)) {
            if (error && !WouldBlock(error)) {
                how = Delivery::Ending::Failed;
                failure = error;
            }
            break;
        }
    }
    Finish(connection, how, failure);
}

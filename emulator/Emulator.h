// The emulator: virtual printers on TCP, one listening socket per address, served by one event
// loop in one thread, each connection with its own state. It answers status requests as a
// printer would, keeps what each printer was sent (PrinterState, the state file), and tells an
// observer what each connection delivered. POSIX for now.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Faults.h"
#include "PrinterState.h"
#include "StateFile.h"
#include "UniqueHandle.h"

class StopSignals;

/// Bytes kept of one connection; what arrives past them is counted and dropped.
constexpr size_t kEmulatorKeepBytes = 1024 * 1024;

/// Status answers waiting for a peer that does not read are kept up to this many bytes; later
/// answers to it are dropped.
constexpr size_t kEmulatorAnswerBytes = 4096;

/// The byte a printer answers to DLE EOT n, or -1 when it gives none.
int StatusAnswer(unsigned char n);

/// What one connection delivered, told as it ended.
struct Delivery {
    enum class Ending {
        Closed,   // the peer closed it
        Failed,   // it ended with the system error `error`
        Idle,     // nothing came for the idle time-out: dropped
        Stopped,  // still open when the emulator stopped
        Reset,    // reset at once by a printer with the reset fault: nothing was read
    };
    size_t printer;                           // the printer's index (Emulator::Address)
    const std::string& name;                  // the printer's ADDR:PORT
    const std::string& peer;                  // ADDR:PORT of the other end
    const std::vector<unsigned char>& bytes;  // the first kEmulatorKeepBytes received
    uint64_t dropped;                         // bytes received past those
    Ending ending;
    int error;  // Failed: the errno
};

/// Something that went wrong while serving.
struct EmulatorProblem {
    enum class Kind {
        Wait,    // the loop could not wait for its sockets: it stops
        Accept,  // a printer could not accept (no descriptor or memory left): tried again later
        State,   // the state file could not be written (told once)
    };
    Kind kind;
    const std::string& where;  // Accept: the printer's ADDR:PORT; State: the file; Wait: empty
    int error;                 // the errno
};

/// What the emulator tells as it serves, on its own thread; what it is given is valid during the
/// call. Plain functions rather than an interface with virtual calls: the sanitizers' check of a
/// virtual call needs a file descriptor the first time it meets a type, and the accept problem
/// is told when the process has none left.
struct EmulatorCallbacks {
    /// A connection ended; answers false when the emulator is to stop (its output cannot be
    /// written, say). The printer's state takes the bytes after this call.
    std::function<bool(const Delivery&)> delivered;
    /// Something went wrong while serving.
    std::function<void(const EmulatorProblem&)> problem;
};

class Emulator {
  public:
    /// `count`: connections to serve, 0 for no limit; `idleTimeout`: how long a connection may
    /// stay silent before it is dropped.
    Emulator(int count, std::chrono::seconds idleTimeout, EmulatorCallbacks callbacks);
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    /// True when this process may have every socket that `printers` need open (one each; a
    /// stalled printer two), after raising its limit of open files as far as the system allows
    /// (256 printers with hundreds of connections need more than the usual soft limit of 1024).
    /// Else `limit` is the limit and `fit` how many would fit.
    static bool Fits(const std::vector<PlannedPrinter>& printers, size_t& limit, size_t& fit);

    /// Listens on the address of every printer that does not refuse, on one port for all: `port`,
    /// or with 0 one that is free on every address. A stalled printer's backlog is filled. False
    /// with `where` (ADDR:PORT) and `error` (the errno) when one address cannot be listened on.
    bool Listen(const std::vector<PlannedPrinter>& printers, int port, std::string& where, int& error);
    /// The port listened on.
    int Port() const { return m_nPort; }
    /// The printers listened on, in address order.
    size_t PrinterCount() const { return m_printers.size(); }
    uint32_t Address(size_t printer) const { return m_printers[printer].address; }

    /// Keeps every printer's state in the file at `path`: written now, then at most every 500 ms
    /// while something changed, and when the emulator stops. False (told as a problem) when this
    /// first write fails.
    bool KeepStateIn(const std::string& path);

    /// Serves until `count` connections are done, a stop signal came or the delivered callback
    /// asked to stop. On a stop, the connections still open, and those waiting to be accepted, are read
    /// out as far as they arrived and told. False when the state file could not be written.
    bool Run(const StopSignals& signals);

  private:
    using Clock = std::chrono::steady_clock;

    // A printer the emulator stands in for, and what it has been sent.
    struct VirtualPrinter {
        UniqueFd listener;           // invalid once no more connections are taken, and when stalled
        std::vector<UniqueFd> held;  // a stalled printer's listening socket and its backlog
        uint32_t address = 0;
        std::string name;  // ADDR:PORT
        PrinterFault fault;
        PrinterState state;
        bool stateChanged = true;  // since its entry in the state file was made
    };
    struct Connection {
        UniqueFd fd;
        size_t printer = 0;
        std::string peer;                  // ADDR:PORT of the other end
        std::vector<unsigned char> bytes;  // the first kEmulatorKeepBytes received
        uint64_t dropped = 0;              // bytes received past those
        size_t scanned = 0;                // bytes looked through for status requests
        std::string answers;               // status bytes not yet taken by the peer
        Clock::time_point readyAt;         // nothing is read before (slow printers)
        Clock::time_point lastHeard;
        bool done = false;
    };

    bool Accepting() const;
    void AcceptFrom(size_t printer, Clock::time_point now);
    // Takes what the socket has; false once the connection ended (then it is finished).
    bool Receive(Connection& connection, Clock::time_point now);
    void Keep(Connection& connection, const unsigned char* data, size_t size);
    void Answer(Connection& connection);
    void SendAnswers(Connection& connection);
    void Finish(Connection& connection, Delivery::Ending how, int error = 0);
    bool WriteState();
    void Stop();

    int m_nCount;
    std::chrono::seconds m_idleTimeout;
    EmulatorCallbacks m_tell;
    int m_nPort = 0;
    std::vector<VirtualPrinter> m_printers;
    size_t m_nListening = 0;  // printers that take connections
    std::vector<Connection> m_connections;
    bool m_bStopAsked = false;  // by the delivered callback
    std::unique_ptr<StateFile> m_state;
    bool m_bStateChanged = false;
    bool m_bStateFailed = false;
    Clock::time_point m_nextStateWrite{};
    int m_nAccepted = 0;
    int m_nFinished = 0;
    // After a failed accept for want of descriptors or memory, the listeners rest until then.
    Clock::time_point m_acceptPause{};
    Clock::duration m_acceptBackoff{};
    std::vector<unsigned char> m_buffer;
};

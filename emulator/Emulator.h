// The emulator: virtual printers on TCP, one listening socket per address, served by one event
// loop (Asio's) in one thread, each connection with its own state. It answers status requests as
// a printer in its condition would (Conditions.h), keeps what each printer was sent (PrinterState,
// the state file), and tells an observer what each connection delivered.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "emulator/Conditions.h"
#include "emulator/Faults.h"
#include "emulator/PrinterState.h"
#include "emulator/StateFile.h"

/// Bytes kept of one connection; what arrives past them is counted and dropped.
constexpr size_t kEmulatorKeepBytes = 1024 * 1024;

/// Status answers waiting for a peer that does not read are kept up to this many bytes; later
/// answers to it are dropped.
constexpr size_t kEmulatorAnswerBytes = 4096;

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
    std::error_code error;  // Failed: the system's error (ErrorCodeText says it)
};

/// Something that went wrong while serving.
struct EmulatorProblem {
    enum class Kind {
        Wait,        // the loop could not wait for its sockets: it stops
        Accept,      // a printer could not accept (no descriptor or memory left): tried again later
        State,       // the state file could not be written (told once)
        Conditions,  // the conditions file changed and cannot be read: the conditions stay
    };
    Kind kind;
    // Accept: the printer's ADDR:PORT; State: the file; Conditions: the file and what is wrong
    // ("conditions.txt line 3: ..."); Wait: empty
    const std::string& where;
    std::error_code error;
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
    /// stay silent before it is dropped. Throws std::system_error when the system gives no event
    /// loop (no descriptors left, say).
    Emulator(int count, std::chrono::seconds idleTimeout, EmulatorCallbacks callbacks);
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    /// From now on SIGINT and SIGTERM (on Windows Ctrl-C) stop Run as described there instead of
    /// ending the process; one that comes before Run is kept for it. Called before the emulator
    /// says it listens, so that no Ctrl-C meets the default action.
    void StopOnSignals();

    /// True when this process may have every socket that `printers` need open (one each; a
    /// stalled printer two) besides what it has open now, after raising its limit of open files
    /// as far as the system allows (256 printers with hundreds of connections need more than the
    /// usual soft limit of 1024). Else `limit` is the limit and `fit` how many would fit. Asked
    /// before an emulator is made: the few descriptors of its event loop count among those that
    /// it keeps spare.
    static bool Fits(const std::vector<PlannedPrinter>& printers, size_t& limit, size_t& fit);

    /// Listens on the address of every printer that does not refuse, on one port for all: `port`,
    /// or with 0 one that is free on every address. A stalled printer's backlog is filled. False
    /// with `where` (ADDR:PORT) and `error` when one address cannot be listened on.
    bool Listen(const std::vector<PlannedPrinter>& printers,
                int port,
                std::string& where,
                std::error_code& error);
    /// The port listened on.
    int Port() const;
    /// The printers listened on, in address order.
    size_t PrinterCount() const;
    uint32_t Address(size_t printer) const;

    /// Takes the printers' conditions from the file at `path` (ReadConditionsFile) over those
    /// they were listened on with: read now, then whenever its time or size changes (looked at
    /// every 250 ms while Run serves), again over the conditions they were listened on with.
    /// When it cannot be read later (told as a problem) the conditions stay as they were. False
    /// with `problem` when it cannot be read now.
    bool WatchConditions(const std::string& path, std::string& problem);

    /// Keeps every printer's state in the file at `path`: written now, then at most every 500 ms
    /// while something changed, and when the emulator stops. The printers start from `saved`
    /// (ReadStateFile of that file: an earlier run's), each from the entry of its address
    /// whatever the port was; entries of printers not listened on now stay in the file as they
    /// are. False (told as a problem) when this first write fails.
    bool KeepStateIn(const std::string& path, std::vector<SavedPrinter> saved = {});

    /// Serves until `count` connections are done, a stop signal came (StopOnSignals) or the
    /// delivered callback asked to stop. On a stop, the connections still open, and those waiting
    /// to be accepted, are read out as far as they arrived and told. False when the state file
    /// could not be written.
    bool Run();

    /// Stops Run as a stop signal does; from any thread, before Run or while it serves (tests
    /// that keep the emulator in their own process).
    void Stop();

  private:
    class Server;  // the sockets and the loop (EmulatorServer.h)
    std::unique_ptr<Server> m_server;
};

// The printer stand-in's event loop: every listening socket and every connection, served in one
// thread by poll, each connection with its own state. One listening socket is one virtual printer.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "ListenPlan.h"
#include "PrinterState.h"
#include "UniqueHandle.h"

class StopSignals;

/// Bytes kept of one connection; what arrives past them is counted and dropped.
constexpr size_t kListenKeepBytes = 1024 * 1024;

/// Status answers waiting for a peer that does not read are kept up to this many bytes; later
/// answers to it are dropped.
constexpr size_t kListenAnswerBytes = 4096;

/// The byte a printer answers to DLE EOT n, or -1 when it gives none.
int StatusAnswer(unsigned char n);

class ListenLoop {
  public:
    /// `count`: connections to serve, 0 for no limit; `idleTimeout`: how long a connection may
    /// stay silent before it is dropped.
    ListenLoop(int count, std::chrono::seconds idleTimeout, std::ostream& out, std::ostream& err);

    /// Adds a virtual printer listening on `fd` (non-blocking); `name` is ADDR:PORT as reported.
    /// Its connections are served as `fault` says (none, reset or slow).
    void AddPrinter(UniqueFd fd, std::string name, ListenFault fault);
    /// Adds a printer whose listening socket stays with its backlog full (`fillers` are the
    /// connections that fill it) and is never accepted from.
    void AddStalledPrinter(UniqueFd fd, std::vector<UniqueFd> fillers, std::string name);
    /// Appends the bytes of every connection to this file (opened for appending) as it ends.
    void SaveTo(UniqueFd fd, std::string name);
    /// Keeps every printer's state in the file at `path`: written now, then at most every 500 ms
    /// while something changed, and when the loop ends. False (and said on `err`) when this
    /// first write fails.
    bool StateTo(std::string path);

    /// Serves until `count` connections are done, a stop signal came or the output could not be
    /// written. On a stop, the connections still open, and those waiting to be accepted, are
    /// read out as far as they arrived and reported. False when the bytes of a connection could
    /// not be saved, the state could not be written or the output failed.
    bool Run(const StopSignals& signals);

  private:
    using Clock = std::chrono::steady_clock;
    enum class Ending { Closed, Failed, Idle, Stopped };

    struct Printer {
        UniqueFd listener;           // invalid once no more connections are taken, and when stalled
        std::vector<UniqueFd> held;  // a stalled printer's listening socket and its backlog
        std::string name;
        ListenFault fault;
        PrinterState state;
        std::string stateText;  // its entry in the state file, as last written
        bool stateChanged = true;
    };
    struct Connection {
        UniqueFd fd;
        size_t printer = 0;
        std::string peer;                  // ADDR:PORT of the other end
        std::vector<unsigned char> bytes;  // the first kListenKeepBytes received
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
    void Finish(Connection& connection, Ending how, int error = 0);
    void Save(const Connection& connection);
    bool WriteState();
    void Stop();
    // The start of each printed line: the printer's name when there are several.
    std::string LinePrefix(size_t printer) const;

    int m_nCount;
    std::chrono::seconds m_idleTimeout;
    std::ostream& m_out;
    std::ostream& m_err;
    std::vector<Printer> m_printers;
    size_t m_nListening = 0;  // printers that take connections
    std::vector<Connection> m_connections;
    UniqueFd m_save;
    std::string m_saveName;
    bool m_bSaveFailed = false;
    bool m_bOutputFailed = false;
    std::string m_statePath;
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

// The printer stand-in's event loop: every listening socket and every connection, served in one
// thread by poll, each connection with its own state.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "UniqueHandle.h"

class StopSignals;

/// Bytes kept of one connection; what arrives past them is counted and dropped.
constexpr size_t kListenKeepBytes = 1024 * 1024;

/// The system's text for an errno value, in lower case to sit inside a sentence.
std::string ErrnoText(int code);

class ListenLoop {
  public:
    /// `count`: connections to serve, 0 for no limit; `idleTimeout`: how long a connection may
    /// stay silent before it is dropped.
    ListenLoop(int count, std::chrono::seconds idleTimeout, std::ostream& out, std::ostream& err);

    /// Adds a listening socket (non-blocking); `name` is ADDR:PORT as reported.
    void AddListener(UniqueFd fd, std::string name);
    /// Appends the bytes of every connection to this file (opened for appending) as it ends.
    void SaveTo(UniqueFd fd, std::string name);

    /// Serves until `count` connections are done or a stop signal came. On a stop, the
    /// connections still open, and those waiting to be accepted, are read out as far as they
    /// arrived and reported. False when the bytes of a connection could not be saved.
    bool Run(const StopSignals& signals);

  private:
    using Clock = std::chrono::steady_clock;
    enum class Ending { Closed, Failed, Idle, Stopped };

    struct Listener {
        UniqueFd fd;
        std::string name;
    };
    struct Connection {
        UniqueFd fd;
        std::string peer;                  // ADDR:PORT of the other end
        std::vector<unsigned char> bytes;  // the first kListenKeepBytes received
        uint64_t dropped = 0;              // bytes received past those
        Clock::time_point lastHeard;
        bool done = false;
    };

    bool Accepting() const;
    void AcceptFrom(Listener& listener, Clock::time_point now);
    // Takes what the socket has; false once the connection ended (then it is finished).
    bool Receive(Connection& connection, Clock::time_point now);
    void Keep(Connection& connection, const unsigned char* data, size_t size);
    void Finish(Connection& connection, Ending how, int error = 0);
    void Save(const Connection& connection);
    void Stop();

    int m_nCount;
    std::chrono::seconds m_idleTimeout;
    std::ostream& m_out;
    std::ostream& m_err;
    std::vector<Listener> m_listeners;
    std::vector<Connection> m_connections;
    UniqueFd m_save;
    std::string m_saveName;
    bool m_bSaveFailed = false;
    int m_nAccepted = 0;
    int m_nFinished = 0;
    // After a failed accept for want of descriptors or memory, the listeners rest until then.
    Clock::time_point m_acceptPause{};
    Clock::duration m_acceptBackoff{};
    std::vector<unsigned char> m_buffer;
};

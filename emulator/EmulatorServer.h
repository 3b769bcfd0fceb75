// Inside the emulator: its printers' sockets and the connections, on one Asio event loop. Only
// the emulator's own files include it (Emulator.cpp serves, EmulatorSockets.cpp listens).
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <filesystem>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/Emulator.h"
#include "emulator/StateFile.h"

class Emulator::Server {
  public:
    using Clock = std::chrono::steady_clock;
    using Tcp = asio::ip::tcp;

    Server(int count, std::chrono::seconds idleTimeout, EmulatorCallbacks callbacks);

    void StopOnSignals();
    bool Listen(const std::vector<PlannedPrinter>& printers,
                int port,
                std::string& where,
                std::error_code& error);
    bool WatchConditions(const std::string& path, std::string& problem);
    bool KeepStateIn(const std::string& path, std::vector<SavedPrinter> saved);
    bool Run();
    void StopFromElsewhere();

    int Port() const { return m_nPort; }
    size_t PrinterCount() const { return m_printers.size(); }
    uint32_t Address(size_t printer) const { return m_printers[printer].address; }

  private:
    // A printer the emulator stands in for, and what it has been sent.
    struct VirtualPrinter {
        explicit VirtualPrinter(Tcp::acceptor socket) : listener(std::move(socket)) {}
        Tcp::acceptor listener;         // closed once no more connections are taken
        std::vector<Tcp::socket> held;  // a stalled printer's backlog, never accepted
        Tcp::endpoint peer;             // of the accept under way
        bool accepting = false;         // an accept is under way
        uint32_t address = 0;
        std::string name;  // ADDR:PORT
        PrinterFault fault;
        PrinterCondition condition = PrinterCondition::None;
        PrinterState state;
        bool stateChanged = true;  // since its entry in the state file was made
    };
    struct Connection {
        explicit Connection(Tcp::socket s) : socket(std::move(s)) {}
        Tcp::socket socket;
        size_t printer = 0;
        std::string peer;                  // ADDR:PORT of the other end
        std::vector<unsigned char> bytes;  // the first kEmulatorKeepBytes received
        uint64_t dropped = 0;              // bytes received past those
        size_t scanned = 0;                // bytes looked through for status requests
        std::string answers;               // status bytes not yet handed to the socket
        std::string sending;               // status bytes being sent
        Clock::time_point readyAt;         // nothing is read before (slow printers)
        Clock::time_point lastHeard;
        bool reading = false;  // a read is under way
        bool writing = false;  // `sending` is under way
        bool done = false;
        std::list<std::shared_ptr<Connection>>::iterator entry;  // in m_connections
        unsigned char chunk[8192];                               // what the read under way takes
    };
    using ConnectionPtr = std::shared_ptr<Connection>;

    // EmulatorSockets.cpp: listening, and filling the stalled printers' backlogs.
    bool BindAll(const std::vector<PlannedPrinter>& printers,
                 int wanted,
                 std::vector<Tcp::acceptor>& bound,
                 std::string& failure,
                 std::error_code& error);
    void FillBacklogs(std::vector<size_t> stalled);

    // Emulator.cpp: serving.
    bool Accepting() const;
    void Accept(size_t printer);
    void Accepted(size_t printer, const std::error_code& error, Tcp::socket socket);
    void Take(size_t printer, Tcp::socket socket, Clock::time_point now);
    void RestAccepts(size_t printer, const std::error_code& error, Clock::time_point now);
    void ResumeAccepts();
    void CloseListeners();
    void Read(const ConnectionPtr& connection);
    void Received(const ConnectionPtr& connection, const std::error_code& error, size_t size);
    void Keep(Connection& connection, const unsigned char* data, size_t size);
    void Answer(const ConnectionPtr& connection);
    void SendAnswers(const ConnectionPtr& connection);
    void Flood(const ConnectionPtr& connection);
    void WatchClock(Clock::time_point when);
    void ClockStruck(Clock::time_point when);
    void Finish(Connection& connection, Delivery::Ending how, std::error_code error = {});
    void StateChanged();
    bool WriteState();
    // The conditions file: read again when its stamp changes.
    struct FileStamp {
        bool exists = false;
        std::filesystem::file_time_type time{};
        uintmax_t size = 0;
        bool operator==(const FileStamp& other) const {
            return exists == other.exists && time == other.time && size == other.size;
        }
    };
    static FileStamp StampOf(const std::string& path);
    bool ReadConditions(std::string& problem);
    void WatchConditionsFile();
    void Stop();
    void ReadOut(Connection& connection);

    int m_nCount;
    std::chrono::seconds m_idleTimeout;
    EmulatorCallbacks m_tell;
    // One thread runs the loop (a hint: Asio still locks, the signals come from elsewhere).
    asio::io_context m_io{1};
    std::optional<asio::signal_set> m_signals;
    int m_nPort = 0;
    std::vector<VirtualPrinter> m_printers;
    std::vector<PlannedPrinter> m_planned;  // every --bind address, with the conditions of --condition
    size_t m_nListening = 0;                // printers that take connections
    std::list<ConnectionPtr> m_connections;
    bool m_bStopAsked = false;  // by a signal or the delivered callback
    bool m_bDraining = false;   // stopping: no operation is started any more
    int m_nAccepted = 0;
    int m_nFinished = 0;
    // The next look at the connections: idle ones are dropped, slow ones begin to be read.
    asio::steady_timer m_clock{m_io};
    Clock::time_point m_clockAt = Clock::time_point::max();
    // After a failed accept for want of descriptors or memory, the listeners rest until then.
    asio::steady_timer m_acceptTimer{m_io};
    Clock::time_point m_acceptPause{};
    Clock::duration m_acceptBackoff{};
    // The state file, written by m_stateTimer at most every kStateInterval.
    std::unique_ptr<StateFile> m_state;
    asio::steady_timer m_stateTimer{m_io};
    bool m_bStateTimed = false;
    bool m_bStateChanged = false;
    bool m_bStateFailed = false;
    Clock::time_point m_nextStateWrite{};
    // The conditions file, looked at by m_conditionsTimer every kConditionsInterval.
    std::string m_conditionsPath;
    FileStamp m_conditionsStamp;
    asio::steady_timer m_conditionsTimer{m_io};
};

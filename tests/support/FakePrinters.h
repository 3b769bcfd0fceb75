// The tests' printers on loopback, in the test's own process: the emulator's virtual printers,
// served on a thread of their own, keeping what each connection delivered. Each has one of the
// emulator's faults (emulator/Faults.h; none: it reads each connection to its end) and answers
// status requests as the emulator does in its condition. Natively and on Windows.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/Faults.h"

class Emulator;
struct Delivery;

/// Printers on consecutive loopback addresses (127.0.0.1, .2, ... by default), all at one TCP
/// port, so that a range names them: socket://127.0.0.1-N:PORT.
class FakeFleet {
  public:
    /// The emulator's faults: None (a good printer), Refuse, Reset, Stall, Slow, Surplus, Flood,
    /// Banner.
    using Kind = PrinterFault::Kind;

    /// How one printer behaves: a fault (Slow with the milliseconds it waits before it reads)
    /// and the condition its status answers tell.
    struct Setup {
        Setup(Kind kind = Kind::None) : fault{kind, 0} {}            // NOLINT
        Setup(PrinterCondition condition) : condition(condition) {}  // NOLINT
        Setup(Kind kind, int slowMs) : fault{kind, slowMs} {}
        PrinterFault fault;
        PrinterCondition condition = PrinterCondition::None;
    };

    /// One printer of the fleet: what its connections delivered.
    class Printer {
      public:
        std::string Uri() const;
        /// The bytes of each connection that has ended, in the order they ended.
        std::vector<std::string> Received() const;
        /// Connections taken so far (a resetting printer's too), each counted as it ends.
        int Accepted() const;
        /// The bytes of the next connection not taken yet; false when none ended within
        /// `timeoutMs`.
        bool NextConnection(std::string& bytes, int timeoutMs);
        /// Waits `timeoutMs`, then answers how many connections ended that were not taken yet,
        /// and takes them.
        int CountConnections(int timeoutMs);

      private:
        friend class FakeFleet;
        FakeFleet* m_fleet = nullptr;
        std::string m_address;
        std::vector<std::string> m_received;
        int m_accepted = 0;
        size_t m_taken = 0;
    };

    /// Printers of `setups` from `first` on, at `port` (0: one free on every address). A test
    /// fails when they cannot listen; Listening() tells.
    explicit FakeFleet(const std::vector<Setup>& setups,
                       const std::string& first = "127.0.0.1",
                       int port = 0);
    ~FakeFleet();
    FakeFleet(const FakeFleet&) = delete;
    FakeFleet& operator=(const FakeFleet&) = delete;

    bool Listening() const { return m_port > 0; }
    /// Why they do not listen ("" when they do).
    const std::string& Failure() const { return m_failure; }
    int Port() const { return m_port; }
    size_t Size() const { return m_printers.size(); }
    Printer& operator[](size_t i) { return m_printers.at(i); }

  private:
    void Start(const std::vector<Setup>& setups, const std::string& first, int port);
    void Delivered(const Delivery& delivery);

    std::vector<Printer> m_printers;
    std::unique_ptr<Emulator> m_emulator;
    std::thread m_thread;
    int m_port = 0;
    std::string m_failure;
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
};

/// One printer with a fleet of its own, at 127.0.0.1 unless told otherwise.
class FakePrinter : public FakeFleet {
  public:
    explicit FakePrinter(Setup setup = {}, const std::string& address = "127.0.0.1", int port = 0)
        : FakeFleet({setup}, address, port) {}

    std::string Uri() const { return Self().Uri(); }
    std::vector<std::string> Received() const { return Self().Received(); }
    int Accepted() const { return Self().Accepted(); }
    bool NextConnection(std::string& bytes, int timeoutMs) {
        return (*this)[0].NextConnection(bytes, timeoutMs);
    }
    int CountConnections(int timeoutMs) { return (*this)[0].CountConnections(timeoutMs); }

  private:
    const Printer& Self() const { return const_cast<FakePrinter&>(*this)[0]; }
};

// The scan on Asio's event loop: non-blocking connects, up to `jobs` under way at once, each
// with its deadline; with a probe, the status request and the one byte that answers it.
#include "fleet/Scan.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <list>
#include <memory>

#include "commands/FixedCmds.h"
#include "fleet/StopRequest.h"
#include "system/ErrnoText.h"
#include "values/Values.h"

namespace {

using Clock = std::chrono::steady_clock;
using Tcp = asio::ip::tcp;

// Longest wait before the stop request is looked at again.
constexpr std::chrono::milliseconds kStopCheck(200);

// No socket for now, but there will be once some of those under way are closed. Compared as
// codes of the system's category, with no virtual call: with no descriptor left the sanitizers'
// first check of a type would fail. (ENFILE only ever comes from POSIX.)
bool OutOfSockets(const std::error_code& error) {
    return error == asio::error::no_descriptors || error == asio::error::no_buffer_space ||
           error == asio::error::no_memory ||
           error == std::error_code(ENFILE, asio::error::get_system_category());
}

class Scanner {
  public:
    Scanner(const std::vector<uint32_t>& addresses,
            const ScanSettings& settings,
            std::vector<ScanAnswer>& answers,
            const StopRequest* stop)
        : m_addresses(addresses),
          m_settings(settings),
          m_answers(answers),
          m_stop(stop),
          m_timeout(settings.timeoutMs),
          m_jobs(static_cast<size_t>(std::max(1, std::min(settings.jobs, kMaxScanJobs)))) {}

    bool Run(std::string& error) {
        if (Stopped()) {
            return true;
        }
        Continue();
        Watch(Clock::now() + kStopCheck);
        m_io.run();
        error = m_failure;
        return m_failure.empty();
    }

  private:
    // One address being tried: connecting, then (with a probe) waiting for the status byte.
    struct Attempt {
        explicit Attempt(asio::io_context& io) : socket(io) {}
        Tcp::socket socket;
        size_t index = 0;
        Clock::time_point deadline;
        unsigned char status = 0;
        bool done = false;
        std::list<std::shared_ptr<Attempt>>::iterator entry;  // in m_active
    };
    using AttemptPtr = std::shared_ptr<Attempt>;

    bool Stopped() const { return m_stop != nullptr && m_stop->Requested(); }

    // Starts attempts up to the number of jobs; ends the loop when all are done or no socket
    // can be made at all.
    void Continue() {
        const Clock::time_point now = Clock::now();
        Clock::time_point first = Clock::time_point::max();
        while (m_active.size() < m_jobs && m_next < m_addresses.size()) {
            const AttemptPtr attempt = std::make_shared<Attempt>(m_io);
            std::error_code error;
            attempt->socket.open(Tcp::v4(), error);
            if (error) {
                if (!m_active.empty() && OutOfSockets(error)) {
                    break;  // tried again once some of those under way are done
                }
                m_failure = "cannot make a socket: " + ErrorCodeText(error);
                m_io.stop();
                return;
            }
            attempt->index = m_next++;
            attempt->deadline = now + m_timeout;
            first = std::min(first, attempt->deadline);
            attempt->entry = m_active.insert(m_active.end(), attempt);
            const Tcp::endpoint endpoint(asio::ip::address_v4(m_addresses[attempt->index]),
                                         static_cast<unsigned short>(m_settings.tcpPort));
            attempt->socket.async_connect(
                endpoint, [this, attempt](const std::error_code& failure) { Connected(attempt, failure); });
        }
        if (m_active.empty()) {
            m_clock.cancel();  // every address is done: the loop ends
        } else {
            Watch(first);
        }
    }

    void Connected(const AttemptPtr& attempt, const std::error_code& error) {
        Attempt& a = *attempt;
        if (a.done) {
            return;  // out of time
        }
        if (!error) {
            // Without a probe that is all; with one the request goes out now.
            m_answers[a.index].open = true;
            std::error_code failure;
            if (m_settings.probe &&
                a.socket.send(asio::buffer(m_probe.GetData(), static_cast<size_t>(m_probe.GetLength())), 0,
                              failure) == static_cast<size_t>(m_probe.GetLength()) &&
                !failure) {
                a.deadline = Clock::now() + m_timeout;
                Watch(a.deadline);
                a.socket.async_read_some(asio::buffer(&a.status, 1),
                                         [this, attempt](const std::error_code& ended, size_t size) {
                                             Answered(attempt, ended, size);
                                         });
                return;
            }
        } else if (error == asio::error::connection_reset) {
            // A reset only ends a connection that was made: the port answered, then closed it
            // again before this saw it done.
            m_answers[a.index].open = true;
        }
        // Refused, unreachable, ...: nothing answers there.
        End(a);
        Continue();
    }

    void Answered(const AttemptPtr& attempt, const std::error_code& error, size_t size) {
        Attempt& a = *attempt;
        if (a.done) {
            return;
        }
        if (!error && size == 1) {
            m_answers[a.index].status = a.status;
        }
        End(a);  // the answer, or the end of the connection without one
        Continue();
    }

    void End(Attempt& attempt) {
        attempt.done = true;
        std::error_code ignored;
        attempt.socket.close(ignored);
        m_active.erase(attempt.entry);  // the handler under way still holds it
    }

    // The clock strikes at the next deadline, and at least every kStopCheck.
    void Watch(Clock::time_point when) {
        if (when >= m_clockAt) {
            return;
        }
        m_clockAt = when;
        m_clock.expires_at(when);
        m_clock.async_wait([this, when](const std::error_code& error) {
            if (!error) {
                Struck(when);
            }
        });
    }

    void Struck(Clock::time_point when) {
        if (when == m_clockAt) {
            m_clockAt = Clock::time_point::max();
        }
        if (Stopped()) {
            m_io.stop();  // what answered so far stands; a probe under way shows no status
            return;
        }
        if (m_active.empty() && m_next >= m_addresses.size()) {
            return;
        }
        const Clock::time_point now = Clock::now();
        for (auto it = m_active.begin(); it != m_active.end();) {
            const AttemptPtr attempt = *it++;  // End takes it out of the list
            if (now >= attempt->deadline) {
                End(*attempt);  // no connection, or no answer, in time
            }
        }
        Continue();
        Clock::time_point next = now + kStopCheck;
        for (const AttemptPtr& attempt : m_active) {
            next = std::min(next, attempt->deadline);
        }
        if (!m_active.empty()) {
            Watch(next);
        }
    }

    const std::vector<uint32_t>& m_addresses;
    const ScanSettings& m_settings;
    std::vector<ScanAnswer>& m_answers;
    const StopRequest* m_stop;
    const std::chrono::milliseconds m_timeout;
    const StatusRequestCmd m_probe{1};  // asks for the printer's status byte
    const size_t m_jobs;
    // One thread runs the loop (a hint to Asio, which still locks).
    asio::io_context m_io{1};
    asio::steady_timer m_clock{m_io};
    Clock::time_point m_clockAt = Clock::time_point::max();
    std::list<AttemptPtr> m_active;
    size_t m_next = 0;
    std::string m_failure;
};

}  // namespace

bool ScanAddresses(const std::vector<uint32_t>& addresses,
                   const ScanSettings& settings,
                   std::vector<ScanAnswer>& answers,
                   std::string& error,
                   const StopRequest* stop) {
    answers.assign(addresses.size(), ScanAnswer());
    for (size_t i = 0; i < addresses.size(); ++i) {
        answers[i].address = addresses[i];
    }
    try {
        Scanner scanner(addresses, settings, answers, stop);
        return scanner.Run(error);
    } catch (const std::system_error& failure) {
        // No event loop: no descriptors for it, or (Windows) no Windows Sockets.
        error = "cannot wait for the connections: " + ErrorCodeText(failure.code());
        return false;
    }
}

std::string ScanTargetName(uint32_t address, int tcpPort) {
    std::string target = "socket://" + FormatAddress(address);
    if (tcpPort != 9100) {
        target += ":" + std::to_string(tcpPort);
    }
    return target;
}

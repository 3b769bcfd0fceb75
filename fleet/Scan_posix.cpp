#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "ErrnoText.h"
#include "FixedCmds.h"
#include "Scan.h"
#include "StopRequest.h"
#include "UniqueHandle.h"

namespace {

using Clock = std::chrono::steady_clock;

// One address being tried: connecting, then (with a probe) waiting for the status byte.
struct Attempt {
    size_t index = 0;
    UniqueFd fd;
    Clock::time_point deadline;
    bool probing = false;
    bool done = false;
};

// Longest wait for the connections before the stop requests are looked at again.
constexpr std::chrono::milliseconds kLongestPoll(200);

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
    const auto timeout = std::chrono::milliseconds(settings.timeoutMs);
    const size_t jobs = static_cast<size_t>(std::max(1, std::min(settings.jobs, kMaxScanJobs)));

    const StatusRequestCmd probe(1);  // asks for the printer's status byte
    // The connect succeeded: without a probe that is all; with one the request goes out now.
    auto connected = [&](Attempt& attempt, Clock::time_point now) {
        answers[attempt.index].open = true;
        if (settings.probe &&
            ::send(attempt.fd.Get(), probe.GetData(), static_cast<size_t>(probe.GetLength()), MSG_NOSIGNAL) ==
                probe.GetLength()) {
            attempt.probing = true;
            attempt.deadline = now + timeout;
        } else {
            attempt.done = true;
        }
    };

    std::vector<Attempt> active;
    std::vector<pollfd> fds;
    size_t next = 0;
    while (next < addresses.size() || !active.empty()) {
        if (stop != nullptr && stop->Requested()) {
            break;  // what answered so far stands; a probe under way shows no status
        }
        const Clock::time_point now = Clock::now();
        while (active.size() < jobs && next < addresses.size()) {
            Attempt attempt;
            attempt.index = next;
            attempt.fd.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            if (!attempt.fd.Valid()) {
                if (!active.empty() &&
                    (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)) {
                    break;  // tried again once some of those under way are done
                }
                error = "cannot make a socket: " + ErrnoText(errno);
                return false;
            }
            ++next;
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<uint16_t>(settings.tcpPort));
            addr.sin_addr.s_addr = htonl(addresses[attempt.index]);
            attempt.deadline = now + timeout;
            if (::connect(attempt.fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                connected(attempt, now);
            } else if (errno != EINPROGRESS) {
                attempt.done = true;  // refused, unreachable, ...: nothing answers there
            }
            if (!attempt.done) {
                active.push_back(std::move(attempt));
            }
        }

        fds.clear();
        Clock::time_point wake = now + std::min<Clock::duration>(timeout, kLongestPoll);
        for (const Attempt& attempt : active) {
            fds.push_back({attempt.fd.Get(), static_cast<short>(attempt.probing ? POLLIN : POLLOUT), 0});
            wake = std::min(wake, attempt.deadline);
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count() + 1;
        if (::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, wait))) < 0 &&
            errno != EINTR) {
            error = "cannot wait for the connections: " + ErrnoText(errno);
            return false;
        }

        const Clock::time_point after = Clock::now();
        for (size_t i = 0; i < active.size(); ++i) {
            Attempt& attempt = active[i];
            if (fds[i].revents != 0 && !attempt.probing) {
                int soError = 0;
                socklen_t size = sizeof soError;
                ::getsockopt(attempt.fd.Get(), SOL_SOCKET, SO_ERROR, &soError, &size);
                if (soError == 0 && (fds[i].revents & POLLOUT) != 0) {
                    connected(attempt, after);
                } else if (soError == ECONNRESET) {
                    // A reset only ends a connection that was made: the port answered, then
                    // closed it again before this saw it done.
                    answers[attempt.index].open = true;
                    attempt.done = true;
                } else {
                    attempt.done = true;
                }
            } else if (fds[i].revents != 0) {
                unsigned char status = 0;
                const ssize_t got = ::recv(attempt.fd.Get(), &status, 1, MSG_DONTWAIT);
                if (got == 1) {
                    answers[attempt.index].status = status;
                    attempt.done = true;
                } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                    attempt.done = true;  // closed or reset without an answer
                }
            }
            if (!attempt.done && after >= attempt.deadline) {
                attempt.done = true;  // no connection, or no answer, in time
            }
        }
        active.erase(std::remove_if(active.begin(), active.end(), [](const Attempt& a) { return a.done; }),
                     active.end());
    }
    return true;
}

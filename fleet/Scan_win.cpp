// The scan through Windows Sockets: non-blocking connects watched with select, which (unlike
// WSAPoll on older systems) reports a refused connect in its exception set.
#define FD_SETSIZE 1024  // before winsock2.h: select's sets hold every connect under way
#include <winsock2.h>

#include <algorithm>
#include <chrono>

#include "FixedCmds.h"
#include "Scan.h"
#include "StopRequest.h"
#include "WinHandles.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Attempt {
    size_t index = 0;
    SOCKET socket = INVALID_SOCKET;
    Clock::time_point deadline;
    bool probing = false;
    bool done = false;
};

// Owns the sockets under way: whatever way the scan ends, each is closed once.
class Attempts {
  public:
    Attempts() = default;
    Attempts(const Attempts&) = delete;
    Attempts& operator=(const Attempts&) = delete;
    ~Attempts() {
        for (Attempt& attempt : list) {
            closesocket(attempt.socket);
        }
    }
    void RemoveDone() {
        for (Attempt& attempt : list) {
            if (attempt.done) {
                closesocket(attempt.socket);
            }
        }
        list.erase(std::remove_if(list.begin(), list.end(), [](const Attempt& a) { return a.done; }),
                   list.end());
    }
    std::vector<Attempt> list;
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
    const WinsockSession winsock(MAKEWORD(2, 2));  // for this scan
    if (!winsock.Started()) {
        error = "Windows Sockets did not start (error " + std::to_string(winsock.StartError()) + ")";
        return false;
    }
    const auto timeout = std::chrono::milliseconds(settings.timeoutMs);
    const size_t jobs = static_cast<size_t>(std::max(1, std::min({settings.jobs, kMaxScanJobs, FD_SETSIZE})));

    const StatusRequestCmd probe(1);  // asks for the printer's status byte
    auto connected = [&](Attempt& attempt, Clock::time_point now) {
        answers[attempt.index].open = true;
        if (settings.probe && send(attempt.socket, reinterpret_cast<const char*>(probe.GetData()),
                                   probe.GetLength(), 0) == probe.GetLength()) {
            attempt.probing = true;
            attempt.deadline = now + timeout;
        } else {
            attempt.done = true;
        }
    };

    Attempts active;
    size_t next = 0;
    while (next < addresses.size() || !active.list.empty()) {
        if (stop != nullptr && stop->Requested()) {
            break;  // what answered so far stands; a probe under way shows no status
        }
        const Clock::time_point now = Clock::now();
        while (active.list.size() < jobs && next < addresses.size()) {
            Attempt attempt;
            attempt.index = next;
            attempt.socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            u_long nonBlocking = 1;
            if (attempt.socket == INVALID_SOCKET || ioctlsocket(attempt.socket, FIONBIO, &nonBlocking) != 0) {
                const int code = WSAGetLastError();
                closesocket(attempt.socket);
                if (!active.list.empty() && code == WSAEMFILE) {
                    break;  // tried again once some of those under way are done
                }
                error = "cannot make a socket (error " + std::to_string(code) + ")";
                return false;
            }
            ++next;
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<u_short>(settings.tcpPort));
            addr.sin_addr.s_addr = htonl(addresses[attempt.index]);
            attempt.deadline = now + timeout;
            active.list.push_back(attempt);
            Attempt& added = active.list.back();
            if (connect(added.socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                connected(added, now);
            } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
                added.done = true;  // refused, unreachable, ...: nothing answers there
            }
        }
        active.RemoveDone();
        if (active.list.empty()) {
            continue;
        }

        fd_set writable, failed, readable;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_ZERO(&readable);
        Clock::time_point wake = now + std::min<Clock::duration>(timeout, kLongestPoll);
        for (const Attempt& attempt : active.list) {
            if (attempt.probing) {
                FD_SET(attempt.socket, &readable);
            } else {
                FD_SET(attempt.socket, &writable);
                FD_SET(attempt.socket, &failed);
            }
            wake = std::min(wake, attempt.deadline);
        }
        const long long wait = std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count() + 1);
        timeval limit{static_cast<long>(wait / 1000), static_cast<long>((wait % 1000) * 1000)};
        if (select(0, &readable, &writable, &failed, &limit) == SOCKET_ERROR) {
            error = "cannot wait for the connections (error " + std::to_string(WSAGetLastError()) + ")";
            return false;
        }

        const Clock::time_point after = Clock::now();
        for (Attempt& attempt : active.list) {
            if (!attempt.probing && FD_ISSET(attempt.socket, &writable)) {
                connected(attempt, after);
            } else if (!attempt.probing && FD_ISSET(attempt.socket, &failed)) {
                // Refused, unless it is a reset: that only ends a connection that was made (the
                // port answered, then closed it again before this saw it done).
                int soError = 0;
                int size = sizeof soError;
                getsockopt(attempt.socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &size);
                answers[attempt.index].open = soError == WSAECONNRESET;
                attempt.done = true;
            } else if (attempt.probing && FD_ISSET(attempt.socket, &readable)) {
                unsigned char status = 0;
                if (recv(attempt.socket, reinterpret_cast<char*>(&status), 1, 0) == 1) {
                    answers[attempt.index].status = status;
                }
                attempt.done = true;  // the answer, or the end of the connection without one
            }
            if (!attempt.done && after >= attempt.deadline) {
                attempt.done = true;
            }
        }
        active.RemoveDone();
    }
    return true;
}

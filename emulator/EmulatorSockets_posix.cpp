// The emulator's sockets: the listening socket of each printer, all on one port, and the
// connections that fill a stalled printer's backlog.
#include "Emulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "FileLimit.h"
#include "Values.h"

namespace {

// Rounds of connections that fill a stalled printer's backlog; Linux takes one connection into
// a backlog of 0, this many leaves room for a system that takes a few more.
constexpr int kFillRounds = 8;

// Descriptors the emulator keeps besides its printers' listening sockets and what it had open at
// the start: a few connections at a time and the state file while it is written (when these run
// out, accepts wait for a connection to end).
constexpr size_t kSpareDescriptors = 4;

sockaddr_in SocketAddress(uint32_t address, int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(address);
    return addr;
}

// A listening socket on `address`:`port` (0: any free port, answered in `port`); -1 with errno.
UniqueFd Listen(uint32_t address, int& port, int backlog) {
    UniqueFd server(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int on = 1;
    sockaddr_in addr = SocketAddress(address, port);
    if (!server.Valid() || ::setsockopt(server.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(server.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(server.Get(), backlog) != 0) {
        const int error = errno;
        server.Reset();
        errno = error;
        return server;
    }
    socklen_t size = sizeof addr;
    ::getsockname(server.Get(), reinterpret_cast<sockaddr*>(&addr), &size);
    port = ntohs(addr.sin_port);
    return server;
}

struct Bound {
    const PlannedPrinter* printer;
    UniqueFd fd;
    std::vector<UniqueFd> fillers;
};

// Connects to each stalled printer until its backlog takes no more: the connect that stays
// pending shows it is full. All printers are filled together, a round at a time.
void FillBacklogs(std::vector<Bound*>& stalled, int port) {
    for (int round = 0; round < kFillRounds && !stalled.empty(); ++round) {
        std::vector<pollfd> fds;
        for (Bound* bound : stalled) {
            UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            const sockaddr_in addr = SocketAddress(bound->printer->address, port);
            ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
            fds.push_back({fd.Get(), POLLOUT, 0});
            bound->fillers.push_back(std::move(fd));
        }
        // On loopback a connect that the backlog takes completes at once.
        const int deadline = 100;
        for (int waited = 0; waited < deadline; waited += 10) {
            ::poll(fds.data(), fds.size(), 10);
            bool all = true;
            for (const pollfd& p : fds) {
                all = all && p.revents != 0;
            }
            if (all) {
                break;
            }
        }
        std::vector<Bound*> again;
        for (size_t i = 0; i < stalled.size(); ++i) {
            int error = 0;
            socklen_t size = sizeof error;
            ::getsockopt(fds[i].fd, SOL_SOCKET, SO_ERROR, &error, &size);
            if (fds[i].revents != 0 && error == 0) {
                again.push_back(stalled[i]);  // taken: there may be room for more
            } else {
                stalled[i]->fillers.pop_back();  // pending: the backlog is full
            }
        }
        stalled = again;
    }
}

// Binds every printer that is not refused to the same port. With port 0 the first bind picks
// it; should another address have that port taken already, all start again with a new one.
bool BindAll(const std::vector<PlannedPrinter>& printers,
             int wanted,
             std::vector<Bound>& bound,
             int& port,
             std::string& failure,
             int& error) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        bound.clear();
        port = wanted;
        error = 0;
        for (const PlannedPrinter& printer : printers) {
            if (printer.fault.kind == PrinterFault::Kind::Refuse) {
                continue;
            }
            const bool stall = printer.fault.kind == PrinterFault::Kind::Stall;
            const int tried = port;
            UniqueFd fd = Listen(printer.address, port, stall ? 0 : SOMAXCONN);
            if (!fd.Valid()) {
                error = errno;
                failure = FormatAddress(printer.address) + ":" + std::to_string(tried);
                break;
            }
            bound.push_back({&printer, std::move(fd), {}});
        }
        if (error == 0) {
            return true;
        }
        if (wanted != 0 || error != EADDRINUSE || bound.empty()) {
            return false;
        }
    }
    return false;
}

}  // namespace

bool Emulator::Fits(const std::vector<PlannedPrinter>& printers, size_t& limit, size_t& fit) {
    limit = RaiseOpenFileLimit();
    size_t needed = 0;
    for (const PlannedPrinter& printer : printers) {
        needed += printer.fault.kind == PrinterFault::Kind::Refuse  ? 0
                  : printer.fault.kind == PrinterFault::Kind::Stall ? 2
                                                                    : 1;
    }
    const size_t kept = OpenDescriptorCount() + kSpareDescriptors;
    fit = limit > kept ? limit - kept : 0;
    return limit == 0 || needed <= fit;
}

bool Emulator::Listen(const std::vector<PlannedPrinter>& printers, int port, std::string& where, int& error) {
    std::vector<Bound> bound;
    if (!BindAll(printers, port, bound, m_nPort, where, error)) {
        return false;
    }
    std::vector<Bound*> stalled;
    for (Bound& b : bound) {
        if (b.printer->fault.kind == PrinterFault::Kind::Stall) {
            stalled.push_back(&b);
        }
    }
    FillBacklogs(stalled, m_nPort);

    for (Bound& b : bound) {
        VirtualPrinter printer;
        printer.address = b.printer->address;
        printer.name = FormatAddress(b.printer->address) + ":" + std::to_string(m_nPort);
        printer.fault = b.printer->fault;
        if (printer.fault.kind == PrinterFault::Kind::Stall) {
            // Its listening socket stays with its backlog full, and is never accepted from.
            printer.held = std::move(b.fillers);
            printer.held.push_back(std::move(b.fd));
        } else {
            printer.listener = std::move(b.fd);
            ++m_nListening;
        }
        m_printers.push_back(std::move(printer));
    }
    return true;
}

#include "Listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <ostream>

#include "AddressRange.h"
#include "ErrnoText.h"
#include "FileLimit.h"
#include "ListenLoop.h"
#include "StopSignals.h"
#include "Tolctl.h"
#include "Values.h"

namespace {

// Up to this many printers, "listening on" has a line for each; more share one line.
constexpr size_t kListedPrinters = 16;

// Rounds of connections that fill a stalled printer's backlog; Linux takes one connection into
// a backlog of 0, this many leaves room for a system that takes a few more.
constexpr int kFillRounds = 8;

// Descriptors a listener keeps besides its printers' listening sockets and what it had open at
// the start: a few connections at a time and the state file while it is written (when these run
// out, accepts wait for a connection to end).
constexpr size_t kSpareDescriptors = 4;

// True when this process may listen for all `printers`, after raising its limit of open files as
// far as the system allows (a listener of 256 printers with hundreds of connections needs more
// than the usual soft limit of 1024); else `fit` says how many printers would. A stalled printer
// also holds the connection that fills its backlog.
bool AllFit(const std::vector<VirtualPrinter>& printers, size_t& limit, size_t& fit) {
    limit = RaiseOpenFileLimit();
    size_t needed = 0;
    for (const VirtualPrinter& printer : printers) {
        needed += printer.fault.kind == ListenFault::Kind::Refuse  ? 0
                  : printer.fault.kind == ListenFault::Kind::Stall ? 2
                                                                   : 1;
    }
    const size_t kept = OpenDescriptorCount() + kSpareDescriptors;
    fit = limit > kept ? limit - kept : 0;
    return limit == 0 || needed <= fit;
}

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
    const VirtualPrinter* printer;
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
bool BindAll(const std::vector<VirtualPrinter>& printers,
             int wanted,
             std::vector<Bound>& bound,
             int& port,
             std::string& failure,
             int& error) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        bound.clear();
        port = wanted;
        error = 0;
        for (const VirtualPrinter& printer : printers) {
            if (printer.fault.kind == ListenFault::Kind::Refuse) {
                continue;
            }
            const bool stall = printer.fault.kind == ListenFault::Kind::Stall;
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

int RunListener(const ListenOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<VirtualPrinter> printers;
    std::string problem;
    if (!PlanPrinters(options.bind, options.faults, printers, problem)) {
        err << "tolctl: listen " << problem << '\n';
        return kExitUsage;
    }
    UniqueFd save;
    if (!options.saveFile.empty()) {
        save.Reset(::open(options.saveFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
        if (!save.Valid()) {
            const int error = errno;
            err << "tolctl: listen --save: cannot open '" << options.saveFile << "': " << ErrnoText(error)
                << '\n';
            return kExitUsage;
        }
    }
    size_t limit = 0, fit = 0;
    if (!AllFit(printers, limit, fit)) {
        err << "tolctl: listen --bind: " << printers.size()
            << " printers need more open files than this process may have (" << limit << "); " << fit
            << " fit\n";
        return kExitUsage;
    }

    // From the moment it says it listens, Ctrl-C must find the handler in place.
    StopSignals signals;
    ListenLoop loop(options.count, std::chrono::seconds(options.idleTimeout), out, err);

    std::vector<Bound> bound;
    int port = 0;
    std::string where;
    int error = 0;
    if (!BindAll(printers, options.port, bound, port, where, error)) {
        err << "tolctl: listen " << where << " : " << ErrnoText(error) << '\n';
        return kExitPort;
    }
    std::vector<Bound*> stalled;
    for (Bound& b : bound) {
        if (b.printer->fault.kind == ListenFault::Kind::Stall) {
            stalled.push_back(&b);
        }
    }
    FillBacklogs(stalled, port);

    std::vector<uint32_t> listened;
    for (Bound& b : bound) {
        std::string name = FormatAddress(b.printer->address) + ":" + std::to_string(port);
        if (b.printer->fault.kind == ListenFault::Kind::Stall) {
            loop.AddStalledPrinter(std::move(b.fd), std::move(b.fillers), std::move(name));
        } else {
            loop.AddPrinter(std::move(b.fd), std::move(name), b.printer->fault);
        }
        listened.push_back(b.printer->address);
    }
    if (save.Valid()) {
        loop.SaveTo(std::move(save), options.saveFile);
    }
    if (!options.stateFile.empty() && !loop.StateTo(options.stateFile)) {
        return kExitUsage;
    }

    if (listened.size() <= kListedPrinters) {
        for (const uint32_t address : listened) {
            out << "listening on " << FormatAddress(address) << ":" << port << '\n';
        }
    } else {
        out << "listening on " << FormatAddressSpan(listened) << ":" << port << " (" << listened.size()
            << " printers)\n";
    }
    out.flush();
    if (!out) {
        return kExitPort;  // nobody would see what arrives; RunTolctl says why
    }
    return loop.Run(signals) ? kExitOk : kExitPort;
}

#include "Listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <ostream>
#include <vector>

#include "Decode.h"
#include "Messenger.h"
#include "Tolctl.h"
#include "Values.h"

namespace {

volatile sig_atomic_t g_nStopSignal = 0;

void OnStopSignal(int signal) {
    g_nStopSignal = signal;
}

std::string ErrnoText(int code) {
    std::string text = std::strerror(code);
    if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text;
}

// While it lives, SIGINT and SIGTERM set g_nStopSignal instead of ending the process. They stay
// blocked except inside Wait's ppoll, so a signal cannot slip in between a check of the flag
// and the wait.
class StopSignals {
  public:
    StopSignals() {
        g_nStopSignal = 0;
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_oldInt);
        sigaction(SIGTERM, &action, &m_oldTerm);
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGINT);
        sigaddset(&block, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &block, &m_oldMask);
        m_waitMask = m_oldMask;
        sigdelset(&m_waitMask, SIGINT);
        sigdelset(&m_waitMask, SIGTERM);
    }
    ~StopSignals() {
        pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    /// Waits until `fd` is readable: true, or false once a stop signal came.
    bool Wait(int fd) const {
        // The flag is looked at again now and then: in a program with more threads the signal
        // may be handled by another one, and then this ppoll is not interrupted.
        const timespec recheck{0, 200 * 1000 * 1000};
        while (g_nStopSignal == 0) {
            pollfd pfd{fd, POLLIN, 0};
            if (ppoll(&pfd, 1, &recheck, &m_waitMask) > 0) {
                return true;
            }
        }
        return false;
    }

  private:
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    sigset_t m_oldMask;
    sigset_t m_waitMask;
};

// Reads one connection until the peer closes it (or resets it). False when stopped meanwhile.
bool ReadConnection(int fd, const StopSignals& signals, std::vector<unsigned char>& bytes) {
    unsigned char buffer[4096];
    for (;;) {
        if (!signals.Wait(fd)) {
            return false;
        }
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            bytes.insert(bytes.end(), buffer, buffer + got);
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
            return true;
        }
    }
}

}  // namespace

int RunListener(const ListenOptions& options, std::ostream& out, std::ostream& err) {
    uint32_t address = 0;
    if (!ParseAddress(options.bind, address)) {
        err << "tolctl: listen --bind: '" << options.bind << "' is not an IPv4 address\n";
        return kExitUsage;
    }
    std::ofstream save;
    if (!options.saveFile.empty()) {
        save.open(options.saveFile, std::ios::binary | std::ios::app);
        if (!save) {
            err << "tolctl: listen --save: cannot open '" << options.saveFile << "'\n";
            return kExitUsage;
        }
    }

    const std::string where = options.bind + ":" + std::to_string(options.port);
    UniqueFd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(options.port));
    addr.sin_addr.s_addr = htonl(address);
    if (!server.Valid() || ::setsockopt(server.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(server.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(server.Get(), 16) != 0) {
        err << "tolctl: listen " << where << " : " << ErrnoText(errno) << '\n';
        return kExitPort;
    }
    socklen_t size = sizeof addr;
    ::getsockname(server.Get(), reinterpret_cast<sockaddr*>(&addr), &size);
    out << "listening on " << options.bind << ':' << ntohs(addr.sin_port) << std::endl;

    StopSignals signals;
    for (int served = 0; options.count == 0 || served < options.count; ++served) {
        if (!signals.Wait(server.Get())) {
            break;
        }
        UniqueFd peer(::accept4(server.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!peer.Valid()) {
            --served;  // the peer gave up before it was accepted
            continue;
        }
        std::vector<unsigned char> bytes;
        if (!ReadConnection(peer.Get(), signals, bytes)) {
            break;
        }
        if (save.is_open()) {
            save.write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            save.flush();
        }
        for (const std::string& line : DecodeCommands(bytes)) {
            out << line << '\n';
        }
        out.flush();
    }
    return kExitOk;
}

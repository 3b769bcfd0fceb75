#include "Listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <ostream>

#include "ListenLoop.h"
#include "StopSignals.h"
#include "Tolctl.h"
#include "Values.h"

int RunListener(const ListenOptions& options, std::ostream& out, std::ostream& err) {
    uint32_t address = 0;
    if (!ParseAddress(options.bind, address)) {
        err << "tolctl: listen --bind: '" << options.bind << "' is not an IPv4 address\n";
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

    // From the moment it says it listens, Ctrl-C must find the handler in place.
    StopSignals signals;
    ListenLoop loop(options.count, std::chrono::seconds(options.idleTimeout), out, err);

    const std::string where = options.bind + ":" + std::to_string(options.port);
    UniqueFd server(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int on = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(options.port));
    addr.sin_addr.s_addr = htonl(address);
    if (!server.Valid() || ::setsockopt(server.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(server.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(server.Get(), SOMAXCONN) != 0) {
        const int error = errno;
        err << "tolctl: listen " << where << " : " << ErrnoText(error) << '\n';
        return kExitPort;
    }
    socklen_t size = sizeof addr;
    ::getsockname(server.Get(), reinterpret_cast<sockaddr*>(&addr), &size);
    const std::string name = options.bind + ":" + std::to_string(ntohs(addr.sin_port));
    out << "listening on " << name << std::endl;

    loop.AddListener(std::move(server), name);
    if (save.Valid()) {
        loop.SaveTo(std::move(save), options.saveFile);
    }
    return loop.Run(signals) ? kExitOk : kExitPort;
}

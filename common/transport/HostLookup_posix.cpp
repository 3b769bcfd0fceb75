#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "transport/HostLookup.h"

bool LookUpIpv4(const std::string& host, uint32_t& address, std::string&) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const bool ok = getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found != nullptr;
    if (ok) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
        address = ntohl(ipv4->sin_addr.s_addr);
    }
    if (found != nullptr) {
        freeaddrinfo(found);
    }
    return ok;
}

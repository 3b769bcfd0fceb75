#include "PortUri.h"

#include <cstring>

#ifdef _WIN32
#include <ws2tcpip.h>

#include "WinHandles.h"
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "PortFactory.h"
#include "Values.h"

bool ParseTcpPort(const std::string& text, int& port, std::string& error) {
    int64_t value = 0;
    std::string problem;
    if (!ParseDecimal(text, 1, 65535, value, problem)) {
        error = "TCP port: " + problem;
        return false;
    }
    port = static_cast<int>(value);
    return true;
}

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

bool ParseSocket(const std::string& rest, PortUri& uri, std::string& error) {
    const size_t colon = rest.rfind(':');
    uri.host = rest.substr(0, colon);
    if (colon != std::string::npos && !ParseTcpPort(rest.substr(colon + 1), uri.tcpPort, error)) {
        return false;
    }
    // Checked here, before anything is resolved: a resolver would read "127.1" or "0x7f.0.0.1"
    // as some address of its own choosing.
    const std::string problem = CheckHost(uri.host);
    if (!problem.empty()) {
        error = "host: " + problem;
        return false;
    }
    return true;
}

bool ParseSerial(const std::string& rest, PortUri& uri, std::string& error) {
    const size_t query = rest.find('?');
    uri.device = rest.substr(0, query);
    if (uri.device.empty()) {
        error = "serial: needs a device, like serial:/dev/ttyS0?baud=9600";
        return false;
    }
    if (query != std::string::npos) {
        const std::string option = rest.substr(query + 1);
        int64_t baud = 0;
        std::string problem;
        if (!StartsWith(option, "baud=") || !ParseDecimal(option.substr(5), 1, 115200, baud, problem) ||
            BaudIndex(static_cast<int>(baud)) < 0) {
            error = ShownText(option) + ": the only option is baud=9600|19200|38400|57600|115200";
            return false;
        }
        uri.baud = static_cast<int>(baud);
    }
    return true;
}

}  // namespace

int BaudIndex(int baud) {
    for (int i = 0; i < kBaudRateCount; ++i) {
        if (kBaudRates[i] == baud) {
            return i;
        }
    }
    return -1;
}

bool ParsePortUri(const std::string& text, bool windowsNames, PortUri& uri, std::string& error) {
    uri = PortUri();
    if (StartsWith(text, "socket://")) {
        uri.kind = PortUri::Kind::Socket;
        return ParseSocket(text.substr(9), uri, error);
    }
    // A bare address, A.B.C.D[:PORT], is the printer on TCP; its form is checked as socket://'s.
    const std::string host = text.substr(0, text.rfind(':'));
    if (!host.empty() && host.find('.') != std::string::npos &&
        host.find_first_not_of("0123456789.") == std::string::npos) {
        uri.kind = PortUri::Kind::Socket;
        return ParseSocket(text, uri, error);
    }
    if (StartsWith(text, "serial:")) {
        uri.kind = PortUri::Kind::Serial;
        return ParseSerial(text.substr(7), uri, error);
    }
    if (StartsWith(text, "parallel:")) {
        uri.kind = PortUri::Kind::Parallel;
        uri.device = text.substr(9);
        if (uri.device.empty()) {
            error = "parallel: needs a device, like parallel:/dev/lp0";
            return false;
        }
        return true;
    }
    if (StartsWith(text, "usb:")) {
        uri.kind = PortUri::Kind::Usb;
        uri.device = text.substr(4);
        if (windowsNames && !uri.device.empty()) {
            error = "a USB device cannot be named here; use usb: or USB001";
            return false;
        }
        return true;
    }
    if (windowsNames) {
        static const char* const kNames[] = {"USB001", "LPT1", "LPT2", "LPT3", "COM1", "COM2"};
        const std::string name = UpperCase(text);
        for (int i = 0; i < 6; ++i) {
            if (name == kNames[i]) {
                uri.kind = PortUri::Kind::PortIndex;
                uri.portIndex = i;
                return true;
            }
        }
    }
    error = ShownText(text) +
            " is not a port; use socket://HOST[:PORT], serial:DEVICE?baud=N, parallel:DEVICE, usb:" +
            std::string(windowsNames ? ", USB001, LPT1-LPT3, COM1 or COM2" : " or usb:DEVICE");
    return false;
}

std::string PrinterName(const PortUri& uri) {
    static const char* const kIndexNames[] = {"USB001", "LPT1", "LPT2", "LPT3", "COM1", "COM2"};
    switch (uri.kind) {
        case PortUri::Kind::Socket: {
            uint32_t address = 0;
            const std::string host =
                ParseAddress(uri.host, address) ? FormatAddress(address) : LowerCase(uri.host);
            return "socket://" + host + ":" + std::to_string(uri.tcpPort);
        }
        case PortUri::Kind::Serial:
            return "serial:" + uri.device;
        case PortUri::Kind::Parallel:
            return "parallel:" + uri.device;
        case PortUri::Kind::Usb:
            return "usb:" + uri.device;
        case PortUri::Kind::PortIndex:
            break;
    }
    return uri.portIndex >= 0 && uri.portIndex < 6 ? kIndexNames[uri.portIndex] : "?";
}

bool ResolveIpv4(const std::string& host, uint32_t& address, std::string& error) {
    if (ParseAddress(host, address)) {
        return true;
    }
    // Only names reach the resolver; numeric shorthand it would read in its own way is refused.
    const std::string problem = CheckHost(host);
    if (!problem.empty()) {
        error = problem;
        return false;
    }
#ifdef _WIN32
    const WinsockSession winsock(MAKEWORD(2, 2));
    if (!winsock.Started()) {
        error = "cannot start Windows Sockets";
        return false;
    }
#endif
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const bool ok = getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found != nullptr;
    if (ok) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
        address = ntohl(ipv4->sin_addr.s_addr);
    } else {
        error = "cannot resolve " + ShownText(host) + " to an IPv4 address";
    }
    if (found != nullptr) {
        freeaddrinfo(found);
    }
    return ok;
}

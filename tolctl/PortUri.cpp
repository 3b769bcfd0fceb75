#include "PortUri.h"

#include <cctype>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "PortFactory.h"
#include "Values.h"

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// A decimal number of 1 to 9 digits, nothing else.
bool ParseNumber(const std::string& text, int& value) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return true;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

bool ParseSocket(const std::string& rest, PortUri& uri, std::string& error) {
    const size_t colon = rest.rfind(':');
    uri.host = rest.substr(0, colon);
    if (colon != std::string::npos) {
        int port = 0;
        if (!ParseNumber(rest.substr(colon + 1), port) || port < 1 || port > 65535) {
            error = "'" + rest.substr(colon + 1) + "' is not a TCP port (1-65535)";
            return false;
        }
        uri.tcpPort = port;
    }
    if (uri.host.empty() || uri.host.find_first_of("/?[]@ ") != std::string::npos) {
        error = "'" + uri.host + "' is not a host (an IPv4 address or a name)";
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
        int baud = 0;
        if (!StartsWith(option, "baud=") || !ParseNumber(option.substr(5), baud) || BaudIndex(baud) < 0) {
            error = "'" + option + "': the only option is baud=9600|19200|38400|57600|115200";
            return false;
        }
        uri.baud = baud;
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
        const std::string name = Upper(text);
        for (int i = 0; i < 6; ++i) {
            if (name == kNames[i]) {
                uri.kind = PortUri::Kind::PortIndex;
                uri.portIndex = i;
                return true;
            }
        }
    }
    error = "'" + text +
            "' is not a port; use socket://HOST[:PORT], serial:DEVICE?baud=N, parallel:DEVICE, usb:" +
            std::string(windowsNames ? ", USB001, LPT1-LPT3, COM1 or COM2" : " or usb:DEVICE");
    return false;
}

bool ResolveIpv4(const std::string& host, uint32_t& address, std::string& error) {
    if (ParseAddress(host, address)) {
        return true;
    }
#ifdef _WIN32
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
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
        error = "cannot resolve '" + host + "' to an IPv4 address";
    }
    if (found != nullptr) {
        freeaddrinfo(found);
    }
#ifdef _WIN32
    WSACleanup();
#endif
    return ok;
}

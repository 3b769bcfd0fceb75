#include "transport/PortUri.h"

#include <cstring>
#include <vector>

#include "transport/HostLookup.h"
#include "transport/PortFactory.h"
#include "values/Values.h"

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
            error = ShownText(option) + ": the only option is baud=" + BaudRatesText("|", "|");
            return false;
        }
        uri.baud = static_cast<int>(baud);
    }
    return true;
}

}  // namespace

std::string BaudRatesText(const char* separator, const char* last) {
    std::string text;
    for (int i = 0; i < kBaudRateCount; ++i) {
        text += (i == 0 ? "" : i + 1 == kBaudRateCount ? last : separator) + std::to_string(kBaudRates[i]);
    }
    return text;
}

std::string PortIndexNamesText(int from, int to, const char* separator, const char* last) {
    // A name's letters, and its number.
    auto kind = [](int i) { return std::string(kPortIndexNames[i]).substr(0, 3); };
    std::vector<std::string> shown;
    for (int i = from; i <= to; ++i) {
        int end = i;
        while (end + 1 <= to && kind(end + 1) == kind(i)) {
            ++end;
        }
        if (end - i >= 2) {
            shown.push_back(std::string(kPortIndexNames[i]) + "-" + kPortIndexNames[end]);
            i = end;
        } else {
            shown.push_back(kPortIndexNames[i]);
        }
    }
    std::string text;
    for (size_t i = 0; i < shown.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == shown.size() ? last : separator) + shown[i];
    }
    return text;
}

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
        const std::string name = UpperCase(text);
        for (int i = kPortUsb; i <= kPortCom2; ++i) {
            if (name == kPortIndexNames[i]) {
                uri.kind = PortUri::Kind::PortIndex;
                uri.portIndex = i;
                return true;
            }
        }
    }
    error = ShownText(text) +
            " is not a port; use socket://HOST[:PORT], serial:DEVICE?baud=N, parallel:DEVICE, usb:" +
            (windowsNames ? ", " + PortIndexNamesText(kPortUsb, kPortCom2, ", ", " or ") : " or usb:DEVICE");
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
    if (!LookUpIpv4(host, address, error)) {
        error = error.empty() ? "cannot resolve " + ShownText(host) + " to an IPv4 address" : error;
        return false;
    }
    return true;
}

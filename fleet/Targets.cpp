#include "Targets.h"

#include <map>

#include "AddressRange.h"
#include "Values.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The words of one line; false with `error` when a quote is not closed.
bool SplitWords(const std::string& line, std::vector<std::string>& words, std::string& error) {
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        if (i >= line.size() || line[i] == '#') {
            break;  // the rest of the line is a comment
        }
        std::string word;
        while (i < line.size() && !IsBlank(line[i])) {
            if (line[i] != '"') {
                word += line[i++];
                continue;
            }
            // A quoted part: blanks and '#' are text; \" and \\ stand for " and \.
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
                    word += line[i + 1];
                    i += 2;
                } else if (line[i] == '"') {
                    ++i;
                    closed = true;
                    break;
                } else {
                    word += line[i++];
                }
            }
            if (!closed) {
                error = "a quote is not closed";
                return false;
            }
        }
        words.push_back(word);
    }
    return true;
}

// A device as the system names it: on Windows "\\.\com1" and "COM1" are one port.
std::string DeviceName(const std::string& device) {
#ifdef _WIN32
    const std::string prefix = "\\\\.\\";
    return UpperCase(device.compare(0, prefix.size(), prefix) == 0 ? device.substr(prefix.size()) : device);
#else
    return device;
#endif
}

}  // namespace

void ParseTargetsText(const std::string& text,
                      const std::string& origin,
                      std::vector<TargetLine>& lines,
                      std::vector<std::string>& errors) {
    size_t start = 0;
    // A UTF-8 byte order mark, as some editors write it, is not part of the first target.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        start = 3;
    }
    int number = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        const std::string where = origin + ":" + std::to_string(number);
        std::vector<std::string> words;
        std::string error;
        if (!SplitWords(line, words, error)) {
            errors.push_back(where + ": " + error);
            continue;
        }
        if (words.empty()) {
            continue;
        }
        TargetLine target;
        target.origin = where;
        target.target = words[0];
        target.overrides.assign(words.begin() + 1, words.end());
        lines.push_back(std::move(target));
    }
}

bool ExpandTarget(const std::string& text,
                  bool windowsNames,
                  std::vector<Target>& targets,
                  std::string& error) {
    const std::string scheme = "socket://";
    if (text.compare(0, scheme.size(), scheme) == 0) {
        const std::string rest = text.substr(scheme.size());
        const size_t colon = rest.rfind(':');
        const std::string host = rest.substr(0, colon);
        if (LooksLikeAddressRange(host)) {
            int tcpPort = 9100;
            if (colon != std::string::npos && !ParseTcpPort(rest.substr(colon + 1), tcpPort, error)) {
                return false;
            }
            std::vector<uint32_t> addresses;
            if (!ParseAddressRange(host, addresses, error)) {
                return false;
            }
            const std::string portSuffix = colon == std::string::npos ? "" : ":" + std::to_string(tcpPort);
            for (uint32_t address : addresses) {
                Target target;
                target.port.kind = PortUri::Kind::Socket;
                target.port.host = FormatAddress(address);
                target.port.tcpPort = tcpPort;
                target.name = scheme + target.port.host + portSuffix;
                targets.push_back(std::move(target));
            }
            return true;
        }
    }
    Target target;
    if (!ParsePortUri(text, windowsNames, target.port, error)) {
        return false;
    }
    target.name = text;
    switch (target.port.kind) {
        case PortUri::Kind::Socket:
            break;
        case PortUri::Kind::Usb:
            target.device = "usb";  // the search may find any of them: one USB printer at a time
            break;
        case PortUri::Kind::PortIndex:
            target.device = target.port.portIndex == 0 ? "usb" : TargetIdentity(target);
            break;
        default:
            target.device = TargetIdentity(target);
            break;
    }
    targets.push_back(std::move(target));
    return true;
}

std::string TargetIdentity(const Target& target) {
    static const char* const kIndexNames[] = {"usb:", "LPT1", "LPT2", "LPT3", "COM1", "COM2"};
    const PortUri& port = target.port;
    switch (port.kind) {
        case PortUri::Kind::Socket: {
            // An address by its value, so that no second way of writing it makes a second printer.
            uint32_t address = 0;
            const std::string host =
                ParseAddress(port.host, address) ? FormatAddress(address) : LowerCase(port.host);
            return "socket://" + host + ":" + std::to_string(port.tcpPort);
        }
        case PortUri::Kind::Serial:
        case PortUri::Kind::Parallel:
            return DeviceName(port.device);
        case PortUri::Kind::Usb:
            return "usb:" + port.device;
        case PortUri::Kind::PortIndex:
            return port.portIndex >= 0 && port.portIndex < 6 ? kIndexNames[port.portIndex] : "?";
    }
    return target.name;
}

std::vector<std::vector<size_t>> TargetLanes(size_t count,
                                             const std::function<const Target&(size_t)>& targetOf) {
    std::vector<std::vector<size_t>> lanes;
    std::map<std::string, size_t> deviceLanes;
    for (size_t i = 0; i < count; ++i) {
        const std::string& device = targetOf(i).device;
        if (device.empty()) {
            lanes.push_back({i});
            continue;
        }
        const auto lane = deviceLanes.emplace(device, lanes.size());
        if (lane.second) {
            lanes.emplace_back();
        }
        lanes[lane.first->second].push_back(i);
    }
    return lanes;
}

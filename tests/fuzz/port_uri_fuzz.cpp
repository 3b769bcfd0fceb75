// The --port parser on any text. What it accepts is well formed, prints back to the same port,
// and a host it accepts is never one that a resolver would read as a number.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/FuzzCheck.h"
#include "transport/PortUri.h"
#include "values/Values.h"

namespace {

bool SamePort(const PortUri& a, const PortUri& b) {
    return a.kind == b.kind && a.host == b.host && a.tcpPort == b.tcpPort && a.device == b.device &&
           a.baud == b.baud && a.portIndex == b.portIndex;
}

// The port written back in --port's own syntax.
std::string Written(const PortUri& uri) {
    static const char* const kNames[] = {"USB001", "LPT1", "LPT2", "LPT3", "COM1", "COM2"};
    switch (uri.kind) {
        case PortUri::Kind::Socket:
            return "socket://" + uri.host + ":" + std::to_string(uri.tcpPort);
        case PortUri::Kind::Serial:
            return "serial:" + uri.device + (uri.baud != 0 ? "?baud=" + std::to_string(uri.baud) : "");
        case PortUri::Kind::Parallel:
            return "parallel:" + uri.device;
        case PortUri::Kind::Usb:
            return "usb:" + uri.device;
        case PortUri::Kind::PortIndex:
            return kNames[uri.portIndex];
    }
    return std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool windowsNames = (data[0] & 1) != 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    PortUri uri;
    std::string error;
    if (!ParsePortUri(text, windowsNames, uri, error)) {
        FUZZ_CHECK(!error.empty(), "refused without a reason");
        FUZZ_CHECK(error.size() < 300, "the message repeats a long value: " + error);
        return 0;
    }
    FUZZ_CHECK(error.empty(), "accepted with an error: " + error);
    switch (uri.kind) {
        case PortUri::Kind::Socket: {
            FUZZ_CHECK(uri.tcpPort >= 1 && uri.tcpPort <= 65535, text);
            FUZZ_CHECK(CheckHost(uri.host).empty(), text);
            uint32_t address = 0;
            if (!ParseAddress(uri.host, address)) {
                // A name: the resolver must not be able to read it as an address of its own.
                in_addr numeric{};
                FUZZ_CHECK(inet_aton(uri.host.c_str(), &numeric) == 0,
                           "a resolver reads as a number: " + uri.host);
                FUZZ_CHECK(!IsNumericHost(uri.host), uri.host);
            }
            break;
        }
        case PortUri::Kind::Serial:
            FUZZ_CHECK(!uri.device.empty(), text);
            FUZZ_CHECK(uri.baud == 0 || BaudIndex(uri.baud) >= 0, text);
            break;
        case PortUri::Kind::Parallel:
            FUZZ_CHECK(!uri.device.empty(), text);
            break;
        case PortUri::Kind::Usb:
            FUZZ_CHECK(!windowsNames || uri.device.empty(), text);
            break;
        case PortUri::Kind::PortIndex:
            FUZZ_CHECK(windowsNames && uri.portIndex >= 0 && uri.portIndex <= 5, text);
            break;
    }
    PortUri again;
    const std::string written = Written(uri);
    FUZZ_CHECK(ParsePortUri(written, windowsNames, again, error), written + ": " + error);
    FUZZ_CHECK(SamePort(uri, again), text + " -> " + written);
    return 0;
}

#include "tests/wine/WineBench.h"

#include <cstdio>
#include <cstdlib>

#include "system/WinHandles.h"

namespace wine_bench {

namespace {

int BenchPort() {
    const char* port = std::getenv("TOL_BENCH_PORT");
    return port != nullptr ? std::atoi(port) : 0;
}

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

std::string Unhex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// A reply is complete once its last line is the verdict: "ok" or "error: ...".
bool Complete(const std::string& reply) {
    if (reply.empty() || reply.back() != '\n') {
        return false;
    }
    const size_t start = reply.rfind('\n', reply.size() - 2);
    const std::string last = reply.substr(start == std::string::npos ? 0 : start + 1);
    return last == "ok\n" || last.compare(0, 6, "error:") == 0;
}

std::string Exchange(SOCKET s, const std::string& request) {
    const std::string line = request + "\n";
    if (send(s, line.data(), static_cast<int>(line.size()), 0) != static_cast<int>(line.size())) {
        return "error: send failed";
    }
    shutdown(s, SD_SEND);
    std::string reply;
    char buffer[4096];
    int got;
    // Up to the verdict line; the end of the connection is not waited for, since processes that
    // the request started may keep the bench's side of it open for a while.
    while (!Complete(reply) && (got = recv(s, buffer, sizeof(buffer), 0)) > 0) {
        reply.append(buffer, static_cast<size_t>(got));
    }
    return reply;
}

}  // namespace

bool Available() {
    return BenchPort() > 0;
}

std::string Ask(const std::string& request, bool* ok) {
    if (ok != nullptr) {
        *ok = false;
    }
    if (!Available()) {
        return "error: not run through tests/wine/bench.sh (TOL_BENCH_PORT is not set)";
    }
    std::string reply = "error: cannot reach the bench";
    {
        const WinsockSession winsock(MAKEWORD(2, 2));
        if (!winsock.Started()) {
            return "error: WSAStartup failed";
        }
        const UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(BenchPort()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (s.Valid() && connect(s.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            reply = Exchange(s.Get(), request);
        }
    }  // the socket closes, then Windows Sockets ends

    // The last line is the verdict.
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) {
        reply.pop_back();
    }
    const size_t cut = reply.rfind('\n');
    const std::string verdict = cut == std::string::npos ? reply : reply.substr(cut + 1);
    if (verdict != "ok") {
        return reply;
    }
    if (ok != nullptr) {
        *ok = true;
    }
    return cut == std::string::npos ? std::string() : reply.substr(0, cut);
}

namespace {

// Says on stderr why a request failed, next to the test's own failure.
bool Request(const std::string& request) {
    bool ok = false;
    const std::string reply = Ask(request, &ok);
    if (!ok) {
        std::fprintf(stderr, "bench: %s: %s\n", request.c_str(), reply.c_str());
    }
    return ok;
}

}  // namespace

bool Pty(const std::string& name) {
    return Request("pty " + name);
}

bool Stall(const std::string& name) {
    return Request("stall " + name);
}

bool Drain(const std::string& name) {
    return Request("drain " + name);
}

bool Unplug(const std::string& name) {
    return Request("unplug " + name);
}

bool Absent(const std::string& name) {
    return Request("absent " + name);
}

bool Remove(const std::string& name) {
    return Request("remove " + name);
}

bool Inject(const std::string& name, const std::string& bytes) {
    return Request("inject " + name + " " + Hex(bytes));
}

bool AnswerStatus(const std::string& name, const std::string& answers) {
    return Request("answer " + name + " " + Hex(answers));
}

std::string Captured(const std::string& name, size_t atLeast) {
    bool ok = false;
    const std::string hex = Ask("read " + name + " " + std::to_string(atLeast), &ok);
    return ok ? Unhex(hex) : std::string();
}

std::string Stty(const std::string& name) {
    bool ok = false;
    const std::string settings = Ask("stty " + name, &ok);
    return ok ? settings : std::string();
}

bool Preset(const std::string& name, const std::string& settings) {
    return Request("preset " + name + " " + settings);
}

int Holders(const std::string& name) {
    bool ok = false;
    const std::string count = Ask("holders " + name, &ok);
    return ok && !count.empty() ? std::atoi(count.c_str()) : -1;
}

}  // namespace wine_bench

#include "console/Console.h"

#include <cstdint>
#include <random>
#include <utility>

#include "console/ConsoleJobs.h"
#include "console/ConsolePage.h"
#include "console/ConsoleReply.h"
#include "console/ConsoleState.h"

namespace {

// The cookie's name, with the port's number: a browser sends a cookie of 127.0.0.1 to every
// port there, and two consoles must not take each other's.
const char kCookiePrefix[] = "tolctl_console_";
const char kNoToken[] = "the console's token is missing or wrong; open the address tolctl console printed";

// Compares without stopping at the first difference: the time taken tells nothing of the token.
bool SameSecret(const std::string& a, const std::string& b) {
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        differ |= static_cast<unsigned char>(a[i] ^ b[i % (b.empty() ? 1 : b.size())]);
    }
    return differ == 0 && !b.empty();
}

// The value of the cookie `name` in a Cookie header ("a=1; tolctl_console_8631=T").
std::string CookieValue(const std::string& header, const std::string& name) {
    size_t start = 0;
    while (start < header.size()) {
        size_t end = header.find(';', start);
        if (end == std::string::npos) {
            end = header.size();
        }
        std::string part = header.substr(start, end - start);
        const size_t first = part.find_first_not_of(' ');
        part = first == std::string::npos ? "" : part.substr(first);
        if (part.compare(0, name.size() + 1, name + "=") == 0) {
            return part.substr(name.size() + 1);
        }
        start = end + 1;
    }
    return "";
}

HttpReply NotAuthorizedPage() {
    HttpReply reply;
    reply.status = 401;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = std::string(
                     "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>tolctl "
                     "console</title></head>\n<body><p>") +
                 kNoToken + ".</p></body></html>\n";
    reply.headers = {{"Cache-Control", "no-store"}};
    return reply;
}

}  // namespace

std::string MakeConsoleToken() {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::random_device random;  // the system's source (getrandom, RtlGenRandom)
    std::string bits;
    for (int i = 0; i < 4; ++i) {
        const uint32_t word = random();
        for (int k = 0; k < 4; ++k) {
            bits += static_cast<char>((word >> (8 * k)) & 0xFF);
        }
    }
    // 128 bits as 22 characters of 6 bits (the last holds 2).
    std::string token;
    for (size_t bit = 0; bit < 128; bit += 6) {
        unsigned value = 0;
        for (size_t k = 0; k < 6; ++k) {
            const size_t at = bit + k;
            const unsigned one =
                at < 128 ? (static_cast<unsigned char>(bits[at / 8]) >> (7 - at % 8)) & 1 : 0;
            value = value << 1 | one;
        }
        token += kAlphabet[value];
    }
    return token;
}

Console::Console(ConsoleSettings settings)
    : m_settings(std::move(settings)),
      m_cookie(kCookiePrefix + std::to_string(m_settings.port)),
      m_state(std::make_unique<ConsoleState>(m_settings.stateFolder)),
      m_jobs(std::make_unique<ApplyJobs>(m_settings.stateFolder + "/jobs", m_settings.record)) {}

Console::~Console() {
    Stop();
}

bool Console::Load(std::string& problem, std::vector<std::string>& dropped) {
    return m_state->Load(problem, dropped) && ContinueJobs(problem);
}

void Console::Stop() {
    m_stop.Request(1);
    m_jobs->StopAll();
}

HttpReply Console::ErrorReply(const HttpRefusal& refusal) {
    const int status = refusal.status;
    switch (status) {
        case 404: {
            const bool api = refusal.path.compare(0, 5, "/api/") == 0;
            return ::ErrorReply(status, (api ? "no such API: " : "no such page: ") + refusal.path);
        }
        case 405: {
            const bool several = refusal.allowed.find(',') != std::string::npos;
            return ::ErrorReply(status, refusal.method + " is not served at " + refusal.path + "; " +
                                            refusal.allowed + (several ? " are" : " is"));
        }
        case 411:
            return ::ErrorReply(status, "a body must be sent with its length (Content-Length)");
        case 413:
            return ::ErrorReply(status, "the body is larger than 1 MiB");
        default:
            return ::ErrorReply(status, "the request was refused (HTTP " + std::to_string(status) + ")");
    }
}

bool Console::HostAllowed(const std::string& host) const {
    // Another name that resolves here (DNS rebinding) is refused: only the address served on,
    // localhost and 127.0.0.1, each with the port.
    const std::string port = m_settings.port == 80 ? "" : ":" + std::to_string(m_settings.port);
    return host == m_settings.address + port || host == "localhost" + port || host == "127.0.0.1" + port;
}

bool Console::OriginAllowed(const std::string& origin) const {
    const std::string scheme = "http://";
    return origin.compare(0, scheme.size(), scheme) == 0 && HostAllowed(origin.substr(scheme.size()));
}

bool Console::Authorized(const HttpRequest& request) const {
    const std::string bearer = "Bearer ";
    const std::string authorization = request.Header("authorization");
    if (authorization.compare(0, bearer.size(), bearer) == 0 &&
        SameSecret(authorization.substr(bearer.size()), m_settings.token)) {
        return true;
    }
    return SameSecret(CookieValue(request.Header("cookie"), m_cookie), m_settings.token);
}

void Console::Register(HttpServer& server) {
    server.SetErrorReply(&Console::ErrorReply);
    server.Guard([this](const HttpRequest& request, HttpReply& reply) { return Refused(request, reply); });
    server.Route("GET", "/|/index\\.html", [this](const HttpRequest& request) { return Page(request); });
    RegisterApi(server);
}

namespace {

bool IsPage(const HttpRequest& request) {
    return request.path == "/" || request.path == "/index.html";
}

bool Reads(const HttpRequest& request) {
    return request.method == "GET" || request.method == "HEAD";
}

}  // namespace

bool Console::Refused(const HttpRequest& request, HttpReply& reply) const {
    if (!HostAllowed(request.Header("host"))) {
        reply = ::ErrorReply(403, "this console answers only at http://" + m_settings.address + ":" +
                                      std::to_string(m_settings.port) + "/ (the request named another host)");
        return true;
    }
    if (!Reads(request) && !request.Header("origin").empty() && !OriginAllowed(request.Header("origin"))) {
        reply = ::ErrorReply(403, "a page of another origin may not change anything here");
        return true;
    }
    if (IsPage(request) && Reads(request) && !request.Query("token").empty()) {
        return false;  // the page checks the token it is opened with
    }
    if (!Authorized(request)) {
        reply = IsPage(request) ? NotAuthorizedPage() : ::ErrorReply(401, kNoToken);
        return true;
    }
    return false;
}

HttpReply Console::Page(const HttpRequest& request) const {
    if (!request.Query("token").empty()) {
        if (!SameSecret(request.Query("token"), m_settings.token)) {
            return NotAuthorizedPage();
        }
        // The token leaves the address bar and history: the cookie carries it from here on.
        HttpReply reply;
        reply.status = 303;
        reply.headers = {
            {"Location", "/"},
            {"Set-Cookie", m_cookie + "=" + m_settings.token + "; HttpOnly; SameSite=Strict; Path=/"},
            {"Cache-Control", "no-store"}};
        return reply;
    }
    HttpReply reply;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = ConsolePageHtml();
    reply.headers = {
        {"Content-Security-Policy",
         "default-src 'self'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src 'self' data:; "
         "connect-src 'self'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Cache-Control", "no-store"},
    };
    return reply;
}

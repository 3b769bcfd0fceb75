#include "http/HttpServer.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <regex>

#include "http/HttpFront.h"
#include "http/Httplib.h"

namespace {

// `text` as a regular expression that matches it literally: cpp-httplib reads patterns as such.
std::string Literal(const std::string& text) {
    std::string pattern;
    for (const char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) {
            pattern += '\\';
        }
        pattern += c;
    }
    return pattern;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Found(const std::map<std::string, std::string>& map, const std::string& key) {
    const auto found = map.find(key);
    return found == map.end() ? std::string() : found->second;
}

}  // namespace

std::string HttpRequest::Header(const std::string& name) const {
    return Found(headers, name);
}

std::string HttpRequest::Query(const std::string& name) const {
    return Found(query, name);
}

namespace {

// A request read whole, as cpp-httplib reads it; what it writes is kept for the connection.
class InputStream : public httplib::Stream {
  public:
    explicit InputStream(const HttpInput& input) : m_input(input) {}

    bool is_readable() const override { return m_read < m_input.bytes.size(); }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, size_t size) override {
        size = std::min(size, m_input.bytes.size() - m_read);
        std::memcpy(ptr, m_input.bytes.data() + m_read, size);
        m_read += size;
        return static_cast<ssize_t>(size);
    }
    ssize_t write(const char* ptr, size_t size) override {
        m_written.append(ptr, size);
        return static_cast<ssize_t>(size);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = m_input.remoteAddress;
        port = m_input.remotePort;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = m_input.localAddress;
        port = m_input.localPort;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

    std::string& Written() { return m_written; }

  private:
    const HttpInput& m_input;
    size_t m_read = 0;
    std::string m_written;
};

// A streamed reply that a handler of this thread gave: the connection writes it, not
// cpp-httplib, so that no worker waits for what it streams. And whether a route or the guard
// answered the request this thread processes (else an error is the server's own).
struct StreamedReply {
    bool given = false;
    bool headOnly = false;  // HEAD: the headers alone
    HttpReply reply;
    bool answered = false;
};
thread_local StreamedReply* t_streamed = nullptr;

// The request as a handler sees it.
HttpRequest Seen(const httplib::Request& request) {
    HttpRequest seen;
    seen.method = request.method;
    seen.path = request.path;
    for (const auto& header : request.headers) {
        seen.headers.emplace(Lower(header.first), header.second);
    }
    // The query of the address only: cpp-httplib adds a form's fields to it.
    const size_t query = request.target.find('?');
    if (query != std::string::npos) {
        httplib::Params parameters;
        httplib::detail::parse_query_text(request.target.substr(query + 1), parameters);
        for (const auto& parameter : parameters) {
            seen.query.emplace(parameter.first, parameter.second);
        }
    }
    for (size_t group = 1; group < request.matches.size(); ++group) {
        seen.parts.push_back(request.matches[group].str());
    }
    seen.body = request.body;
    return seen;
}

// The methods routes are registered for, in the order an Allow header names them.
const char* const kMethods[] = {"GET", "POST", "PUT", "PATCH", "DELETE", "OPTIONS"};

// The status line and `headers` of an answer, ending the head unless `more` headers follow.
std::string HeadText(int status, const std::vector<std::pair<std::string, std::string>>& headers) {
    std::string head =
        "HTTP/1.1 " + std::to_string(status) + " " + httplib::detail::status_message(status) + "\r\n";
    for (const auto& header : headers) {
        if (header.first.find_first_of("\r\n:") == std::string::npos &&
            header.second.find_first_of("\r\n") == std::string::npos) {
            head += header.first + ": " + header.second + "\r\n";
        }
    }
    return head;
}

// `reply` into cpp-httplib's response; a streamed one is set aside for the connection.
void Answer(HttpReply reply, const httplib::Request& request, httplib::Response& response) {
    if (t_streamed != nullptr) {
        t_streamed->answered = true;
    }
    if (reply.stream && t_streamed != nullptr) {
        t_streamed->given = true;
        t_streamed->headOnly = request.method == "HEAD";
        t_streamed->reply = std::move(reply);
        return;
    }
    response.status = reply.status;
    for (const auto& header : reply.headers) {
        response.set_header(header.first.c_str(), header.second);
    }
    response.body = std::move(reply.body);  // not copied: a page of many printers is large
    response.set_header("Content-Type", reply.contentType);
}

// The routes, and cpp-httplib's reading of requests and writing of answers.
class Engine : public httplib::Server {
  public:
    HttpOutput Process(const HttpInput& input) {
        InputStream stream(input);
        StreamedReply streamed;
        t_streamed = &streamed;
        bool closed = false;
        const bool answered = process_request(stream, input.last, closed, nullptr);
        t_streamed = nullptr;
        HttpOutput output;
        output.close = input.last || closed || (!answered && !streamed.given);
        if (!streamed.given) {
            output.bytes = std::move(stream.Written());
            return output;
        }
        HttpReply& reply = streamed.reply;
        reply.headers.emplace_back("Content-Type", reply.contentType);
        reply.headers.emplace_back("Transfer-Encoding", "chunked");
        if (output.close) {
            reply.headers.emplace_back("Connection", "close");
        }
        output.bytes = HeadText(reply.status, reply.headers) + "\r\n";
        if (!streamed.headOnly) {
            output.stream = std::move(reply.stream);
        }
        return output;
    }
};

}  // namespace

struct HttpServer::Impl {
    explicit Impl(size_t threads)
        : front(
              threads,
              [this](const HttpInput& input) { return engine.Process(input); },
              [this](int status) { return Refusal(status); }) {}

    HttpReply Error(const HttpRefusal& refusal) const {
        HttpReply reply;
        if (errorReply) {
            reply = errorReply(refusal);
        } else {
            reply.body =
                std::to_string(refusal.status) + " " + httplib::detail::status_message(refusal.status) + "\n";
        }
        reply.status = refusal.status;
        if (refusal.status == 405) {
            reply.headers.emplace_back("Allow", refusal.allowed);
        }
        return reply;
    }

    // The methods of the routes that take `path`, as an Allow header names them; "" for none.
    std::string Allowed(const std::string& path) const {
        std::string allowed;
        for (const char* method : kMethods) {
            for (const auto& route : routes) {
                if (route.first == method && std::regex_match(path, route.second)) {
                    allowed += (allowed.empty() ? "" : ", ") + std::string(method);
                    break;
                }
            }
        }
        return allowed;
    }

    // An answer the connection makes itself; the connection ends after it.
    HttpOutput Refusal(int status) const {
        HttpRefusal refusal;
        refusal.status = status;
        HttpReply reply = Error(refusal);
        reply.headers.emplace_back("Content-Type", reply.contentType);
        reply.headers.emplace_back("Content-Length", std::to_string(reply.body.size()));
        reply.headers.emplace_back("Connection", "close");
        HttpOutput output;
        output.bytes = HeadText(status, reply.headers) + "\r\n" + reply.body;
        output.close = true;
        return output;
    }

    Engine engine;
    std::vector<std::pair<std::string, std::regex>> routes;  // each route's method and pattern
    std::function<bool(const HttpRequest&, HttpReply&)> guard;
    std::function<HttpReply(const HttpRefusal&)> errorReply;
    HttpFront front;  // last: its threads use the others
};

HttpServer::HttpServer(size_t threads) : m_impl(std::make_unique<Impl>(threads)) {
    httplib::Server& server = m_impl->engine;
    // What the Keep-Alive header tells: the connection waits this long for the next request,
    // and takes this many.
    server.set_keep_alive_timeout(kHttpHeadSeconds);
    server.set_keep_alive_max_count(kHttpRequestsPerConnection);
    Impl& impl = *m_impl;
    server.set_pre_routing_handler([&impl](const httplib::Request& request, httplib::Response& response) {
        HttpReply reply;
        if (!impl.guard || !impl.guard(Seen(request), reply)) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        Answer(std::move(reply), request, response);
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([&impl](const httplib::Request& request, httplib::Response& response) {
        if (t_streamed != nullptr && t_streamed->answered) {
            return;  // a route's or the guard's own answer
        }
        HttpRefusal refusal;
        refusal.status = response.status;
        if (refusal.status == 404) {
            refusal.method = request.method;
            refusal.path = request.path;
            refusal.allowed = impl.Allowed(request.path);
            refusal.status = refusal.allowed.empty() ? 404 : 405;
        }
        Answer(impl.Error(refusal), request, response);
    });
}

HttpServer::~HttpServer() {
    Stop();
}

void HttpServer::Get(const std::string& path, Handler handler) {
    Route("GET", Literal(path), [handler](const HttpRequest&) { return handler(); });
}

void HttpServer::Route(const std::string& method, const std::string& pattern, RequestHandler handler) {
    const auto serve = [handler](const httplib::Request& request, httplib::Response& response) {
        Answer(handler(Seen(request)), request, response);
    };
    httplib::Server& server = m_impl->engine;
    if (method == "GET") {
        server.Get(pattern, serve);
    } else if (method == "POST") {
        server.Post(pattern, serve);
    } else if (method == "PUT") {
        server.Put(pattern, serve);
    } else if (method == "PATCH") {
        server.Patch(pattern, serve);
    } else if (method == "DELETE") {
        server.Delete(pattern, serve);
    } else if (method == "OPTIONS") {
        server.Options(pattern, serve);
    } else {
        return;  // no such method: never routed
    }
    m_impl->routes.emplace_back(method, std::regex(pattern));
}

void HttpServer::Guard(std::function<bool(const HttpRequest& request, HttpReply& reply)> guard) {
    m_impl->guard = std::move(guard);
}

void HttpServer::LimitBodies(size_t bytes) {
    m_impl->front.LimitBodies(bytes);
}

void HttpServer::SetErrorReply(std::function<HttpReply(const HttpRefusal& refusal)> reply) {
    m_impl->errorReply = std::move(reply);
}

bool HttpServer::Listen(const std::string& address, int port, std::string& problem) {
    return m_impl->front.Listen(address, port, problem);
}

int HttpServer::Port() const {
    return m_impl->front.Port();
}

void HttpServer::Start(std::function<void()> ended) {
    m_impl->front.Start(std::move(ended));
}

void HttpServer::Stop() {
    m_impl->front.Stop();
}

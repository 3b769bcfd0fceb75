#include "HttpServer.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <thread>

#include "ErrnoText.h"
#include "HttpSocket.h"
#include "Values.h"

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

struct HttpServer::Impl {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    size_t bodyLimit = 0;  // 0: cpp-httplib's own
    std::function<HttpReply(int)> errorReply;
    std::atomic<bool> ended{false};     // the serving thread is done
    std::atomic<bool> stopping{false};  // Stop was called
};

namespace {

// `reply` into cpp-httplib's response.
void Answer(HttpReply reply, httplib::Response& response) {
    response.status = reply.status;
    for (const auto& header : reply.headers) {
        response.set_header(header.first.c_str(), header.second);
    }
    if (reply.stream) {
        auto stream = std::move(reply.stream);
        response.set_chunked_content_provider(reply.contentType, [stream](size_t, httplib::DataSink& sink) {
            bool failed = false;
            const HttpWrite write = [&sink, &failed](const std::string& text) {
                failed = failed || !sink.is_writable() || !sink.write(text.data(), text.size());
                return !failed;
            };
            const bool more = stream(write);
            if (failed) {
                return false;  // the client is gone: the connection is closed
            }
            if (!more) {
                sink.done();
            }
            return true;
        });
        return;
    }
    response.body = std::move(reply.body);  // not copied: a page of many printers is large
    response.set_header("Content-Type", reply.contentType);
}

}  // namespace

HttpServer::HttpServer(size_t threads) : m_impl(std::make_unique<Impl>()) {
    httplib::Server& server = m_impl->server;
    server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server.set_socket_options(
        [](socket_t socket) { PrepareListeningSocket(static_cast<uintptr_t>(socket)); });
    // A connection that sends nothing holds a thread, and holds up Stop, this long at most.
    server.set_keep_alive_timeout(1);
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    Impl& impl = *m_impl;
    server.set_error_handler([&impl](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty() && impl.errorReply) {
            Answer(impl.errorReply(response.status), response);
        } else if (response.body.empty()) {
            response.set_content(std::to_string(response.status) + " " +
                                     httplib::detail::status_message(response.status) + "\n",
                                 "text/plain; charset=utf-8");
        }
    });
}

HttpServer::~HttpServer() {
    Stop();
}

void HttpServer::Get(const std::string& path, Handler handler) {
    m_impl->server.Get(Literal(path), [handler](const httplib::Request&, httplib::Response& response) {
        Answer(handler(), response);
    });
}

void HttpServer::Serve(const std::string& prefix, RequestHandler handler) {
    const auto serve = [handler](const httplib::Request& request, httplib::Response& response) {
        HttpRequest seen;
        seen.method = request.method;
        seen.path = request.path;
        for (const auto& header : request.headers) {
            seen.headers.emplace(Lower(header.first), header.second);
        }
        for (const auto& parameter : request.params) {
            seen.query.emplace(parameter.first, parameter.second);
        }
        seen.body = request.body;
        Answer(handler(seen), response);
    };
    const std::string pattern = Literal(prefix) + ".*";
    httplib::Server& server = m_impl->server;
    server.Get(pattern, serve);
    server.Post(pattern, serve);
    server.Put(pattern, serve);
    server.Delete(pattern, serve);
    server.Patch(pattern, serve);
    server.Options(pattern, serve);
}

void HttpServer::LimitBodies(size_t bytes) {
    Impl& impl = *m_impl;
    impl.bodyLimit = bytes;
    impl.server.set_payload_max_length(bytes);
    // cpp-httplib limits a body of a given length only; one sent in chunks would be read whole.
    impl.server.set_pre_routing_handler(
        [&impl](const httplib::Request& request, httplib::Response& response) {
            if (request.has_header("Transfer-Encoding") &&
                Lower(request.get_header_value("Transfer-Encoding")) != "identity") {
                response.status = 411;
                if (impl.errorReply) {
                    Answer(impl.errorReply(411), response);
                }
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
}

void HttpServer::SetErrorReply(std::function<HttpReply(int status)> reply) {
    m_impl->errorReply = std::move(reply);
}

bool HttpServer::Listen(const std::string& address, int port, std::string& problem) {
    uint32_t value = 0;
    if (!ParseAddress(address, value) || port < 0 || port > 65535) {
        problem = "not an IPv4 address and port";
        return false;
    }
    httplib::Server& server = m_impl->server;
    const bool bound = port == 0 ? (m_impl->port = server.bind_to_any_port(address)) > 0
                                 : server.bind_to_port(address, port);
    if (!bound) {
        const int error = LastSocketError();
        problem = error != 0 ? SystemErrorText(error) : "the port cannot be taken";
        return false;
    }
    if (port != 0) {
        m_impl->port = port;
    }
    return true;
}

int HttpServer::Port() const {
    return m_impl->port;
}

void HttpServer::Start(std::function<void()> ended) {
    Impl& impl = *m_impl;
    impl.thread = std::thread([&impl, ended] {
        impl.server.listen_after_bind();
        impl.ended = true;
        if (!impl.stopping && ended) {
            ended();
        }
    });
    // Until it runs, a stop would go unseen (cpp-httplib stops only a server that runs).
    while (!impl.server.is_running() && !impl.ended) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void HttpServer::Stop() {
    Impl& impl = *m_impl;
    if (impl.thread.joinable()) {
        impl.stopping = true;
        impl.server.stop();
        impl.thread.join();
    }
}

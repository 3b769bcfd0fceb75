#include "HttpServer.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "ErrnoText.h"
#include "HttpSocket.h"
#include "Values.h"

namespace {

/// Threads that answer requests: a page is one copy of a prepared text.
constexpr size_t kServerThreads = 4;

}  // namespace

struct HttpServer::Impl {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::atomic<bool> ended{false};     // the serving thread is done
    std::atomic<bool> stopping{false};  // Stop was called
};

HttpServer::HttpServer() : m_impl(std::make_unique<Impl>()) {
    httplib::Server& server = m_impl->server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    server.set_socket_options(
        [](socket_t socket) { PrepareListeningSocket(static_cast<uintptr_t>(socket)); });
    // A connection that sends nothing holds a thread, and holds up Stop, this long at most.
    server.set_keep_alive_timeout(1);
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty()) {
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
    // A literal path: cpp-httplib reads the pattern as a regular expression.
    std::string pattern;
    for (const char c : path) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) {
            pattern += '\\';
        }
        pattern += c;
    }
    m_impl->server.Get(pattern, [handler](const httplib::Request&, httplib::Response& response) {
        HttpReply reply = handler();
        response.status = reply.status;
        response.body = std::move(reply.body);  // not copied: a page of many printers is large
        response.set_header("Content-Type", reply.contentType);
    });
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

// HttpServer's connections (inside tol_http): one thread on Asio's event loop takes every
// connection, reads each request whole within its deadlines and writes each answer; only a
// request read whole goes to a worker thread to be answered. A client that sends or reads slowly
// holds a connection, never a worker.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "http/HttpServer.h"

/// A request read whole, for a worker to answer.
struct HttpInput {
    std::string bytes;  // its head and body, as sent
    bool last = false;  // the connection's last request: the answer says so and the connection ends
    std::string remoteAddress, localAddress;
    int remotePort = 0, localPort = 0;
};

/// An answer as the connection writes it.
struct HttpOutput {
    std::string bytes;  // the status line, the headers and, unless streamed, the body
    /// When set, the body follows in chunks: HttpReply::stream, called on the event loop's thread
    /// whenever the last piece is taken, or 0.1 s after it wrote nothing.
    std::function<bool(const HttpWrite& write)> stream;
    bool close = false;  // the connection ends after this answer
};

class HttpFront {
  public:
    /// Answers a request on a worker thread; several at once.
    using Answer = std::function<HttpOutput(const HttpInput& input)>;
    /// The answer to a request refused before it was read whole (400, 411, 413, 431) or one
    /// that could not be answered (500); it closes the connection.
    using Refusal = std::function<HttpOutput(int status)>;

    /// `threads`: requests answered at once.
    HttpFront(size_t threads, Answer answer, Refusal refusal);
    /// Stops first.
    ~HttpFront();
    HttpFront(const HttpFront&) = delete;
    HttpFront& operator=(const HttpFront&) = delete;

    /// Bodies longer than `bytes` are refused (413) without being read. Before Start.
    void LimitBodies(size_t bytes);
    /// As HttpServer::Listen.
    bool Listen(const std::string& address, int port, std::string& problem);
    int Port() const;
    /// As HttpServer::Start and Stop.
    void Start(std::function<void()> ended);
    void Stop();

  private:
    class Connection;
    struct Loop;
    std::unique_ptr<Loop> m_loop;
};

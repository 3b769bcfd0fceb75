// A small HTTP server: GET of fixed paths, each answered by a function, served on threads of its
// own until stopped. For pages that a program serves while it runs (tolctl monitor).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

/// What a path is answered with.
struct HttpReply {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
};

class HttpServer {
  public:
    /// Called on one of the server's threads, several at once when requests come together.
    using Handler = std::function<HttpReply()>;

    HttpServer();
    /// Stops serving first.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    /// Answers GET (and HEAD) of exactly `path` with `handler`. Other paths get 404. Before
    /// Start.
    void Get(const std::string& path, Handler handler);

    /// Takes the TCP port `port` (0: one that is free) on the IPv4 address `address` (A.B.C.D),
    /// refusing a port that another program holds. False with the reason in `problem`
    /// ("address already in use").
    bool Listen(const std::string& address, int port, std::string& problem);

    /// The port taken by Listen.
    int Port() const;

    /// Serves what Listen took, on threads of its own, until Stop. After Listen. Should serving
    /// end by itself (the listening socket failed), `ended` is called on the serving thread.
    void Start(std::function<void()> ended = nullptr);

    /// Stops serving: no new connection is taken; those under way end (a second or so for one
    /// that sends nothing). Also when not started.
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// A small HTTP server for the pages and APIs tolctl serves while it runs (monitor, console): GET
// of fixed paths each answered by a function, or every request under a path prefix answered by
// one function that sees the whole request (method, headers, query, body); replies of a fixed
// text or streamed as they come (Server-Sent Events). Served on threads of its own until stopped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

/// A request as a handler sees it.
struct HttpRequest {
    std::string method;                          // "GET", "POST", ...
    std::string path;                            // decoded, without the query: "/api/jobs/3"
    std::map<std::string, std::string> headers;  // names in lower case; a repeated one: its first value
    std::map<std::string, std::string> query;    // decoded; a repeated one: its first value
    std::string body;

    /// The header `name` (lower case), or "" when it was not sent.
    std::string Header(const std::string& name) const;
    /// The query parameter `name`, or "" when it was not given.
    std::string Query(const std::string& name) const;
};

/// Writes one piece of a streamed reply to the client; false when the client is gone.
using HttpWrite = std::function<bool(const std::string& text)>;

/// What a request is answered with.
struct HttpReply {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // more headers: Set-Cookie, ...
    /// When set, the body is streamed instead (chunked): called again and again on the
    /// request's thread to write the next pieces, until it answers false (the reply is whole) or
    /// a write fails (the client is gone). It may wait for what it writes, a second or so at a
    /// time: Stop waits for it.
    std::function<bool(const HttpWrite& write)> stream;
};

class HttpServer {
  public:
    /// Called on one of the server's threads, several at once when requests come together.
    using Handler = std::function<HttpReply()>;
    using RequestHandler = std::function<HttpReply(const HttpRequest& request)>;

    /// `threads`: requests answered at once (a streamed reply holds one for as long as it runs).
    explicit HttpServer(size_t threads = 4);
    /// Stops serving first.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    /// Answers GET (and HEAD) of exactly `path` with `handler`. Other paths get 404. Before
    /// Start.
    void Get(const std::string& path, Handler handler);

    /// Answers every request (GET, HEAD, POST, PUT, DELETE, PATCH, OPTIONS) whose path begins
    /// with `prefix` with `handler`; "/" takes them all. Before Start.
    void Serve(const std::string& prefix, RequestHandler handler);

    /// Bodies larger than `bytes` are refused with 413 before they are read, and a body whose
    /// length is not given first (chunked) with 411. Before Start.
    void LimitBodies(size_t bytes);

    /// What an answer the server makes itself (404, 413, ...) holds: by default "413 Payload Too
    /// Large" as text. Before Start.
    void SetErrorReply(std::function<HttpReply(int status)> reply);

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

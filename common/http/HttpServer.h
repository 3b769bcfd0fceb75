// A small HTTP server for the pages and APIs tolctl serves while it runs (monitor, console): its
// routes (a method and a pattern of paths, cpp-httplib's routing) each answered by a function that
// sees the whole request (method, headers, query, body, the parts of the path its pattern took),
// a guard that sees every request first, and the server's own 404 and 405 (with Allow); replies
// of a fixed text or streamed as they come (Server-Sent Events). Served on threads of its own until stopped:
// one reads and writes every connection (HttpFront), each request within its deadlines, and only
// requests read whole are answered by the worker threads, so that slow clients hold no worker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

/// A request's head (request line and headers) must come whole within this many seconds of the
/// connection being taken or of the last answer on it, however it is sent; else the connection
/// ends without an answer.
constexpr int kHttpHeadSeconds = 5;
/// Its body (its length given first) within this many seconds of the head.
constexpr int kHttpBodySeconds = 20;
/// Requests on one connection; the answer to the last closes it.
constexpr size_t kHttpRequestsPerConnection = 100;
/// Connections served at once; more wait to be taken until one ends.
constexpr size_t kHttpConnections = 512;

/// A request as a handler sees it.
struct HttpRequest {
    std::string method;                          // "GET", "POST", ...
    std::string path;                            // decoded, without the query: "/api/jobs/3"
    std::map<std::string, std::string> headers;  // names in lower case; a repeated one: its first value
    std::map<std::string, std::string> query;    // decoded; a repeated one: its first value
    std::vector<std::string> parts;              // what the groups of the route's pattern took
    std::string body;                            // empty for the guard, which sees it before

    /// The header `name` (lower case), or "" when it was not sent.
    std::string Header(const std::string& name) const;
    /// The query parameter `name`, or "" when it was not given.
    std::string Query(const std::string& name) const;
};

/// Writes one piece of a streamed reply (it goes out when the call that wrote it returns).
using HttpWrite = std::function<bool(const std::string& text)>;

/// What a request is answered with.
struct HttpReply {
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // more headers: Set-Cookie, ...
    /// When set, the body is streamed instead (chunked): called again and again on the server's
    /// connection thread, each time the client has taken what the last call wrote (or 0.1 s
    /// after a call that wrote nothing), until it answers false (the reply is whole). It must
    /// never wait: every connection waits while it runs. A client that leaves, or takes too
    /// long to take a piece, ends the stream; so does Stop.
    std::function<bool(const HttpWrite& write)> stream;
};

/// An answer the server makes itself, for HttpServer::SetErrorReply.
struct HttpRefusal {
    int status = 0;            // 404 no route takes the path; 405 only routes of other methods; 413, ...
    std::string method, path;  // the request's, with 404 and 405
    std::string allowed;       // 405: the methods served at the path ("GET, PUT"); also sent as Allow
};

class HttpServer {
  public:
    /// Called on one of the server's threads, several at once when requests come together.
    using Handler = std::function<HttpReply()>;
    using RequestHandler = std::function<HttpReply(const HttpRequest& request)>;

    /// `threads`: requests answered at once (a streamed reply holds none while it streams).
    explicit HttpServer(size_t threads = 4);
    /// Stops serving first.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    /// Answers GET (and HEAD) of exactly `path` with `handler`. Before Start.
    void Get(const std::string& path, Handler handler);

    /// Answers requests of `method` (GET, POST, PUT, DELETE, PATCH or OPTIONS; GET answers HEAD
    /// too) whose whole path matches `pattern`, a regular expression whose groups give the
    /// request's `parts` ("/api/jobs/([^/]*)"). Routes are tried in the order added. A path that
    /// only routes of other methods take is answered 405 with Allow, one that none takes 404.
    /// Before Start.
    void Route(const std::string& method, const std::string& pattern, RequestHandler handler);

    /// Sees every request before it is routed, its body not read yet: when it answers true with
    /// `reply`, that is the request's answer (a refusal) and no route sees it. Before Start.
    void Guard(std::function<bool(const HttpRequest& request, HttpReply& reply)> guard);

    /// Bodies larger than `bytes` (64 KiB without this) are refused with 413 before they are
    /// read, whatever their type (forms too). A body whose length is not given first (chunked)
    /// is refused with 411. Before Start.
    void LimitBodies(size_t bytes);

    /// What an answer the server makes itself (404, 405, 413, ...) holds: by default "413 Payload
    /// Too Large" as text. Before Start.
    void SetErrorReply(std::function<HttpReply(const HttpRefusal& refusal)> reply);

    /// Takes the TCP port `port` (0: one that is free) on the IPv4 address `address` (A.B.C.D),
    /// refusing a port that another program holds. False with the reason in `problem`
    /// ("address already in use").
    bool Listen(const std::string& address, int port, std::string& problem);

    /// The port taken by Listen.
    int Port() const;

    /// Serves what Listen took, on threads of its own, until Stop. After Listen. Should serving
    /// end by itself (the listening socket failed), `ended` is called on the serving thread.
    void Start(std::function<void()> ended = nullptr);

    /// Stops serving: no new connection is taken, those open end, the requests being answered
    /// are waited for (their answers go nowhere). Also when not started.
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

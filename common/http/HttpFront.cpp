#include "http/HttpFront.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/steady_timer.hpp>
#include <asio/thread_pool.hpp>
#include <asio/write.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <set>
#include <thread>
#include <utility>

#include "http/HttpSocket.h"
#include "system/ErrnoText.h"
#include "values/Values.h"

namespace {

using Tcp = asio::ip::tcp;

/// The longest request head taken (its request line and headers); a longer one gets 431.
constexpr size_t kMaxHeadBytes = 64 * 1024;
/// Bodies taken without LimitBodies.
constexpr size_t kDefaultBodyLimit = 64 * 1024;
/// Each write of an answer must be taken within this, plus a second for every 64 KiB of it.
constexpr std::chrono::seconds kWriteSeconds(10);
constexpr size_t kWriteBytesPerSecond = 64 * 1024;
/// A connection that ends is read to its end for up to this long first, so that an answer sent
/// before a body that was not read (413) reaches the client instead of a reset.
constexpr std::chrono::seconds kLinger(2);
/// A stream that had nothing to write is asked again after this.
constexpr std::chrono::milliseconds kStreamPoll(100);
/// Waits before taking connections again when there is no descriptor for one.
constexpr std::chrono::milliseconds kAcceptPause(50);

bool SameName(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// What a request's head says of its body.
struct BodyFacts {
    int refused = 0;  // 411 for a body sent in chunks (its length not known first), 400 for a
                      // length that is not one
    uint64_t length = 0;
    // Where the line "Expect: 100-continue" lies (npos: nowhere): the client waits for a
    // "100 Continue" before it sends the body.
    size_t expectAt = std::string::npos, expectLength = 0;
};

BodyFacts BodyOf(const std::string& head) {
    BodyFacts facts;
    bool given = false;
    for (size_t start = head.find("\r\n") + 2; start < head.size();) {
        const size_t end = std::min(head.find("\r\n", start), head.size());
        const std::string line = head.substr(start, end - start);
        const size_t at = start;
        start = end + 2;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const std::string name = line.substr(0, colon), value = Trimmed(line.substr(colon + 1));
        if (SameName(name, "transfer-encoding") && !SameName(value, "identity")) {
            facts.refused = 411;
        } else if (SameName(name, "expect") && SameName(value, "100-continue")) {
            facts.expectAt = at;
            facts.expectLength = line.size() + 2;
        } else if (SameName(name, "content-length")) {
            if (value.empty() || value.size() > 18 ||
                value.find_first_not_of("0123456789") != std::string::npos ||
                (given && std::stoull(value) != facts.length)) {
                facts.refused = facts.refused != 0 ? facts.refused : 400;
                continue;
            }
            facts.length = std::stoull(value);
            given = true;
        }
    }
    return facts;
}

std::string Hex(size_t value) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value % 16]);
        value /= 16;
    } while (value != 0);
    return text;
}

// The listening socket failed for now only: no descriptor or memory for a connection, or one
// that was reset before it was taken.
bool PassingAcceptError(const std::error_code& error) {
    return error == asio::error::no_descriptors || error == asio::error::no_buffer_space ||
           error == asio::error::no_memory || error == asio::error::connection_aborted ||
           error == asio::error::try_again || error == asio::error::interrupted ||
           error == std::error_code(ENFILE, asio::error::get_system_category());
}

}  // namespace

struct HttpFront::Loop {
    Loop(size_t threads, Answer answer, Refusal refusal)
        : threads(threads), answer(std::move(answer)), refusal(std::move(refusal)) {}

    void Accept();
    void Closed(const std::shared_ptr<Connection>& connection);

    const size_t threads;
    const Answer answer;
    const Refusal refusal;
    size_t bodyLimit = kDefaultBodyLimit;
    std::function<void()> ended;
    std::atomic<bool> stopping{false};

    // One thread runs the loop (a hint to Asio, which still locks).
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
    Tcp::acceptor acceptor{io};
    asio::steady_timer pause{io};
    bool accepting = false;  // an accept, or the pause before one, is under way
    std::set<std::shared_ptr<Connection>> open;
    std::unique_ptr<asio::thread_pool> workers;  // made by Start: they inherit its blocked signals
    std::thread thread;
};

class HttpFront::Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(Loop& loop, Tcp::socket socket)
        : m_loop(loop), m_socket(std::move(socket)), m_timer(loop.io) {}

    void Begin() { ReadHead(); }

    // Ends the connection at once.
    void Close() {
        if (m_closed) {
            return;
        }
        m_closed = true;
        std::error_code ignored;
        m_socket.close(ignored);
        NoWait();
        m_loop.Closed(shared_from_this());
    }

  private:
    // The connection ends unless what follows is done by `after` from now.
    void Deadline(std::chrono::steady_clock::duration after) {
        Wait(after, [](Connection& connection) { connection.Close(); });
    }
    // Calls `then` after `after`, unless another wait or NoWait comes first.
    void Wait(std::chrono::steady_clock::duration after, void (*then)(Connection&)) {
        m_timer.expires_after(after);
        // A wait that struck just before it was replaced is told apart by its number.
        m_timer.async_wait([self = shared_from_this(), then, wait = ++m_wait](const std::error_code& error) {
            if (!error && wait == self->m_wait && !self->m_closed) {
                then(*self);
            }
        });
    }
    void NoWait() {
        ++m_wait;
        m_timer.cancel();
    }

    void ReadHead() {
        Deadline(std::chrono::seconds(kHttpHeadSeconds));
        asio::async_read_until(m_socket, asio::dynamic_buffer(m_buffer, kMaxHeadBytes), "\r\n\r\n",
                               [self = shared_from_this()](const std::error_code& error, size_t size) {
                                   self->HeadRead(error, size);
                               });
    }

    void HeadRead(const std::error_code& error, size_t size) {
        if (m_closed) {
            return;
        }
        if (error == asio::error::not_found) {
            Refuse(431);  // the head is longer than kMaxHeadBytes
            return;
        }
        if (error) {
            Close();  // the client left, or its time is up
            return;
        }
        BodyFacts body = BodyOf(m_buffer.substr(0, size));
        if (body.refused != 0 || body.length > m_loop.bodyLimit) {
            Refuse(body.refused != 0 ? body.refused : 413);
            return;
        }
        if (body.expectAt != std::string::npos) {
            // Answered here: the request goes on without it, so that no second "100 Continue"
            // follows.
            m_buffer.erase(body.expectAt, body.expectLength);
            size -= body.expectLength;
        }
        const size_t whole = size + static_cast<size_t>(body.length);
        if (m_buffer.size() >= whole) {
            Hand(whole);
        } else if (body.expectAt != std::string::npos) {
            Send("HTTP/1.1 100 Continue\r\n\r\n", [this, whole] { ReadBody(whole); });
        } else {
            ReadBody(whole);
        }
    }

    // Reads the rest of the request of the first `whole` bytes.
    void ReadBody(size_t whole) {
        Deadline(std::chrono::seconds(kHttpBodySeconds));
        asio::async_read(m_socket, asio::dynamic_buffer(m_buffer),
                         asio::transfer_exactly(whole - m_buffer.size()),
                         [self = shared_from_this(), whole](const std::error_code& failed, size_t) {
                             if (self->m_closed) {
                                 return;
                             }
                             if (failed) {
                                 self->Close();
                             } else {
                                 self->Hand(whole);
                             }
                         });
    }

    // The request of the first `whole` bytes read goes to a worker; its answer comes back here.
    void Hand(size_t whole) {
        NoWait();
        HttpInput input;
        input.bytes = m_buffer.substr(0, whole);
        m_buffer.erase(0, whole);  // what follows is the next request's
        input.last = ++m_served >= kHttpRequestsPerConnection;
        std::error_code ignored;
        const Tcp::endpoint remote = m_socket.remote_endpoint(ignored),
                            local = m_socket.local_endpoint(ignored);
        input.remoteAddress = remote.address().to_string();
        input.remotePort = remote.port();
        input.localAddress = local.address().to_string();
        input.localPort = local.port();
        asio::post(*m_loop.workers, [self = shared_from_this(), input = std::move(input)] {
            HttpOutput output;
            try {
                output = self->m_loop.answer(input);
            } catch (...) {
                output = self->m_loop.refusal(500);
            }
            asio::post(self->m_loop.io,
                       [self, output = std::move(output)]() mutable { self->Write(std::move(output)); });
        });
    }

    void Refuse(int status) {
        NoWait();
        Write(m_loop.refusal(status));
    }

    void Write(HttpOutput output) {
        if (m_closed) {
            return;
        }
        m_close = output.close || m_loop.stopping;
        m_stream = std::move(output.stream);
        Send(std::move(output.bytes), [this] { m_stream ? Pump() : Answered(); });
    }

    // Writes `bytes`, then calls `then`; the connection ends when they are not taken in time.
    void Send(std::string bytes, std::function<void()> then) {
        m_out = std::move(bytes);
        Deadline(kWriteSeconds + std::chrono::seconds(m_out.size() / kWriteBytesPerSecond));
        asio::async_write(m_socket, asio::buffer(m_out),
                          [self = shared_from_this(), then](const std::error_code& error, size_t) {
                              if (self->m_closed) {
                                  return;
                              }
                              if (error) {
                                  self->Close();
                                  return;
                              }
                              self->NoWait();
                              then();
                          });
    }

    // The next piece of a streamed body, as one chunk; the last chunk when the stream ends.
    void Pump() {
        std::string piece;
        bool more = false;
        try {
            more = m_stream([&piece](const std::string& text) {
                piece += text;
                return true;
            });
        } catch (...) {
            Close();  // the answer cannot be finished
            return;
        }
        if (piece.empty() && more) {
            Wait(kStreamPoll, [](Connection& connection) { connection.Pump(); });
            return;
        }
        std::string chunk = piece.empty() ? std::string() : Hex(piece.size()) + "\r\n" + piece + "\r\n";
        if (!more) {
            chunk += "0\r\n\r\n";
            m_stream = nullptr;
        }
        Send(std::move(chunk), [this, more] { more ? Pump() : Answered(); });
    }

    void Answered() {
        if (m_close || m_loop.stopping) {
            Linger();
        } else {
            ReadHead();
        }
    }

    // No more is sent; what the client still sends is read and dropped until it ends, for
    // kLinger at most.
    void Linger() {
        std::error_code ignored;
        m_socket.shutdown(Tcp::socket::shutdown_send, ignored);
        Deadline(kLinger);
        Drop();
    }

    void Drop() {
        m_buffer.resize(4096);
        m_socket.async_read_some(asio::buffer(&m_buffer[0], m_buffer.size()),
                                 [self = shared_from_this()](const std::error_code& error, size_t) {
                                     if (self->m_closed) {
                                         return;
                                     }
                                     if (error) {
                                         self->Close();
                                     } else {
                                         self->Drop();
                                     }
                                 });
    }

    Loop& m_loop;
    Tcp::socket m_socket;
    asio::steady_timer m_timer;  // the deadline of what is under way, or the wait of a stream
    std::string m_buffer;        // read and not yet handed on
    std::string m_out;           // being written
    std::function<bool(const HttpWrite&)> m_stream;
    size_t m_served = 0;
    unsigned m_wait = 0;  // the number of the last wait begun
    bool m_close = false;
    bool m_closed = false;
};

void HttpFront::Loop::Accept() {
    if (stopping || !acceptor.is_open() || open.size() >= kHttpConnections) {
        accepting = false;  // taken again once a connection ends
        return;
    }
    accepting = true;
    acceptor.async_accept([this](const std::error_code& error, Tcp::socket socket) {
        if (stopping || error == asio::error::operation_aborted) {
            accepting = false;
            return;
        }
        if (error && PassingAcceptError(error)) {
            pause.expires_after(kAcceptPause);
            pause.async_wait([this](const std::error_code& failed) {
                if (failed) {
                    accepting = false;
                } else {
                    Accept();
                }
            });
            return;
        }
        if (error) {
            accepting = false;
            std::error_code ignored;
            acceptor.close(ignored);
            if (ended) {
                ended();
            }
            return;
        }
        const auto connection = std::make_shared<Connection>(*this, std::move(socket));
        open.insert(connection);
        connection->Begin();
        Accept();
    });
}

void HttpFront::Loop::Closed(const std::shared_ptr<Connection>& connection) {
    open.erase(connection);
    if (!accepting) {
        Accept();
    }
}

HttpFront::HttpFront(size_t threads, Answer answer, Refusal refusal)
    : m_loop(std::make_unique<Loop>(threads, std::move(answer), std::move(refusal))) {}

HttpFront::~HttpFront() {
    Stop();
}

void HttpFront::LimitBodies(size_t bytes) {
    m_loop->bodyLimit = bytes;
}

bool HttpFront::Listen(const std::string& address, int port, std::string& problem) {
    uint32_t value = 0;
    if (!ParseAddress(address, value) || port < 0 || port > 65535) {
        problem = "not an IPv4 address and port";
        return false;
    }
    Tcp::acceptor& acceptor = m_loop->acceptor;
    std::error_code error;
    acceptor.close(error);
    acceptor.open(Tcp::v4(), error);
    if (!error) {
        PrepareListeningSocket(static_cast<uintptr_t>(acceptor.native_handle()));
        acceptor.bind(Tcp::endpoint(asio::ip::address_v4(value), static_cast<unsigned short>(port)), error);
    }
    if (!error) {
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    }
    if (error) {
        problem = ErrorCodeText(error);
        std::error_code ignored;
        acceptor.close(ignored);
        return false;
    }
    return true;
}

int HttpFront::Port() const {
    std::error_code error;
    const Tcp::endpoint local = m_loop->acceptor.local_endpoint(error);
    return error ? 0 : local.port();
}

void HttpFront::Start(std::function<void()> ended) {
    Loop& loop = *m_loop;
    loop.ended = std::move(ended);
    loop.workers = std::make_unique<asio::thread_pool>(loop.threads);
    asio::post(loop.io, [&loop] { loop.Accept(); });
    loop.thread = std::thread([&loop] { loop.io.run(); });
}

void HttpFront::Stop() {
    Loop& loop = *m_loop;
    if (!loop.thread.joinable()) {
        std::error_code ignored;
        loop.acceptor.close(ignored);
        return;
    }
    loop.stopping = true;
    const auto closeAll = [&loop] {
        std::error_code ignored;
        loop.acceptor.close(ignored);
        loop.pause.cancel();
        const auto open = loop.open;
        for (const auto& connection : open) {
            connection->Close();
        }
    };
    asio::post(loop.io, closeAll);
    // The requests being answered end first (what they answer goes nowhere); those waiting for a
    // worker are dropped.
    loop.workers->stop();
    loop.workers->join();
    loop.io.stop();
    loop.thread.join();
    closeAll();  // what the loop did not get to
    loop.workers.reset();
}

#include "transport/StatusReads.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <memory>
#include <system_error>
#include <utility>

#include "system/ErrnoText.h"
#include "transport/Messenger.h"
#include "transport/StatusDialogue.h"
#include "transport/StatusLink.h"

namespace {

using Tcp = asio::ip::tcp;
using Done = std::function<void(const PrinterStatus& status)>;

// One printer's exchange: its connection, the clock of its current wait and the dialogue.
class TcpRead : public std::enable_shared_from_this<TcpRead> {
  public:
    TcpRead(asio::io_context& io, const SendOptions& options, int answerTimeoutMs, Done done)
        : m_socket(io),
          m_clock(io),
          m_connectMs(options.connectTimeoutMs),
          m_answerMs(answerTimeoutMs),
          m_done(std::move(done)) {}

    void Connect(uint32_t address, int tcpPort) {
        std::error_code error;
        m_socket.open(Tcp::v4(), error);
        if (!error) {
            // Dropping what waits must never wait itself. (Set before the connect, which would
            // otherwise make the socket non-blocking by a call of its own.)
            m_socket.non_blocking(true, error);
        }
        if (error) {
            Finish(FailedOpenStatus(ErrorCodeText(error), error.value(), false));
            return;
        }
        const unsigned wait = ++m_wait;
        auto self = shared_from_this();
        m_socket.async_connect(
            Tcp::endpoint(asio::ip::address_v4(address), static_cast<unsigned short>(tcpPort)),
            [self, wait](const std::error_code& failure) { self->Connected(wait, failure); });
        if (m_connectMs > 0) {
            Expire(wait, m_connectMs, [this] {
                const std::error_code late = asio::error::timed_out;
                Finish(FailedOpenStatus("connection timed out after " + std::to_string(m_connectMs) + " ms",
                                        late.value(), false));
            });
        }
    }

  private:
    void Connected(unsigned wait, const std::error_code& error) {
        if (!Current(wait)) {
            return;
        }
        if (error) {
            Finish(FailedOpenStatus(ErrorCodeText(error), error.value(), IsResetError(error.value())));
            return;
        }
        Go();
    }

    // Does the dialogue's steps until one waits for the printer (or the end).
    void Go() {
        for (;;) {
            switch (m_dialogue.Next()) {
                case StatusDialogue::Step::Drop:
                    // After an answer, what came with it: it was read with the answer.
                    m_dialogue.Dropped(m_surplus >= 0 ? m_surplus : DropWaiting());
                    m_surplus = -1;
                    continue;
                case StatusDialogue::Step::Send:
                    Send();
                    return;
                case StatusDialogue::Step::Receive:
                    Receive();
                    return;
                case StatusDialogue::Step::Pause: {
                    const unsigned wait = ++m_wait;
                    Expire(wait, StatusDialogue::kPauseMs, [this] {
                        m_dialogue.Paused();
                        Go();
                    });
                    return;
                }
                case StatusDialogue::Step::Done:
                    Finish(m_dialogue.Result());
                    return;
            }
        }
    }

    void Send() {
        m_request = m_dialogue.Request();
        const unsigned wait = ++m_wait;
        auto self = shared_from_this();
        asio::async_write(m_socket, asio::buffer(m_request),
                          [self, wait](const std::error_code& error, size_t) {
                              if (self->Current(wait)) {
                                  self->m_dialogue.Sent(!error, error ? ErrorCodeText(error) : "");
                                  self->Go();
                              }
                          });
        Expire(wait, kWriteTimeoutMs, [this] {
            m_dialogue.Sent(false, "write timed out: the printer did not take all the bytes within " +
                                       std::to_string(kWriteTimeoutMs) + " ms");
            Go();
        });
    }

    void Receive() {
        const unsigned wait = ++m_wait;
        auto self = shared_from_this();
        // The answer and what has come with it, which the next step drops: one read where the
        // blocking exchange makes two.
        m_socket.async_read_some(asio::buffer(m_in), [self, wait](const std::error_code& error, size_t got) {
            if (!self->Current(wait)) {
                return;
            }
            if (!error && got >= 1) {
                self->m_surplus = static_cast<int>(got - 1);
                self->m_dialogue.Received(self->m_in[0], "");
            } else {
                self->m_dialogue.Received(-1, error == asio::error::eof || !error
                                                  ? "the printer closed the connection"
                                                  : ErrorCodeText(error));
            }
            self->Go();
        });
        Expire(wait, m_answerMs, [this] {
            m_dialogue.Received(-1, "none within " + std::to_string(m_answerMs) + " ms");
            Go();
        });
    }

    // Reads and drops what the printer has sent and nothing has read, without waiting: how many
    // bytes (at most kMostDroppedBytes). The end of the stream or a failure stops it; the next
    // step tells.
    int DropWaiting() {
        int dropped = 0;
        char discard[512];
        while (dropped < kMostDroppedBytes) {
            const size_t left = static_cast<size_t>(kMostDroppedBytes - dropped);
            std::error_code error;
            const size_t got = m_socket.read_some(
                asio::buffer(discard, left < sizeof discard ? left : sizeof discard), error);
            if (error || got == 0) {
                break;
            }
            dropped += static_cast<int>(got);
        }
        return dropped;
    }

    // The wait `wait` ends after `ms` with `expired` unless it has ended before.
    template <typename Expired>
    void Expire(unsigned wait, int ms, Expired expired) {
        m_clock.expires_after(std::chrono::milliseconds(ms));
        auto self = shared_from_this();
        m_clock.async_wait([self, wait, expired](const std::error_code& error) {
            if (!error && self->Current(wait)) {
                expired();
            }
        });
    }

    // True when `wait` is the wait under way: it ends now, and whatever else ends it later is
    // too late (the printer's answer after the clock struck, the clock after the answer).
    bool Current(unsigned wait) {
        if (wait != m_wait || m_finished) {
            return false;
        }
        ++m_wait;
        m_clock.cancel();
        return true;
    }

    void Finish(const PrinterStatus& status) {
        m_finished = true;
        std::error_code ignored;
        m_socket.close(ignored);
        m_clock.cancel();
        m_done(status);
    }

    Tcp::socket m_socket;
    asio::steady_timer m_clock;
    const int m_connectMs;
    const int m_answerMs;
    Done m_done;
    StatusDialogue m_dialogue;
    std::array<unsigned char, 3> m_request{};
    std::array<unsigned char, 1 + kMostDroppedBytes> m_in{};  // an answer and what came with it
    int m_surplus = -1;   // the bytes after the answer in m_in; -1 when none was read
    unsigned m_wait = 0;  // counts the waits: a completion for another than the last is stale
    bool m_finished = false;
};

}  // namespace

void ReadTcpStatus(asio::io_context& io,
                   const SendOptions& options,
                   int answerTimeoutMs,
                   std::function<void(const PrinterStatus& status)> done) {
    uint32_t address = 0;
    std::string problem;
    if (!ResolveIpv4(options.port.host, address, problem)) {
        asio::post(io, [done, problem] { done(FailedOpenStatus(problem, 0, false)); });
        return;
    }
    try {
        auto read = std::make_shared<TcpRead>(io, options, answerTimeoutMs, done);
        // Started on the loop, so that a failure to start is told there too.
        asio::post(io, [read, address, options] { read->Connect(address, options.port.tcpPort); });
    } catch (const std::system_error& failure) {
        // No event loop for sockets: no descriptors for it, or (Windows) no Windows Sockets.
        asio::post(io, [done, failure] {
            done(FailedOpenStatus(ErrorCodeText(failure.code()), failure.code().value(), false));
        });
    }
}

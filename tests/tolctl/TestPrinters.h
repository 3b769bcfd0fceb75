// Printers on loopback for apply's tests: good ones that keep what every connection delivered, and
// ones that refuse, reset or stall connections.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Messenger.h"

class TestPrinter {
  public:
    enum class Kind {
        Good,    // reads each connection to its end, then closes it
        Refuse,  // bound but not listening: connections are refused
        Reset,   // accepts and resets each connection at once, reading nothing
        Stall,   // its queue of connections is kept full and never accepted: connects hang
    };

    /// A printer at `address`:`port` (0: any free port); Bound() tells whether it got it.
    TestPrinter(Kind kind, const std::string& address = "127.0.0.1", int port = 0)
        : m_kind(kind), m_address(address) {
        m_listen.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        sockaddr_in addr = Address(port);
        if (::bind(m_listen.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            return;
        }
        socklen_t size = sizeof addr;
        ::getsockname(m_listen.Get(), reinterpret_cast<sockaddr*>(&addr), &size);
        m_port = ntohs(addr.sin_port);
        m_bound = true;
        if (kind == Kind::Refuse) {
            return;
        }
        EXPECT_EQ(::listen(m_listen.Get(), kind == Kind::Stall ? 0 : 64), 0);
        if (kind == Kind::Stall) {
            // One connection fills a queue of length 0; the next ones wait for a place that never comes.
            for (int i = 0; i < 2; ++i) {
                UniqueFd filler(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
                sockaddr_in to = Address(m_port);
                ::connect(filler.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to);
                m_fillers.push_back(std::move(filler));
            }
            return;
        }
        int pipeFds[2];
        EXPECT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
        m_wakeRead.Reset(pipeFds[0]);
        m_wakeWrite.Reset(pipeFds[1]);
        m_thread = std::thread([this] { Serve(); });
    }

    ~TestPrinter() {
        if (m_thread.joinable()) {
            EXPECT_EQ(::write(m_wakeWrite.Get(), "x", 1), 1);
            m_thread.join();
        }
    }

    bool Bound() const { return m_bound; }
    int Port() const { return m_port; }
    std::string Uri() const { return "socket://" + m_address + ":" + std::to_string(m_port); }

    /// The bytes of each connection that has ended, in the order they ended.
    std::vector<std::string> Received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    /// Connections accepted so far.
    int Accepted() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_accepted;
    }

  private:
    sockaddr_in Address(int port) const {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, m_address.c_str(), &addr.sin_addr);
        return addr;
    }

    void Serve() {
        struct Open {
            UniqueFd fd;
            std::string bytes;
        };
        std::vector<std::unique_ptr<Open>> open;
        for (;;) {
            std::vector<pollfd> fds = {{m_wakeRead.Get(), POLLIN, 0}, {m_listen.Get(), POLLIN, 0}};
            for (const auto& connection : open) {
                fds.push_back({connection->fd.Get(), POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                continue;
            }
            if (fds[0].revents != 0) {
                return;
            }
            if (fds[1].revents != 0) {
                UniqueFd peer(::accept4(m_listen.Get(), nullptr, nullptr, SOCK_CLOEXEC));
                if (peer.Valid()) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    ++m_accepted;
                    if (m_kind == Kind::Reset) {
                        const linger reset{1, 0};
                        ::setsockopt(peer.Get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                    } else {
                        open.push_back(std::unique_ptr<Open>(new Open{std::move(peer), std::string()}));
                    }
                }
            }
            for (size_t i = 2; i < fds.size(); ++i) {
                if (fds[i].revents == 0) {
                    continue;
                }
                Open& connection = *open[i - 2];
                char buffer[4096];
                const ssize_t got = ::read(connection.fd.Get(), buffer, sizeof buffer);
                if (got > 0) {
                    connection.bytes.append(buffer, static_cast<size_t>(got));
                } else {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_received.push_back(connection.bytes);
                    connection.fd.Reset();
                }
            }
            for (size_t i = open.size(); i-- > 0;) {
                if (!open[i]->fd.Valid()) {
                    open.erase(open.begin() + static_cast<std::ptrdiff_t>(i));
                }
            }
        }
    }

    Kind m_kind;
    std::string m_address;
    int m_port = 0;
    bool m_bound = false;
    UniqueFd m_listen;
    std::vector<UniqueFd> m_fillers;
    UniqueFd m_wakeRead, m_wakeWrite;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_received;
    int m_accepted = 0;
};

/// Printers of the given kinds on 127.0.0.1, 127.0.0.2, ... all at one TCP port, so that a range
/// names them: socket://127.0.0.1-N:PORT.
class TestFleet {
  public:
    explicit TestFleet(const std::vector<TestPrinter::Kind>& kinds) {
        for (int attempt = 0; attempt < 50 && m_printers.empty(); ++attempt) {
            std::vector<std::unique_ptr<TestPrinter>> printers;
            int port = 0;
            for (size_t i = 0; i < kinds.size(); ++i) {
                printers.emplace_back(new TestPrinter(kinds[i], "127.0.0." + std::to_string(i + 1), port));
                if (!printers.back()->Bound()) {
                    printers.clear();
                    break;
                }
                port = printers.back()->Port();
            }
            m_printers = std::move(printers);
        }
        EXPECT_FALSE(m_printers.empty()) << "no TCP port free on every address";
    }
    TestPrinter& operator[](size_t i) { return *m_printers.at(i); }
    size_t Size() const { return m_printers.size(); }
    int Port() const { return m_printers.front()->Port(); }

  private:
    std::vector<std::unique_ptr<TestPrinter>> m_printers;
};

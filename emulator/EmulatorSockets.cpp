// The emulator's sockets: the listening socket of each printer, all on one port, and the
// connections that fill a stalled printer's backlog.
#include "emulator/EmulatorServer.h"
#include "emulator/EmulatorSystem.h"
#include "system/FileLimit.h"
#include "values/Values.h"

namespace {

// Rounds of connections that fill a stalled printer's backlog; Linux takes one connection into
// a backlog of 0, this many leaves room for a system that takes a few more.
constexpr int kFillRounds = 8;

// How long a round waits for its connects: on loopback one that the backlog takes is done at once.
constexpr std::chrono::milliseconds kFillWait(100);

// Descriptors the emulator keeps besides its printers' listening sockets and what the process had
// open when it looked, before the emulator was made: its event loop's few, a few connections at
// a time and the state file while it is written (when these run out, accepts wait for a
// connection to end).
constexpr size_t kEmulatorSpareDescriptors = 4;

asio::ip::tcp::endpoint Endpoint(uint32_t address, int port) {
    return {asio::ip::address_v4(address), static_cast<unsigned short>(port)};
}

}  // namespace

bool Emulator::Fits(const std::vector<PlannedPrinter>& printers, size_t& limit, size_t& fit) {
    fit = OpenFileRoom(kEmulatorSpareDescriptors, limit);
    size_t needed = 0;
    for (const PlannedPrinter& printer : printers) {
        needed += printer.fault.kind == PrinterFault::Kind::Refuse  ? 0
                  : printer.fault.kind == PrinterFault::Kind::Stall ? 2
                                                                    : 1;
    }
    return needed <= fit;
}

bool Emulator::Server::Listen(const std::vector<PlannedPrinter>& printers,
                              int port,
                              std::string& where,
                              std::error_code& error) {
    std::vector<Tcp::acceptor> bound;
    if (!BindAll(printers, port, bound, where, error)) {
        return false;
    }
    m_planned = printers;
    m_printers.reserve(bound.size());
    std::vector<size_t> stalled;
    size_t next = 0;
    for (const PlannedPrinter& planned : printers) {
        if (planned.fault.kind == PrinterFault::Kind::Refuse) {
            continue;
        }
        VirtualPrinter printer(std::move(bound[next++]));
        printer.address = planned.address;
        printer.name = FormatAddress(planned.address) + ":" + std::to_string(m_nPort);
        printer.fault = planned.fault;
        printer.condition = planned.condition;
        if (printer.fault.kind == PrinterFault::Kind::Stall) {
            // Its listening socket stays with its backlog full, and is never accepted from.
            stalled.push_back(m_printers.size());
        } else {
            ++m_nListening;
        }
        m_printers.push_back(std::move(printer));
    }
    FillBacklogs(std::move(stalled));
    return true;
}

bool Emulator::Server::BindAll(const std::vector<PlannedPrinter>& printers,
                               int wanted,
                               std::vector<Tcp::acceptor>& bound,
                               std::string& failure,
                               std::error_code& error) {
    // Binds every printer that is not refused to the same port. With port 0 the first bind picks
    // it; should another address have that port taken already, all start again with a new one.
    for (int attempt = 0; attempt < 20; ++attempt) {
        bound.clear();
        m_nPort = wanted;
        error.clear();
        for (const PlannedPrinter& printer : printers) {
            if (printer.fault.kind == PrinterFault::Kind::Refuse) {
                continue;
            }
            const bool stall = printer.fault.kind == PrinterFault::Kind::Stall;
            Tcp::acceptor listener(m_io);
            listener.open(Tcp::v4(), error);
            if (!error) {
                ShareListeningPort(listener, error);
            }
            if (!error) {
                listener.bind(Endpoint(printer.address, m_nPort), error);
            }
            if (!error) {
                listener.listen(stall ? 0 : asio::socket_base::max_listen_connections, error);
            }
            if (!error) {
                m_nPort = listener.local_endpoint(error).port();
            }
            if (error) {
                failure = FormatAddress(printer.address) + ":" + std::to_string(m_nPort);
                break;
            }
            bound.push_back(std::move(listener));
        }
        if (!error) {
            return true;
        }
        if (wanted != 0 || error != asio::error::address_in_use || bound.empty()) {
            return false;
        }
    }
    return false;
}

void Emulator::Server::FillBacklogs(std::vector<size_t> stalled) {
    // Connects to each stalled printer until its backlog takes no more: the connect that stays
    // pending shows it is full. All printers are filled together, a round at a time.
    for (int round = 0; round < kFillRounds && !stalled.empty(); ++round) {
        // 0: under way, 1: taken, 2: failed.
        const auto taken = std::make_shared<std::vector<char>>(stalled.size(), 0);
        std::vector<Tcp::socket> fillers;
        fillers.reserve(stalled.size());
        for (size_t i = 0; i < stalled.size(); ++i) {
            fillers.emplace_back(m_io);
            std::error_code error;
            fillers.back().open(Tcp::v4(), error);
            if (error) {
                (*taken)[i] = 2;
                continue;
            }
            fillers.back().async_connect(
                Endpoint(m_printers[stalled[i]].address, m_nPort),
                [taken, i](const std::error_code& failure) { (*taken)[i] = failure ? 2 : 1; });
        }
        m_io.restart();
        m_io.run_for(kFillWait);  // or less, once every connect is done
        std::vector<size_t> again;
        for (size_t i = 0; i < stalled.size(); ++i) {
            if ((*taken)[i] == 1) {
                m_printers[stalled[i]].held.push_back(std::move(fillers[i]));
                again.push_back(stalled[i]);  // taken: there may be room for more
            } else {
                std::error_code ignored;
                fillers[i].close(ignored);  // under way: the backlog is full
            }
        }
        m_io.restart();
        m_io.run();  // the connects given up end
        stalled = std::move(again);
    }
}

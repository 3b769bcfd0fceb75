// The status exchange: what every platform does alike. TCP and serial ports go through their
// transports (the serial Read, the network messenger's Receive); USB printers are opened by
// StatusExchange_posix / _win.
#include "transport/StatusExchange.h"

#include <chrono>
#include <thread>
#include <utility>

#include "transport/EthernetMessenger.h"
#include "transport/PortFactory.h"
#include "transport/StatusLink.h"

namespace {

PrinterStatus Unreachable(const std::string& reason, int error) {
    PrinterStatus status;
    status.state = StatusState::Unreachable;
    status.reason = reason.empty() ? "the port could not be opened" : reason;
    status.error = error;
    return status;
}

// A parallel port carries nothing back to the computer. It is opened, as a command would open
// it, so that one that is not there is unreachable; nothing is sent.
PrinterStatus ParallelPort(const LptMessenger& port) {
    if (port.LastError() != 0) {
        return Unreachable(port.LastErrorText(), port.LastError());
    }
    PrinterStatus status;
    status.state = StatusState::NoAnswer;
    status.reason = "a parallel port gives no answers";
    return status;
}

// How a transport reads one byte back: the serial transport's Read, the network messenger's
// Receive.
int ReadOne(ComMessenger& port, unsigned char& byte) {
    return port.Read(&byte, 1);
}
int ReadOne(EthernetMessenger& port, unsigned char& byte) {
    return port.Receive(&byte, 1);
}

// A transport's own Write, its way of reading, and its way of dropping what waits.
template <class Port>
class TransportLink : public StatusLink {
  public:
    explicit TransportLink(std::unique_ptr<Port> port) : m_port(std::move(port)) {}

    bool Send(const unsigned char* data, int length, std::string& reason) override {
        if (m_port->Write(data, length) == kMessengerOk) {
            return true;
        }
        reason = m_port->LastErrorText();
        return false;
    }

    int ReceiveByte(std::string& reason) override {
        unsigned char byte = 0;
        if (ReadOne(*m_port, byte) == kMessengerOk) {
            return byte;
        }
        reason = m_port->LastErrorText();
        return -1;
    }

    int DropInput() override { return m_port->DropWaitingInput(kMostDroppedBytes); }

  private:
    std::unique_ptr<Port> m_port;
};

using SerialLink = TransportLink<StatusComPort>;
using TcpLink = TransportLink<EthernetMessenger>;

// A connection of its own, connected within `connectTimeoutMs`; each answer read within
// `answerTimeoutMs`.
std::unique_ptr<StatusLink> OpenTcpLink(uint32_t address,
                                        int tcpPort,
                                        int connectTimeoutMs,
                                        int answerTimeoutMs,
                                        LinkFailure& failure) {
    std::unique_ptr<EthernetMessenger> tcp(new EthernetMessenger(address, tcpPort, connectTimeoutMs));
    if (IsResetError(tcp->LastError())) {
        // Connected, and reset before the connect was seen done: a printer that took the
        // connection and answered nothing, as when the reset comes a moment later.
        failure.reset = true;
    }
    if (tcp->LastError() != 0) {
        failure.reason = tcp->LastErrorText();
        failure.error = tcp->LastError();
        return nullptr;
    }
    tcp->SetReceiveTimeout(answerTimeoutMs);
    return std::unique_ptr<StatusLink>(new TcpLink(std::move(tcp)));
}

std::unique_ptr<StatusLink> OpenSerialLink(StatusComPort* opened, LinkFailure& failure) {
    std::unique_ptr<StatusComPort> port(opened);
    if (!port->Opened()) {
        failure.reason = port->LastErrorText();
        failure.error = port->LastError();
        return nullptr;
    }
    return std::unique_ptr<StatusLink>(new SerialLink(std::move(port)));
}

// A device that sends what it was not asked for: never a printer, whatever its bytes say.
PrinterStatus NotAPrinter(const StatusAnswers& answers, const std::string& reason) {
    PrinterStatus status;
    status.state = StatusState::NotAPrinter;
    status.answers = answers;
    status.reason = reason;
    return status;
}

// No byte for this long: the device has said what it had to say.
constexpr auto kQuiet = std::chrono::milliseconds(100);
// At most this long is waited for that.
constexpr auto kMostSettle = std::chrono::milliseconds(1000);

// Drops what comes until the device has been quiet for kQuiet; false when it kept sending for
// kMostSettle.
bool Settle(StatusLink& link) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point heard = start;
    while (Clock::now() - heard < kQuiet) {
        if (link.DropInput() > 0) {
            heard = Clock::now();
            if (heard - start >= kMostSettle) {
                return false;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// DLE EOT 1 to 4, each answer read before the next request goes out. A printer answers each
// request with one byte and says nothing unasked: what waits before a request is dropped, and
// when any did (more than one byte came for one request, or bytes came unasked) the device is
// no printer, whatever those bytes would say. Only what came with the first answer may be a
// banner that the first look missed: then, once the device is quiet, the requests start again.
PrinterStatus Exchange(StatusLink& link) {
    link.DropInput();  // before the first request: a banner, a late answer to an earlier exchange
    for (int round = 0;; ++round) {
        StatusAnswers answers = {{-1, -1, -1, -1}};
        bool again = false;
        for (int n = 1; n <= kStatusRequestCount && !again; ++n) {
            const std::array<unsigned char, 3> request = StatusRequestBytes(n);
            std::string why;
            const std::string asked = "DLE EOT " + std::to_string(n);
            if (!link.Send(request.data(), static_cast<int>(request.size()), why)) {
                PrinterStatus status = DecodeStatus(answers);
                status.reason = asked + " could not be sent: " + why;
                return status;
            }
            answers[n - 1] = link.ReceiveByte(why);
            if (answers[n - 1] < 0) {
                PrinterStatus status = DecodeStatus(answers);
                status.reason = "no answer to " + asked + ": " + why;
                return status;
            }
            const int more = link.DropInput();
            if (more == 0) {
                continue;
            }
            if (n > 1 || round > 0) {
                return NotAPrinter(answers, std::to_string(more) + (more == 1 ? " byte" : " bytes") +
                                                " more than the answer came back for " + asked);
            }
            if (!Settle(link)) {
                return NotAPrinter(answers, "bytes kept coming back for " +
                                                std::to_string(kMostSettle.count()) + " ms after " + asked);
            }
            again = true;
        }
        if (!again) {
            return DecodeStatus(answers);
        }
    }
}

}  // namespace

PrinterStatus ReadPrinterStatus(const SendOptions& options, int answerTimeoutMs) {
    const PortUri& port = options.port;
    LinkFailure failure;
    std::unique_ptr<StatusLink> link;
    switch (port.kind) {
        case PortUri::Kind::Socket: {
            uint32_t address = 0;
            std::string problem;
            if (!ResolveIpv4(port.host, address, problem)) {
                return Unreachable(problem, 0);
            }
            link = OpenTcpLink(address, port.tcpPort, options.connectTimeoutMs, answerTimeoutMs, failure);
            break;
        }
        case PortUri::Kind::Serial:
            link = OpenSerialLink(new StatusComPort(port.device, port.baud != 0 ? port.baud : options.baud),
                                  failure);
            break;
        case PortUri::Kind::Parallel:
            return ParallelPort(LptMessenger(port.device));
        case PortUri::Kind::Usb:
            link = OpenUsbLink(port.device, answerTimeoutMs, failure);
            break;
        case PortUri::Kind::PortIndex:
            if (port.portIndex == kPortUsb) {
                link = OpenUsbLink("", answerTimeoutMs, failure);
            } else if (port.portIndex >= kPortLpt1 && port.portIndex <= kPortLpt3) {
                return ParallelPort(LptMessenger(port.portIndex - kPortLpt1));
            } else if (port.portIndex == kPortCom1 || port.portIndex == kPortCom2) {
                link = OpenSerialLink(new StatusComPort(port.portIndex - kPortCom1, options.baud), failure);
            } else {
                return Unreachable("no such port", 0);
            }
            break;
    }
    if (!link && failure.reset) {
        // One state for one cause: a reset seen at the connect is what it is when seen later.
        PrinterStatus status;
        status.reason = "no answer to DLE EOT 1: " + failure.reason;
        return status;  // no-answer
    }
    if (!link) {
        return Unreachable(failure.reason, failure.error);
    }
    return Exchange(*link);
}

// The status exchange: what every platform does alike. TCP and serial ports go through their
// transports (the serial Read, the network messenger's Receive); USB printers are opened by
// StatusExchange_posix / _win.
#include "transport/StatusExchange.h"

#include <chrono>
#include <thread>
#include <utility>

#include "transport/EthernetMessenger.h"
#include "transport/PortFactory.h"
#include "transport/StatusDialogue.h"
#include "transport/StatusLink.h"

namespace {

PrinterStatus Unreachable(const std::string& reason, int error) {
    return FailedOpenStatus(reason, error, false);
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

// Asks for the status on `link`, step by step as the dialogue says.
PrinterStatus Exchange(StatusLink& link) {
    StatusDialogue dialogue;
    for (;;) {
        std::string why;
        switch (dialogue.Next()) {
            case StatusDialogue::Step::Drop:
                dialogue.Dropped(link.DropInput());
                break;
            case StatusDialogue::Step::Send: {
                const std::array<unsigned char, 3> request = dialogue.Request();
                const bool sent = link.Send(request.data(), static_cast<int>(request.size()), why);
                dialogue.Sent(sent, why);
                break;
            }
            case StatusDialogue::Step::Receive: {
                const int byte = link.ReceiveByte(why);
                dialogue.Received(byte, why);
                break;
            }
            case StatusDialogue::Step::Pause:
                std::this_thread::sleep_for(std::chrono::milliseconds(StatusDialogue::kPauseMs));
                dialogue.Paused();
                break;
            case StatusDialogue::Step::Done:
                return dialogue.Result();
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
    if (!link) {
        return FailedOpenStatus(failure.reason, failure.error, failure.reset);
    }
    return Exchange(*link);
}

// The status exchange: what every platform does alike. TCP and serial ports go through their
// transports (the serial Read, the network messenger's Receive); USB printers are opened by
// StatusExchange_posix / _win.
#include "StatusExchange.h"

#include <utility>

#include "EthernetMessenger.h"
#include "PortFactory.h"
#include "StatusLink.h"

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

// A transport's own Write, and its way of reading: the serial transport's Read, the network
// messenger's Receive.
template <class Port, int (Port::*Read)(void*, int)>
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
        if (((*m_port).*Read)(&byte, 1) == kMessengerOk) {
            return byte;
        }
        reason = m_port->LastErrorText();
        return -1;
    }

  private:
    std::unique_ptr<Port> m_port;
};

using SerialLink = TransportLink<ComMessenger, &ComMessenger::Read>;
using TcpLink = TransportLink<EthernetMessenger, &EthernetMessenger::Receive>;

// A connection of its own, connected within `connectTimeoutMs`; each answer read within
// `answerTimeoutMs`.
std::unique_ptr<StatusLink> OpenTcpLink(uint32_t address,
                                        int tcpPort,
                                        int connectTimeoutMs,
                                        int answerTimeoutMs,
                                        LinkFailure& failure) {
    std::unique_ptr<EthernetMessenger> tcp(new EthernetMessenger(address, tcpPort, connectTimeoutMs));
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
    port->DropWaitingInput();
    return std::unique_ptr<StatusLink>(new SerialLink(std::move(port)));
}

// DLE EOT 1 to 4, each answer read before the next request goes out.
PrinterStatus Exchange(StatusLink& link) {
    StatusAnswers answers = {{-1, -1, -1, -1}};
    for (int n = 1; n <= kStatusRequestCount; ++n) {
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
    }
    return DecodeStatus(answers);
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
        return Unreachable(failure.reason, failure.error);
    }
    return Exchange(*link);
}

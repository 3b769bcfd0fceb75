#include "transport/SendCmd.h"

#include <memory>

#include "commands/Cmd.h"
#include "transport/CmdSender.h"
#include "transport/EthernetMessenger.h"
#include "transport/PortFactory.h"
#include "transport/SerialMessengers.h"
#include "transport/UsbMessenger.h"

namespace {

// Hands a messenger back the way it was made: the factory's through ReleaseMessenger, our own by
// delete. The process-wide USB messenger is destroyed after its own send only: another port's
// send must not take it from a job that is using it.
struct MessengerDisposer {
    bool fromFactory = false;
    bool usb = false;
    void operator()(Messenger* messenger) const {
        if (fromFactory) {
            ReleaseMessenger(messenger);
            if (usb) {
                DestroyUsbMessenger();
            }
        } else {
            delete messenger;
        }
    }
};
using MessengerPtr = std::unique_ptr<Messenger, MessengerDisposer>;

MessengerPtr OpenPort(const SendOptions& options, std::string& error) {
    const PortUri& port = options.port;
    switch (port.kind) {
        case PortUri::Kind::Socket: {
            uint32_t address = 0;
            if (!ResolveIpv4(port.host, address, error)) {
                return MessengerPtr();
            }
            return MessengerPtr(new EthernetMessenger(address, port.tcpPort, options.connectTimeoutMs));
        }
        case PortUri::Kind::Serial:
            return MessengerPtr(new ComMessenger(port.device, port.baud != 0 ? port.baud : options.baud));
        case PortUri::Kind::Parallel:
            return MessengerPtr(new LptMessenger(port.device));
        case PortUri::Kind::Usb:
#ifndef _WIN32
            if (!port.device.empty()) {
                return MessengerPtr(new UsbMessenger(port.device));
            }
#endif
            return MessengerPtr(CreateMessenger(kPortUsb, 0, 0), MessengerDisposer{true, true});
        case PortUri::Kind::PortIndex: {
            const int baudIndex = BaudIndex(options.baud);
            return MessengerPtr(CreateMessenger(port.portIndex, baudIndex < 0 ? 0 : baudIndex, 0),
                                MessengerDisposer{true, port.portIndex == kPortUsb});
        }
    }
    return MessengerPtr();
}

}  // namespace

SendOutcome SendCmd(const SendOptions& options,
                    const Cmd& cmd,
                    int awaitCloseMs,
                    const BeforeWrite& beforeWrite) {
    SendOutcome outcome;
    MessengerPtr messenger = OpenPort(options, outcome.reason);
    if (!messenger) {
        outcome.result = SendOutcome::Result::Failed;
        if (outcome.reason.empty()) {
            outcome.reason = "no such port";
        }
        return outcome;
    }
    if (beforeWrite && !beforeWrite(outcome.reason)) {
        outcome.result = SendOutcome::Result::Failed;
        return outcome;
    }
    int result = CmdSender(messenger.get()).Send(cmd);
    if (result == kMessengerOk && awaitCloseMs > 0 && options.port.kind == PortUri::Kind::Socket) {
        const int ended = static_cast<EthernetMessenger&>(*messenger).EndAndAwaitClose(awaitCloseMs);
        result = ended == kMessengerTimeout ? kMessengerOk : ended;
    }
    if (result == kMessengerOk) {
        return outcome;
    }
    outcome.reason = messenger->LastErrorText();
    outcome.error = messenger->LastError();
    if (result == kMessengerTimeout) {
        outcome.result = SendOutcome::Result::TimedOut;
        if (outcome.reason.empty()) {
            outcome.reason = "write timed out";
        }
        return outcome;
    }
    outcome.result = SendOutcome::Result::Failed;
    if (outcome.reason.empty()) {
        outcome.reason = "write failed";
    }
    return outcome;
}

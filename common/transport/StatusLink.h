// Inside the status exchange (StatusExchange.h): one open port that requests go out on and
// answers come back from, made by each platform's code (StatusExchange_posix / _win).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "commands/PrinterStatus.h"
#include "transport/SerialMessengers.h"

/// One open connection or device, closed when it goes.
class StatusLink {
  public:
    virtual ~StatusLink() = default;
    /// Sends all `length` bytes within the link's bound; false with `reason` when not.
    virtual bool Send(const unsigned char* data, int length, std::string& reason) = 0;
    /// The next byte that comes back within the link's bound, or -1 with `reason` ("none within
    /// 1000 ms", "the printer closed the connection", ...).
    virtual int ReceiveByte(std::string& reason) = 0;
    /// Drops what has come back and not been read, without waiting: how many bytes (at most
    /// kMostDroppedBytes a call), 0 when none. A failure is left for the next Send or ReceiveByte
    /// to tell.
    virtual int DropInput() = 0;
};

/// Most bytes one DropInput takes.
constexpr int kMostDroppedBytes = 4096;

/// Whether the system's error `code` says that the other end reset the connection (platform code).
bool IsResetError(int code);

/// What a link that could not be opened says: the state unreachable (no-answer for a reset), the
/// reason and the code.
struct LinkFailure {
    std::string reason;
    int error = 0;
    bool reset = false;  // the connection was made and reset before the connect was seen done
};

/// The USB printer `device` (POSIX; empty: the one the search keeps) for reading and writing;
/// answers waited for `answerTimeoutMs` each. Null with `failure` when none opens.
std::unique_ptr<StatusLink> OpenUsbLink(const std::string& device, int answerTimeoutMs, LinkFailure& failure);

/// A serial port for the exchange: the serial transport itself, and what the exchange needs
/// besides (platform code).
class StatusComPort : public ComMessenger {
  public:
    using ComMessenger::ComMessenger;
    /// The port opened.
    bool Opened() const;
    /// Drops what has arrived and not been read, without waiting: how many bytes (at most `most`).
    int DropWaitingInput(int most);
};

// Serial (COM) and parallel (LPT) ports.
#pragma once

#include <string>

#include "Messenger.h"

/// A serial port at a baud rate, 8N1, DTR and RTS on, no flow control, opened exclusively.
class ComMessenger : public Messenger {
public:
    /// Port number 0 = COM1, 1 = COM2 (on POSIX /dev/ttyS0, /dev/ttyS1); others open nothing.
    ComMessenger(int portNumber, int baudRate);
    /// Any serial device by name: "COM3" on Windows, "/dev/ttyUSB0" on POSIX.
    ComMessenger(const std::string& device, int baudRate);
    ~ComMessenger() override;

    int Close() override;
    /// Reads exactly length bytes that arrive within about 1.6 s: 0, or -1.
    int Read(void* buffer, int length) override;
    virtual int OpenPort(int portNumber, int baudRate);

private:
    int OpenDevice(const std::string& device, int baudRate);
};

/// A parallel port, opened exclusively, with no configuration.
class LptMessenger : public Messenger {
public:
    /// Port number 0, 1, 2 = LPT1, LPT2, LPT3 (on POSIX /dev/lp0, /dev/lp1, /dev/lp2).
    explicit LptMessenger(int portNumber);
    /// Any parallel device by name: "LPT1" on Windows, "/dev/lp0" on POSIX.
    explicit LptMessenger(const std::string& device);
    ~LptMessenger() override;

    int Close() override;
    virtual int OpenPort(int portNumber);

private:
    int OpenDevice(const std::string& device);
};

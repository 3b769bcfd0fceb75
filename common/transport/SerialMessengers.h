// Serial (COM) and parallel (LPT) ports.
#pragma once

#include <string>

#include "transport/Messenger.h"

/// A serial port at a baud rate, 8N1, DTR and RTS on, no flow control, opened exclusively.
class ComMessenger : public Messenger {
  public:
    /// Port number 0 = COM1, 1 = COM2 (on POSIX /dev/ttyS0, /dev/ttyS1); others open nothing.
    ComMessenger(int portNumber, int baudRate);
    /// Any serial device by name: "COM3" on Windows, "/dev/ttyUSB0" on POSIX.
    ComMessenger(const std::string& device, int baudRate);
    ~ComMessenger() override;

    int Close() override;
    /// Reads exactly length bytes of what has arrived, looking every 100 ms at most 16 times: 0,
    /// or -1. Bytes that a failed Read took from the port are not lost: the next Read answers
    /// them first.
    int Read(void* buffer, int length) override;
    virtual int OpenPort(int portNumber, int baudRate);

  protected:
    /// Drops the bytes a failed Read kept; answers how many.
    int DropKept() {
        const int count = static_cast<int>(m_strKept.size());
        m_strKept.clear();
        return count;
    }

  private:
    int OpenDevice(const std::string& device, int baudRate);
    /// Moves kept bytes to the front of a Read's buffer; answers how many.
    int TakeKept(char* into, int length);
    /// Keeps the bytes a failing Read has taken, for the next Read.
    void Keep(const char* taken, int count) { m_strKept.append(taken, static_cast<size_t>(count)); }

    std::string m_strKept;
};

inline int ComMessenger::TakeKept(char* into, int length) {
    const size_t count =
        m_strKept.size() < static_cast<size_t>(length) ? m_strKept.size() : static_cast<size_t>(length);
    m_strKept.copy(into, count);
    m_strKept.erase(0, count);
    return static_cast<int>(count);
}

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

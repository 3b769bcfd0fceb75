// The far end of the ports that the transport tests write to: where the printer would sit. The
// tests are the same on both platforms; only this far end differs. Natively (FarEnd_posix.cpp)
// the test makes it itself: pseudo-terminals, FIFOs, loopback sockets, and a search folder of
// USB printers (TOL_USB_DIR). Under Wine (FarEnd_win.cpp) tests/wine/bench.sh makes ptys and a
// stalled FIFO behind the DOS device names, and FakeUsbPrinter fakes the USB interfaces.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "tests/transport/LoopbackPort.h"
#include "transport/Messenger.h"
#include "transport/SerialMessengers.h"

#ifdef _WIN32
using FileOwner = UniqueKernelHandle;

/// How many uses of Windows Sockets this process holds now (Asio's own among them, started before
/// main): counted by ending them all, then started again as many times.
int WinsockUses();
#else
using FileOwner = UniqueFd;
#endif

/// A failure as the platform reports it: its code, and the text the tests expect. Where the
/// text is empty the tests only ask for one that is not.
struct Failure {
    int code;
    const char* text;
};

/// The platform's codes and texts for the failures that the tests provoke.
extern const Failure kNotFound;         // no device by that name
extern const Failure kNoSuchPort;       // a port number outside the range
extern const Failure kNoUsbPrinter;     // the search found no printer (the text is a part)
extern const Failure kWillNotOpen;      // a USB printer that is listed but cannot be opened
extern const Failure kWriteTimedOut;    // a write that did not end within its bound
extern const Failure kConnectTimedOut;  // a connect that did not end within its bound
extern const Failure kRefused;          // a connect that nobody listens for

/// True when the messenger's last failure text is the expected one, or any text where no
/// text is expected.
inline ::testing::AssertionResult SaysWhy(const Messenger& messenger, const Failure& expected) {
    const std::string& text = messenger.LastErrorText();
    if (*expected.text == '\0') {
        return text.empty() ? ::testing::AssertionFailure() << "no error text"
                            : ::testing::AssertionSuccess();
    }
    if (text == expected.text) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "error text \"" << text << "\", expected \"" << expected.text << "\"";
}

/// Milliseconds since it was made, on the monotonic clock.
class Stopwatch {
  public:
    long long Ms() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_start).count();
    }

  private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point m_start = Clock::now();
};

/// How long one write may take and still count as failing at once: well short of the write
/// timeout it would wait out if it waited on a device. Taken per write, so that the opens of a
/// busy machine (each a round trip to the Wine server) never add up against it.
constexpr long long kFailsAtOnceMs = kWriteTimeoutMs / 2;

/// Line settings of a serial far end, as the driver has them now.
struct LineSettings {
    int inputBaud = 0;
    int outputBaud = 0;
    int dataBits = 0;
    bool parity = true;
    bool twoStopBits = true;
    bool rtsCts = true;        // hardware flow control
    bool xonOutput = true;     // IXON
    bool xoffInput = true;     // IXOFF
    bool anyRestarts = true;   // IXANY
    bool outputCooked = true;  // OPOST
    bool canonical = true;     // ICANON
    bool echo = true;
    bool signals = true;  // ISIG
    int startChar = -1;   // VSTART
    int stopChar = -1;    // VSTOP
};

/// What stands behind a port's name.
enum class EndKind {
    Line,        // a serial line (a pty) whose settings are the messenger's to make
    RawLine,     // a pty that passes bytes as they are, as a USB printer does
    Printer,     // a printer that takes whatever arrives (natively a FIFO, under Wine a pty)
    Stalled,     // a printer whose buffer is full and that takes nothing until Drain
    Unopenable,  // a name that is there but cannot be opened (a FIFO nobody reads; no device)
};

/// One port's far end.
class PortEnd {
  public:
    virtual ~PortEnd() = default;

    /// The name a messenger opens it by: a path natively, "COM3" or "LPT1" under Wine.
    virtual std::string Device() const = 0;
    /// The bytes that have arrived since the last Take, once there are at least `atLeast` of
    /// them (or after 3 s); bytes that follow a moment later are part of the answer too.
    virtual std::string Take(size_t atLeast) = 0;
    /// Sends bytes from the printer's side towards the program (a pty only).
    virtual bool Send(const std::string& bytes) = 0;
    /// From now on the printer's side answers each status request DLE EOT n (10 04 n) with byte
    /// n of `answers` (n 1-4), at once (a pty only); with 4 x K bytes, with the n-th K of them.
    /// Take still gets every byte that arrives.
    virtual bool AnswerStatus(const std::string& answers) = 0;
    /// How many handles of the program hold the device open: non-zero while a messenger has it.
    virtual int Holders() = 0;
    /// The line settings the device has now (a pty only).
    virtual LineSettings Line() = 0;
    /// Line settings in stty's words ("1200 cstopb ..."), as a driver might have left them.
    virtual bool Preset(const std::string& settings) = 0;
    /// A Stalled end starts taking data; what filled it (65536 zero bytes) comes first in Take.
    virtual bool Drain() = 0;
    /// The device ends; its name stays and leads nowhere, as after an unplug.
    virtual bool Unplug() = 0;
    /// A new device of the same kind behind the same name.
    virtual bool Replug() = 0;
};

/// The fixture of every transport test: makes far ends and takes them away again afterwards.
class FarEndTest : public ::testing::Test {
  protected:
    FarEndTest();
    ~FarEndTest() override;
    void SetUp() override;
    void TearDown() override;

    /// A far end behind a port name ("com1", "lpt2", lower case).
    PortEnd& Port(const std::string& name, EndKind kind);
    /// Nothing behind `name`; answers the name a messenger would open it by.
    std::string Absent(const std::string& name);
    /// A regular file `name` holding `bytes`, in a temporary folder; answers its path (on Windows
    /// a path, not a DOS device's name), for a messenger given it as a device.
    std::string RegularFile(const std::string& name, const std::string& bytes);
    /// What the file at `path` holds now.
    static std::string FileBytes(const std::string& path);
    /// USB printer `number` for the USB messenger's search; the printers enumerate in the
    /// order of their numbers.
    PortEnd& UsbPrinter(int number, EndKind kind = EndKind::Printer);
    /// USB printer `number` leaves the search altogether.
    void RemoveUsbPrinter(int number);
    /// Makes the port of a port index (kPortLpt1 ... kPortCom2) absent; false when the test
    /// cannot make it so (natively: a device of that name exists on this machine).
    bool AbsentPortIndex(int portIndex);

  private:
    struct Platform;
    std::unique_ptr<Platform> m_platform;
};

/// A messenger that writes into a pipe whose other end the test reads. The pipe holds little,
/// so that a large write waits for its reader.
class PipeMessenger : public Messenger {
  public:
    PipeMessenger();
    ~PipeMessenger() override;

    bool Ready() const;
    /// Reads everything the pipe holds now.
    std::string ReadAvailable();
    /// The reader goes away: writes fail from now on.
    void CloseReader();

  private:
    FileOwner m_reader;
};

/// A COM port whose test can see whether the far end's bytes have reached the driver.
class WatchedCom : public ComMessenger {
  public:
    using ComMessenger::ComMessenger;
    /// Waits up to 3 s until at least `count` bytes wait to be read.
    bool Arrived(int count) const {
        for (int i = 0; i < 300; ++i) {
            if (Waiting() >= count) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

  private:
    /// How many bytes the driver holds for the next read (-1 when it cannot tell).
    int Waiting() const;
};

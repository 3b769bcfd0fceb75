// The status exchange's rules apart from any port (StatusExchange.h): which step comes next and
// what the printer's answers, its silences and its surplus bytes make. The exchange on a device
// (blocking, StatusExchange.cpp) and the TCP exchange on an event loop (StatusReads.cpp) both do
// the steps it gives and report each step's outcome back to it.
#pragma once

#include <array>
#include <chrono>
#include <string>

#include "commands/PrinterStatus.h"

class StatusDialogue {
  public:
    enum class Step {
        Drop,     // drop what has come back and not been read, without waiting; then Dropped
        Send,     // send Request() within the link's bound; then Sent
        Receive,  // read one byte within the answer's bound; then Received
        Pause,  // wait kPauseMs (a device settling after bytes that came with its first answer); then Paused
        Done,   // Result() is what the exchange found
    };

    /// How long a Pause is.
    static constexpr int kPauseMs = 10;

    Step Next() const { return m_step; }
    /// The request to send: DLE EOT n.
    std::array<unsigned char, 3> Request() const;
    /// The Drop step's outcome: how many bytes were dropped.
    void Dropped(int count);
    /// The Send step's outcome; `reason` why it failed ("write timed out: ...").
    void Sent(bool ok, const std::string& reason);
    /// The Receive step's outcome: the byte, or -1 with `reason` ("none within 1000 ms").
    void Received(int byte, const std::string& reason);
    void Paused();
    const PrinterStatus& Result() const { return m_result; }

  private:
    using Clock = std::chrono::steady_clock;
    enum class Dropping { Banner, AfterAnswer, Settling };

    void Finish(PrinterStatus status);
    void StartRound();

    Step m_step = Step::Drop;
    Dropping m_dropping = Dropping::Banner;
    int m_round = 0;
    int m_n = 1;  // the request under way, 1 to 4
    StatusAnswers m_answers = {{-1, -1, -1, -1}};
    Clock::time_point m_settleStart, m_heard;
    PrinterStatus m_result;
};

/// What a port that could not be opened or connected makes: unreachable, with the system's
/// `reason` and `error`; but a connection reset before the connect was seen done (`reset`) is a
/// printer that took the connection and answered nothing: no-answer, as a reset seen later is.
PrinterStatus FailedOpenStatus(const std::string& reason, int error, bool reset);

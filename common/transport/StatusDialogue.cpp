#include "transport/StatusDialogue.h"

namespace {

// No byte for this long: the device has said what it had to say.
constexpr auto kQuiet = std::chrono::milliseconds(100);
// At most this long is waited for that.
constexpr auto kMostSettle = std::chrono::milliseconds(1000);

std::string Asked(int n) {
    return "DLE EOT " + std::to_string(n);
}

// A device that sends what it was not asked for: never a printer, whatever its bytes say.
PrinterStatus NotAPrinter(const StatusAnswers& answers, const std::string& reason) {
    PrinterStatus status;
    status.state = StatusState::NotAPrinter;
    status.answers = answers;
    status.reason = reason;
    return status;
}

}  // namespace

std::array<unsigned char, 3> StatusDialogue::Request() const {
    return StatusRequestBytes(m_n);
}

// DLE EOT 1 to 4, each answer read before the next request goes out. A printer answers each
// request with one byte and says nothing unasked: what waits before a request is dropped, and
// when any did (more than one byte came for one request, or bytes came unasked) the device is
// no printer, whatever those bytes would say. Only what came with the first answer may be a
// banner that the first look missed: then, once the device is quiet, the requests start again.
void StatusDialogue::Dropped(int count) {
    switch (m_dropping) {
        case Dropping::Banner:
            // Before the first request: a banner, a late answer to an earlier exchange.
            m_step = Step::Send;
            return;
        case Dropping::AfterAnswer:
            if (count == 0) {
                if (m_n == kStatusRequestCount) {
                    Finish(DecodeStatus(m_answers));
                } else {
                    ++m_n;
                    m_step = Step::Send;
                }
            } else if (m_n > 1 || m_round > 0) {
                Finish(NotAPrinter(m_answers, std::to_string(count) + (count == 1 ? " byte" : " bytes") +
                                                  " more than the answer came back for " + Asked(m_n)));
            } else {
                // Dropped until the device has been quiet for kQuiet; no printer when it keeps
                // sending for kMostSettle.
                m_dropping = Dropping::Settling;
                m_settleStart = m_heard = Clock::now();
                m_step = Step::Drop;
            }
            return;
        case Dropping::Settling:
            if (count > 0) {
                m_heard = Clock::now();
                if (m_heard - m_settleStart >= kMostSettle) {
                    Finish(NotAPrinter(m_answers, "bytes kept coming back for " +
                                                      std::to_string(kMostSettle.count()) + " ms after " +
                                                      Asked(m_n)));
                    return;
                }
            }
            m_step = Step::Pause;
            return;
    }
}

void StatusDialogue::Paused() {
    if (Clock::now() - m_heard < kQuiet) {
        m_step = Step::Drop;
    } else {
        StartRound();  // the device is quiet: the requests start again, once
    }
}

void StatusDialogue::Sent(bool ok, const std::string& reason) {
    if (!ok) {
        PrinterStatus status = DecodeStatus(m_answers);
        status.reason = Asked(m_n) + " could not be sent: " + reason;
        Finish(status);
        return;
    }
    m_step = Step::Receive;
}

void StatusDialogue::Received(int byte, const std::string& reason) {
    if (byte < 0) {
        PrinterStatus status = DecodeStatus(m_answers);
        status.reason = "no answer to " + Asked(m_n) + ": " + reason;
        Finish(status);
        return;
    }
    m_answers[m_n - 1] = byte;
    m_dropping = Dropping::AfterAnswer;
    m_step = Step::Drop;
}

void StatusDialogue::Finish(PrinterStatus status) {
    m_result = std::move(status);
    m_step = Step::Done;
}

void StatusDialogue::StartRound() {
    ++m_round;
    m_n = 1;
    m_answers = {{-1, -1, -1, -1}};
    m_step = Step::Send;
}

PrinterStatus FailedOpenStatus(const std::string& reason, int error, bool reset) {
    PrinterStatus status;
    if (reset) {
        // One state for one cause: a reset seen at the connect is what it is when seen later.
        status.reason = "no answer to DLE EOT 1: " + reason;
        return status;  // no-answer
    }
    status.state = StatusState::Unreachable;
    status.reason = reason.empty() ? "the port could not be opened" : reason;
    status.error = error;
    return status;
}

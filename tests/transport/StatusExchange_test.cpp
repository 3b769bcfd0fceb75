// The status exchange on every kind of port: the far end answers DLE EOT n as a printer would,
// gives bytes that are no status, stays silent, or is not there. A TCP printer both ways: by the
// blocking exchange and on an event loop, as fleets are read (StatusReads.h).
#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include <string>
#include <thread>

#include "tests/transport/FarEnd.h"
#include "transport/StatusExchange.h"
#include "transport/StatusReads.h"

namespace {

const std::string kAllRequests("\x10\x04\x01\x10\x04\x02\x10\x04\x03\x10\x04\x04", 12);

SendOptions PortOf(PortUri::Kind kind, const std::string& device, int tcpPort = 0) {
    SendOptions options;
    options.port.kind = kind;
    options.port.device = device;
    options.port.host = "127.0.0.1";
    options.port.tcpPort = tcpPort;
    options.connectTimeoutMs = 2000;
    return options;
}

// Accepts one connection on `port` and answers each request DLE EOT n with byte n of `answers`
// until the connection ends; what it heard goes to `heard`. A device that is no printer sends
// `banner` first, or `extra` after each answer.
std::thread AnswerOnce(LoopbackPort& port,
                       const std::string& answers,
                       std::string& heard,
                       const std::string& banner = "",
                       const std::string& extra = "") {
    return std::thread([&port, answers, &heard, banner, extra] {
        Connection printer = port.Accept();
        printer.Send(banner);
        for (std::string request;; request.clear()) {
            while (request.size() < 3 && printer.Valid()) {
                const std::string got = printer.ReceiveSome(3 - request.size());
                if (got.empty()) {
                    return;
                }
                request += got;
            }
            heard += request;
            const size_t n = static_cast<unsigned char>(request[2]);
            printer.Send((n >= 1 && n <= answers.size() ? answers.substr(n - 1, 1) : "") + extra);
        }
    });
}

class StatusExchangeTest : public FarEndTest {};

// The TCP exchange on an event loop, one printer: what it found, told once.
PrinterStatus ReadOnLoop(const SendOptions& options, int answerTimeoutMs) {
    asio::io_context io;
    PrinterStatus found;
    int told = 0;
    ReadTcpStatus(io, options, answerTimeoutMs, [&](const PrinterStatus& status) {
        found = status;
        ++told;
    });
    io.run();
    EXPECT_EQ(told, 1);
    return found;
}

using TcpReader = PrinterStatus (*)(const SendOptions& options, int answerTimeoutMs);

class TcpStatusTest : public StatusExchangeTest, public ::testing::WithParamInterface<TcpReader> {};

INSTANTIATE_TEST_SUITE_P(BlockingAndOnALoop,
                         TcpStatusTest,
                         ::testing::Values(&ReadPrinterStatus, &ReadOnLoop));

TEST_P(TcpStatusTest, TcpAsksTheFourStatusesOnOneConnection) {
    LoopbackPort port;
    ASSERT_TRUE(port.Listen());
    for (const std::string& answers : {std::string("\x1a\x12\x12\x16"), std::string("\x16\x41\x12\x12")}) {
        std::string heard;
        std::thread printer = AnswerOnce(port, answers, heard);
        const PrinterStatus status = GetParam()(PortOf(PortUri::Kind::Socket, "", port.Port()), 2000);
        printer.join();
        EXPECT_EQ(heard, kAllRequests);
        if (answers[1] == '\x41') {
            EXPECT_EQ(status.state, StatusState::NotAPrinter);
            EXPECT_EQ(StatusAnswersText(status.answers), "16 41 12 12");
        } else {
            EXPECT_EQ(status.state, StatusState::Offline);
            EXPECT_EQ(StatusAnswersText(status.answers), "1a 12 12 16");
        }
    }
}

TEST_P(TcpStatusTest, TcpPeerThatNeverAnswersIsAskedOnceAndOneThatRefusesIsUnreachable) {
    LoopbackPort silent;
    ASSERT_TRUE(silent.Listen());  // connects complete, but nobody accepts or answers
    const PrinterStatus quiet = GetParam()(PortOf(PortUri::Kind::Socket, "", silent.Port()), 200);
    EXPECT_EQ(quiet.state, StatusState::NoAnswer);
    EXPECT_EQ(StatusAnswersText(quiet.answers), "- - - -");
    EXPECT_EQ(quiet.reason, "no answer to DLE EOT 1: none within 200 ms");
    Connection late = silent.Accept();
    EXPECT_EQ(late.ReceiveSome(100), std::string("\x10\x04\x01", 3));  // nothing after the first

    LoopbackPort refusing;  // bound, not listening
    const PrinterStatus refused = GetParam()(PortOf(PortUri::Kind::Socket, "", refusing.Port()), 200);
    EXPECT_EQ(refused.state, StatusState::Unreachable);
    EXPECT_EQ(refused.error, kRefused.code);
    EXPECT_FALSE(refused.reason.empty());
}

TEST_F(StatusExchangeTest, SerialPortAnswersThroughTheSerialTransport) {
    PortEnd& printer = Port("com1", EndKind::Line);
    ASSERT_TRUE(printer.AnswerStatus("\x16\x12\x12\x12"));
    const PrinterStatus status = ReadPrinterStatus(PortOf(PortUri::Kind::Serial, printer.Device()), 1000);
    EXPECT_EQ(StatusAnswersText(status.answers), "16 12 12 12") << status.reason;
    EXPECT_EQ(status.state, StatusState::Ok);
    EXPECT_EQ(printer.Take(12), kAllRequests);

    PortEnd& silent = Port("com2", EndKind::Line);
    const PrinterStatus quiet = ReadPrinterStatus(PortOf(PortUri::Kind::Serial, silent.Device()), 1000);
    EXPECT_EQ(quiet.state, StatusState::NoAnswer);
    EXPECT_EQ(silent.Take(3), std::string("\x10\x04\x01", 3));

    const PrinterStatus absent = ReadPrinterStatus(PortOf(PortUri::Kind::Serial, Absent("com4")), 1000);
    EXPECT_EQ(absent.state, StatusState::Unreachable);
    EXPECT_EQ(absent.error, kNotFound.code);

    // A banner before the first request is dropped; a byte more than each answer makes no printer.
    PortEnd& chatty = Port("com3", EndKind::Line);
    ASSERT_TRUE(chatty.Send("ready\r\n"));
    ASSERT_TRUE(chatty.AnswerStatus("\x16\x16\x12\x16\x12\x16\x12\x16"));
    const PrinterStatus surplus = ReadPrinterStatus(PortOf(PortUri::Kind::Serial, chatty.Device()), 1000);
    EXPECT_EQ(surplus.state, StatusState::NotAPrinter) << StatusAnswersText(surplus.answers);
    EXPECT_EQ(surplus.conditions, 0);
}

TEST_P(TcpStatusTest, StrayBytesMakeNoConditionsABannerIsDroppedAndAResetIsAlwaysNoAnswer) {
    LoopbackPort port;
    ASSERT_TRUE(port.Listen());
    const SendOptions tcp = PortOf(PortUri::Kind::Socket, "", port.Port());
    std::string heard;
    std::thread banner = AnswerOnce(port, "\x16\x12\x12\x12", heard, "ready\r\n");
    const PrinterStatus greeted = GetParam()(tcp, 1000);
    banner.join();
    EXPECT_EQ(StatusAnswersText(greeted.answers), "16 12 12 12") << greeted.reason;
    EXPECT_EQ(greeted.state, StatusState::Ok);

    // Two bytes more than each answer (as the emulator's surplus fault), or a flood of them.
    std::thread surplus = AnswerOnce(port, "\x16\x12\x12\x12", heard, "", "\x16\x16");
    const PrinterStatus more = GetParam()(tcp, 1000);
    surplus.join();
    std::thread flood([&port] {
        for (Connection device = port.Accept(); device.Send(std::string(4096, '\x16'));) {
        }
    });
    const PrinterStatus flooded = GetParam()(tcp, 1000);
    flood.join();
    for (const PrinterStatus& status : {more, flooded}) {
        EXPECT_EQ(status.state, StatusState::NotAPrinter) << StatusAnswersText(status.answers);
        EXPECT_EQ(status.conditions, 0) << status.reason;
    }

    // Reset at once: seen at the connect or at the first read, one state.
    std::thread resets([&port] {
        for (int i = 0; i < 10; ++i) {
            port.Accept().Reset();
        }
    });
    for (int i = 0; i < 10; ++i) {
        const PrinterStatus status = GetParam()(tcp, 1000);
        EXPECT_EQ(status.state, StatusState::NoAnswer) << status.reason;
    }
    resets.join();
}

TEST_F(StatusExchangeTest, UsbPrinterThatTheSearchKeepsAnswers) {
    const PrinterStatus none = ReadPrinterStatus(PortOf(PortUri::Kind::Usb, ""), 500);
    EXPECT_EQ(none.state, StatusState::Unreachable);
    EXPECT_EQ(none.error, kNoUsbPrinter.code);

    PortEnd& first = UsbPrinter(1, EndKind::RawLine);
    PortEnd& last = UsbPrinter(2, EndKind::RawLine);
    ASSERT_TRUE(first.AnswerStatus("\x12\x12\x12\x12"));
    ASSERT_TRUE(last.AnswerStatus("\x12\x16\x12\x12"));
    const PrinterStatus status = ReadPrinterStatus(PortOf(PortUri::Kind::Usb, ""), 2000);
    EXPECT_EQ(StatusAnswersText(status.answers), "12 16 12 12") << status.reason;
    EXPECT_EQ(status.state, StatusState::Warning);
    EXPECT_EQ(last.Take(12), kAllRequests);
    EXPECT_EQ(first.Take(0), "");
}

TEST_F(StatusExchangeTest, ParallelPortIsSentNothingAndGivesNoAnswer) {
    PortEnd& printer = Port("lpt1", EndKind::Printer);
    const PrinterStatus status = ReadPrinterStatus(PortOf(PortUri::Kind::Parallel, printer.Device()), 1000);
    EXPECT_EQ(status.state, StatusState::NoAnswer);
    EXPECT_EQ(status.reason, "a parallel port gives no answers");
    EXPECT_EQ(printer.Take(0), "");
    const PrinterStatus absent = ReadPrinterStatus(PortOf(PortUri::Kind::Parallel, Absent("lpt3")), 1000);
    EXPECT_EQ(absent.state, StatusState::Unreachable);
    EXPECT_EQ(absent.error, kNotFound.code);
}

}  // namespace

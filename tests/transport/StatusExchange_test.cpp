// The status exchange on every kind of port: the far end answers DLE EOT n as the emulator's
// printers do, gives bytes that are no status, stays silent, or is not there. A TCP printer (the
// emulator's, tests/support/FakePrinters.h) both ways: by the blocking exchange and on an event
// loop, as fleets are read (StatusReads.h).
#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include <string>

#include "tests/support/FakePrinters.h"
#include "tests/transport/FarEnd.h"
#include "transport/StatusExchange.h"
#include "transport/StatusReads.h"

namespace {

const std::string kAllRequests("\x10\x04\x01\x10\x04\x02\x10\x04\x03\x10\x04\x04", 12);

// A port of `kind`: `device`, or for TCP printer `printer` of a FakeFleet at 127.0.0.1 on.
SendOptions PortOf(PortUri::Kind kind, const std::string& device, int tcpPort = 0, size_t printer = 0) {
    SendOptions options;
    options.port.kind = kind;
    options.port.device = device;
    options.port.host = "127.0.0." + std::to_string(1 + printer);
    options.port.tcpPort = tcpPort;
    options.connectTimeoutMs = 2000;
    return options;
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
    FakeFleet fleet({PrinterCondition::Offline, PrinterCondition::PaperNearEnd});
    for (size_t i = 0; i < fleet.Size(); ++i) {
        const PrinterStatus status = GetParam()(PortOf(PortUri::Kind::Socket, "", fleet.Port(), i), 2000);
        std::string heard;
        EXPECT_TRUE(fleet[i].NextConnection(heard, 2000));
        EXPECT_EQ(heard, kAllRequests);
        if (i == 0) {
            EXPECT_EQ(status.state, StatusState::Offline);
            EXPECT_EQ(StatusAnswersText(status.answers), "1e 12 12 12");
        } else {
            EXPECT_EQ(status.state, StatusState::Warning);
            EXPECT_EQ(StatusAnswersText(status.answers), "16 12 12 1e");
        }
    }
}

TEST_P(TcpStatusTest, TcpPeerThatNeverAnswersIsAskedOnceAndOneThatRefusesIsUnreachable) {
    // The first reads only a second later: connects complete, but nobody answers in time.
    FakeFleet fleet({{FakeFleet::Kind::Slow, 1000}, FakeFleet::Kind::Refuse});
    const PrinterStatus quiet = GetParam()(PortOf(PortUri::Kind::Socket, "", fleet.Port()), 200);
    EXPECT_EQ(quiet.state, StatusState::NoAnswer);
    EXPECT_EQ(StatusAnswersText(quiet.answers), "- - - -");
    EXPECT_EQ(quiet.reason, "no answer to DLE EOT 1: none within 200 ms");
    std::string late;
    EXPECT_TRUE(fleet[0].NextConnection(late, 3000));
    EXPECT_EQ(late, std::string("\x10\x04\x01", 3));  // nothing after the first

    const PrinterStatus refused = GetParam()(PortOf(PortUri::Kind::Socket, "", fleet.Port(), 1), 200);
    EXPECT_EQ(refused.state, StatusState::Unreachable);
    EXPECT_EQ(refused.error, kRefused.code);
    EXPECT_FALSE(refused.reason.empty());
}

TEST_F(StatusExchangeTest, SerialPortAnswersThroughTheSerialTransport) {
    PortEnd& printer = Port("com1", EndKind::Line);
    ASSERT_TRUE(printer.AnswerStatus(PrinterCondition::None));
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

    // A banner before the first request is dropped; bytes more than each answer make no printer.
    PortEnd& chatty = Port("com3", EndKind::Line);
    ASSERT_TRUE(chatty.Send(kEmulatorBanner));
    ASSERT_TRUE(chatty.AnswerStatus(PrinterCondition::None, PrinterFault::Kind::Surplus));
    const PrinterStatus surplus = ReadPrinterStatus(PortOf(PortUri::Kind::Serial, chatty.Device()), 1000);
    EXPECT_EQ(surplus.state, StatusState::NotAPrinter) << StatusAnswersText(surplus.answers);
    EXPECT_EQ(surplus.conditions, 0);
}

TEST_P(TcpStatusTest, StrayBytesMakeNoConditionsABannerIsDroppedAndAResetIsAlwaysNoAnswer) {
    using Kind = FakeFleet::Kind;
    FakeFleet fleet({Kind::Banner, Kind::Surplus, Kind::Flood, Kind::Reset});
    const PrinterStatus greeted = GetParam()(PortOf(PortUri::Kind::Socket, "", fleet.Port()), 1000);
    EXPECT_EQ(StatusAnswersText(greeted.answers), "16 12 12 12") << greeted.reason;
    EXPECT_EQ(greeted.state, StatusState::Ok);

    // Two bytes more than each answer, or a flood of them.
    for (size_t i : {1, 2}) {
        const PrinterStatus status = GetParam()(PortOf(PortUri::Kind::Socket, "", fleet.Port(), i), 1000);
        EXPECT_EQ(status.state, StatusState::NotAPrinter) << StatusAnswersText(status.answers);
        EXPECT_EQ(status.conditions, 0) << status.reason;
    }

    // Reset at once: seen at the connect or at the first read, one state.
    for (int i = 0; i < 10; ++i) {
        const PrinterStatus status = GetParam()(PortOf(PortUri::Kind::Socket, "", fleet.Port(), 3), 1000);
        EXPECT_EQ(status.state, StatusState::NoAnswer) << status.reason;
    }
}

TEST_F(StatusExchangeTest, UsbPrinterThatTheSearchKeepsAnswers) {
    const PrinterStatus none = ReadPrinterStatus(PortOf(PortUri::Kind::Usb, ""), 500);
    EXPECT_EQ(none.state, StatusState::Unreachable);
    EXPECT_EQ(none.error, kNoUsbPrinter.code);

    PortEnd& first = UsbPrinter(1, EndKind::RawLine);
    PortEnd& last = UsbPrinter(2, EndKind::RawLine);
    ASSERT_TRUE(first.AnswerStatus(PrinterCondition::Offline));
    ASSERT_TRUE(last.AnswerStatus(PrinterCondition::PaperNearEnd));
    const PrinterStatus status = ReadPrinterStatus(PortOf(PortUri::Kind::Usb, ""), 2000);
    EXPECT_EQ(StatusAnswersText(status.answers), "16 12 12 1e") << status.reason;
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

// The USB messenger's search for printers: natively a search folder of FIFOs and ptys named
// lp0, lp1, ...; under Wine printer interfaces faked in the registry, with the bench's ptys or a
// stalled FIFO behind their device paths.
#include <gtest/gtest.h>

#include <string>

#include "tests/transport/FarEnd.h"
#include "transport/StatusExchange.h"
#include "transport/UsbMessenger.h"

namespace {

class UsbMessengerTest : public FarEndTest {
  protected:
    static int Send(Messenger& messenger, const std::string& bytes) {
        return messenger.Write(bytes.data(), static_cast<int>(bytes.size()));
    }
};

TEST_F(UsbMessengerTest, NoPrinterMeansWritesFailUntilOneArrives) {
    UsbMessenger usb;
    const Stopwatch watch;
    EXPECT_EQ(Send(usb, "x"), -1);
    EXPECT_LT(watch.Ms(), kFailsAtOnceMs);
    EXPECT_EQ(usb.LastError(), kNoUsbPrinter.code);
    EXPECT_NE(usb.LastErrorText().find(kNoUsbPrinter.text), std::string::npos) << usb.LastErrorText();

    PortEnd& printer = UsbPrinter(0);
    EXPECT_EQ(usb.Open(), 0);  // the arrival
    ASSERT_EQ(Send(usb, "\x1d\x56\x01"), 0) << usb.LastErrorText();
    EXPECT_EQ(printer.Take(3), "\x1d\x56\x01");
    EXPECT_EQ(usb.Read(nullptr, 0), -1);
}

TEST_F(UsbMessengerTest, OnePrinterGetsTheBytes) {
    PortEnd& printer = UsbPrinter(1);
    UsbMessenger usb;
    EXPECT_GT(printer.Holders(), 0);  // the messenger holds it
    ASSERT_EQ(Send(usb, "\x1d\x56\x01"), 0) << usb.LastErrorText();
    EXPECT_EQ(printer.Take(3), "\x1d\x56\x01");
    char buffer[1];
    EXPECT_EQ(usb.Read(buffer, 1), -1);
}

TEST_F(UsbMessengerTest, LastPrinterInEnumerationOrderWins) {
    // Natively the names sort as numbers (lp2 before lp10); the faked interfaces by their serial
    // numbers, which are padded to sort the same way.
    PortEnd& second = UsbPrinter(2);
    PortEnd& last = UsbPrinter(10);
    PortEnd& first = UsbPrinter(1, EndKind::RawLine);
    UsbMessenger usb;
    ASSERT_EQ(Send(usb, "to the last"), 0) << usb.LastErrorText();
    EXPECT_EQ(last.Take(11), "to the last");
    EXPECT_EQ(second.Take(0), "");
    EXPECT_EQ(first.Take(0), "");
    // The interfaces opened before the last one were let go when it replaced them.
    EXPECT_EQ(first.Holders(), 0);
    EXPECT_EQ(second.Holders(), 0);
    EXPECT_GT(last.Holders(), 0);

    // A second arrival while a printer is open changes nothing.
    EXPECT_EQ(usb.Open(), 0);
    ASSERT_EQ(Send(usb, "again"), 0);
    EXPECT_EQ(last.Take(5), "again");
}

TEST_F(UsbMessengerTest, OpenWhileOpenChangesNothingAndReopenFindsWhatIsLeft) {
    PortEnd& lp0 = UsbPrinter(0, EndKind::RawLine);
    PortEnd& lp1 = UsbPrinter(1);
    UsbMessenger usb;

    UsbPrinter(5);
    EXPECT_EQ(usb.Open(), 0);  // a second arrival while a printer is open
    RemoveUsbPrinter(5);
    EXPECT_EQ(Send(usb, "1"), 0) << usb.LastErrorText();
    EXPECT_EQ(lp1.Take(1), "1");

    // lp1 is unplugged: the removal closes the device, the next arrival searches again.
    RemoveUsbPrinter(1);
    EXPECT_EQ(usb.Close(), 0);
    EXPECT_EQ(Send(usb, "2"), -1);
    EXPECT_EQ(usb.Open(), 0);
    EXPECT_EQ(Send(usb, std::string("\x1b\x70\x00\x40\x50\x0a", 6)), 0) << usb.LastErrorText();
    EXPECT_EQ(lp0.Take(6), std::string("\x1b\x70\x00\x40\x50\x0a", 6));
}

TEST_F(UsbMessengerTest, APrinterThatWillNotOpenEndsTheSearchWithNoDevice) {
    PortEnd& lp0 = UsbPrinter(0);
    UsbPrinter(1, EndKind::Unopenable);  // the last one will not open
    UsbMessenger usb;
    EXPECT_EQ(usb.Open(), -1);
    EXPECT_EQ(usb.LastError(), kWillNotOpen.code) << usb.LastErrorText();
    EXPECT_EQ(Send(usb, "x"), -1);
    EXPECT_EQ(lp0.Take(0), "");   // nothing reached the one opened before it
    EXPECT_EQ(lp0.Holders(), 0);  // which was let go

    // The same when it comes first: the search stops there.
    RemoveUsbPrinter(0);
    UsbPrinter(2);
    UsbMessenger first;
    EXPECT_EQ(first.Open(), -1);
    EXPECT_EQ(Send(first, "x"), -1);
}

TEST_F(UsbMessengerTest, UnplugFailsAndTheNextArrivalSendsAgain) {
    PortEnd& printer = UsbPrinter(1, EndKind::RawLine);
    UsbMessenger usb;
    ASSERT_EQ(Send(usb, "before"), 0) << usb.LastErrorText();
    EXPECT_EQ(printer.Take(6), "before");

    // A removal closes the device handle for real, and an arrival opens it again.
    EXPECT_GT(printer.Holders(), 0);
    EXPECT_EQ(usb.Close(), 0);
    EXPECT_EQ(printer.Holders(), 0);
    EXPECT_EQ(usb.Open(), 0);
    EXPECT_GT(printer.Holders(), 0);

    ASSERT_TRUE(printer.Unplug());
    EXPECT_EQ(Send(usb, "gone"), -1);
    EXPECT_NE(usb.LastError(), 0);

    // The removal closes the device, and the printer's return opens it anew.
    EXPECT_EQ(usb.Close(), 0);
    EXPECT_EQ(Send(usb, "closed"), -1);
    ASSERT_TRUE(printer.Replug());
    EXPECT_EQ(usb.Open(), 0);
    ASSERT_EQ(Send(usb, "after"), 0) << usb.LastErrorText();
    EXPECT_EQ(printer.Take(5), "after");
}

TEST_F(UsbMessengerTest, StalledPrinterTimesOutAndTheNextWriteStillWorks) {
    PortEnd& printer = UsbPrinter(0, EndKind::Stalled);
    UsbMessenger usb;
    const Stopwatch watch;
    EXPECT_EQ(Send(usb, "lost"), 258);
    const long long elapsed = watch.Ms();
    EXPECT_GE(elapsed, 2400);
    EXPECT_LT(elapsed, 4000);

    ASSERT_TRUE(printer.Drain());
    ASSERT_EQ(Send(usb, "next"), 0) << usb.LastErrorText();
    EXPECT_EQ(printer.Take(65536 + 4), std::string(65536, '\0') + "next");
}

}  // namespace

#ifdef _WIN32

#include "tests/wine/FakeUsbPrinter.h"

namespace {

// The location the search reads from each interface is faked in the registry only under Wine.

TEST_F(UsbMessengerTest, MissingLocationMakesOpenFail) {
    FakeUsbPrinter fake("FAKE0001", /*withLocation=*/false);
    ASSERT_TRUE(fake.Created());
    PortEnd& printer = Port(fake.DosName(), EndKind::RawLine);
    UsbMessenger usb;
    EXPECT_EQ(usb.Open(), -1);
    EXPECT_NE(usb.LastError(), 0);
    EXPECT_EQ(Send(usb, "x"), -1);
    EXPECT_EQ(printer.Holders(), 0);  // no device was left open
}

TEST_F(UsbMessengerTest, LocationIsReadWithinTwoThousandFortyEightBytes) {
    FakeUsbPrinter fake("FAKE0001");
    ASSERT_TRUE(fake.Created());
    PortEnd& printer = Port(fake.DosName(), EndKind::RawLine);
    // 1023 characters and the terminating 0 fill the 2048 bytes exactly.
    ASSERT_TRUE(fake.SetLocation(std::wstring(1023, L'L')));
    {
        UsbMessenger usb;
        ASSERT_EQ(Send(usb, "fits"), 0) << usb.LastErrorText();
        EXPECT_EQ(printer.Take(4), "fits");
    }
    // One character more does not fit: the search fails and no device is open.
    ASSERT_TRUE(fake.SetLocation(std::wstring(1024, L'L')));
    UsbMessenger usb;
    EXPECT_EQ(usb.Open(), -1);
    EXPECT_EQ(usb.LastError(), ERROR_INSUFFICIENT_BUFFER) << usb.LastErrorText();
    EXPECT_EQ(Send(usb, "x"), -1);
    EXPECT_EQ(printer.Holders(), 0);
}

}  // namespace

#else  // POSIX

#include <cerrno>
#include <vector>

namespace {

// Natively a stalled write hands over what fits before it gives up, a reader that goes away
// would raise SIGPIPE, and the messenger can be given a fixed device instead of the search.

TEST_F(UsbMessengerTest, StalledPrinterTakesWhatFitsAndTheNextWriteWorks) {
    PortEnd& printer = UsbPrinter(0);
    UsbMessenger usb;
    const std::vector<char> big(1024 * 1024, 'q');  // far more than a pipe holds
    const Stopwatch watch;
    EXPECT_EQ(usb.Write(big.data(), static_cast<int>(big.size())), 258);
    const long long elapsed = watch.Ms();
    EXPECT_GE(elapsed, 2400);
    EXPECT_LT(elapsed, 6000);

    // The device stays open: once the printer reads again, the next command goes through.
    const std::string stalled = printer.Take(1);
    EXPECT_GT(stalled.size(), 0u);
    EXPECT_LT(stalled.size(), big.size());
    EXPECT_EQ(Send(usb, "\x1d\x56\x01"), 0);
    EXPECT_EQ(printer.Take(3), "\x1d\x56\x01");
}

TEST_F(UsbMessengerTest, ReaderGoneFailsTheWriteWithoutSignal) {
    UsbPrinter(0);
    UsbMessenger usb;
    RemoveUsbPrinter(0);            // the reader closes: writes now raise SIGPIPE
    EXPECT_EQ(Send(usb, "x"), -1);  // and the process lives on
    EXPECT_EQ(usb.LastError(), EPIPE);
}

TEST_F(UsbMessengerTest, FixedDeviceIsOpenedInsteadOfTheSearch) {
    UsbMessenger missing("/nonexistent/lp0");
    EXPECT_EQ(missing.LastErrorText(), "no such file or directory");
    EXPECT_EQ(missing.Open(), -1);
    EXPECT_EQ(Send(missing, "x"), -1);

    PortEnd& printer = Port("printer", EndKind::Printer);
    {
        UsbMessenger fixed(printer.Device());
        EXPECT_EQ(Send(fixed, "ab"), 0);
        EXPECT_EQ(fixed.Close(), 0);
        EXPECT_EQ(Send(fixed, "c"), -1);
        EXPECT_EQ(fixed.Open(), 0);
        EXPECT_EQ(Send(fixed, "d"), 0);
    }
    EXPECT_EQ(printer.Take(3), "abd");

    // A file in a device's place is not written, nor by the status exchange.
    const std::string file = RegularFile("lp9", "keep");
    UsbMessenger unfit(file);
    EXPECT_EQ(Send(unfit, "x"), -1);
    EXPECT_NE(unfit.LastErrorText().find("is a regular file, not a device"), std::string::npos);
    SendOptions options;
    options.port.kind = PortUri::Kind::Usb;
    options.port.device = file;
    EXPECT_EQ(ReadPrinterStatus(options, 100).state, StatusState::Unreachable);
    EXPECT_EQ(FileBytes(file), "keep");
}

}  // namespace

#endif  // _WIN32

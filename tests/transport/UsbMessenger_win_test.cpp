// The USB messenger against printer interfaces faked in the registry, whose device paths the
// bench links to ptys or to a stalled FIFO.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeUsbPrinter.h"
#include "UsbMessenger.h"
#include "WineBench.h"

namespace {

namespace bench = wine_bench;

class UsbTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(bench::Available()) << "run through tests/wine/bench.sh";
        FakeUsbPrinter::RemoveAll();
    }
    void TearDown() override {
        DestroyUsbMessenger();
        for (const std::string& name : m_links) {
            bench::Remove(name);
        }
        m_printers.clear();
        FakeUsbPrinter::RemoveAll();
    }

    // A fake printer interface; with a pty behind its path unless `device` is false.
    FakeUsbPrinter& Plug(const std::string& serial, bool withLocation = true, bool device = true) {
        m_printers.push_back(std::make_unique<FakeUsbPrinter>(serial, withLocation));
        FakeUsbPrinter& printer = *m_printers.back();
        EXPECT_TRUE(printer.Created());
        m_links.push_back(printer.DosName());
        if (device) {
            EXPECT_TRUE(bench::Pty(printer.DosName()));
        }
        return printer;
    }

    static int Send(Messenger& messenger, const std::string& bytes) {
        return messenger.Write(bytes.data(), static_cast<int>(bytes.size()));
    }

  private:
    std::vector<std::unique_ptr<FakeUsbPrinter>> m_printers;
    std::vector<std::string> m_links;
};

TEST_F(UsbTest, OnePrinterGetsTheBytes) {
    FakeUsbPrinter& printer = Plug("FAKE0001");
    UsbMessenger messenger;
    EXPECT_GT(bench::Holders(printer.DosName()), 0);  // the messenger holds it
    ASSERT_EQ(Send(messenger, "\x1d\x56\x01"), 0) << messenger.LastErrorText();
    EXPECT_EQ(bench::Captured(printer.DosName(), 3), "\x1d\x56\x01");
    char buffer[1];
    EXPECT_EQ(messenger.Read(buffer, 1), -1);
}

TEST_F(UsbTest, WithTwoPrintersTheOneEnumeratedLastWins) {
    FakeUsbPrinter& first = Plug("FAKE0001");
    FakeUsbPrinter& last = Plug("FAKE0002");
    UsbMessenger messenger;
    ASSERT_EQ(Send(messenger, "to the last"), 0) << messenger.LastErrorText();
    EXPECT_EQ(bench::Captured(last.DosName(), 11), "to the last");
    EXPECT_EQ(bench::Captured(first.DosName(), 0), "");
    // The first interface's handle was let go when the last one replaced it.
    EXPECT_EQ(bench::Holders(first.DosName()), 0);
    EXPECT_GT(bench::Holders(last.DosName()), 0);

    // A second arrival while a printer is open changes nothing.
    EXPECT_EQ(messenger.Open(), 0);
    ASSERT_EQ(Send(messenger, "again"), 0);
    EXPECT_EQ(bench::Captured(last.DosName(), 16), "to the lastagain");
}

TEST_F(UsbTest, MissingLocationMakesOpenFail) {
    FakeUsbPrinter& printer = Plug("FAKE0001", false);
    UsbMessenger messenger;
    EXPECT_EQ(messenger.Open(), -1);
    EXPECT_NE(messenger.LastError(), 0);
    EXPECT_EQ(Send(messenger, "x"), -1);
    EXPECT_EQ(bench::Holders(printer.DosName()), 0);  // no device was left open
}

TEST_F(UsbTest, LocationIsReadWithinTwoThousandFortyEightBytes) {
    FakeUsbPrinter& printer = Plug("FAKE0001");
    // 1023 characters and the terminating 0 fill the 2048 bytes exactly.
    ASSERT_TRUE(printer.SetLocation(std::wstring(1023, L'L')));
    {
        UsbMessenger messenger;
        ASSERT_EQ(Send(messenger, "fits"), 0) << messenger.LastErrorText();
        EXPECT_EQ(bench::Captured(printer.DosName(), 4), "fits");
    }
    // One character more does not fit: the search fails and no device is open.
    ASSERT_TRUE(printer.SetLocation(std::wstring(1024, L'L')));
    UsbMessenger messenger;
    EXPECT_EQ(messenger.Open(), -1);
    EXPECT_EQ(messenger.LastError(), ERROR_INSUFFICIENT_BUFFER) << messenger.LastErrorText();
    EXPECT_EQ(Send(messenger, "x"), -1);
    EXPECT_EQ(bench::Holders(printer.DosName()), 0);
}

TEST_F(UsbTest, NoPrinterThenArrival) {
    UsbMessenger messenger;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(Send(messenger, "x"), -1);
    EXPECT_LT(GetTickCount64() - start, 500u);
    EXPECT_EQ(messenger.LastError(), ERROR_DEVICE_NOT_CONNECTED);

    FakeUsbPrinter& printer = Plug("FAKE0001");
    EXPECT_EQ(messenger.Open(), 0);
    ASSERT_EQ(Send(messenger, "arrived"), 0) << messenger.LastErrorText();
    EXPECT_EQ(bench::Captured(printer.DosName(), 7), "arrived");
}

TEST_F(UsbTest, UnplugFailsAndTheNextArrivalSendsAgain) {
    FakeUsbPrinter& printer = Plug("FAKE0001");
    UsbMessenger messenger;
    ASSERT_EQ(Send(messenger, "before"), 0) << messenger.LastErrorText();
    EXPECT_EQ(bench::Captured(printer.DosName(), 6), "before");

    // A removal closes the device handle for real, and an arrival opens it again.
    EXPECT_GT(bench::Holders(printer.DosName()), 0);
    EXPECT_EQ(messenger.Close(), 0);
    EXPECT_EQ(bench::Holders(printer.DosName()), 0);
    EXPECT_EQ(messenger.Open(), 0);
    EXPECT_GT(bench::Holders(printer.DosName()), 0);

    ASSERT_TRUE(bench::Unplug(printer.DosName()));
    EXPECT_EQ(Send(messenger, "gone"), -1);
    EXPECT_NE(messenger.LastError(), 0);

    // The removal closes the device, and the printer's return opens it anew.
    EXPECT_EQ(messenger.Close(), 0);
    EXPECT_EQ(Send(messenger, "closed"), -1);
    ASSERT_TRUE(bench::Pty(printer.DosName()));
    EXPECT_EQ(messenger.Open(), 0);
    ASSERT_EQ(Send(messenger, "after"), 0) << messenger.LastErrorText();
    EXPECT_EQ(bench::Captured(printer.DosName(), 5), "after");
}

TEST_F(UsbTest, StalledPrinterTimesOutAndTheNextWriteStillWorks) {
    FakeUsbPrinter& printer = Plug("FAKE0001", true, false);
    ASSERT_TRUE(bench::Stall(printer.DosName()));
    UsbMessenger messenger;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(Send(messenger, "lost"), 258);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 2400u);
    EXPECT_LT(elapsed, 4000u);

    ASSERT_TRUE(bench::Drain(printer.DosName()));
    ASSERT_EQ(Send(messenger, "next"), 0) << messenger.LastErrorText();
    EXPECT_EQ(bench::Captured(printer.DosName(), 65536 + 4), std::string(65536, '\0') + "next");
}

}  // namespace

// Sends through the port factory, as apply's jobs make them side by side.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "commands/Commands.h"
#include "transport/PortFactory.h"
#include "transport/SendCmd.h"
#include "transport/UsbMessenger.h"

namespace {

TEST(SendTest, ASendToAnotherPortLeavesTheUsbPrinterToTheJobThatHasIt) {
    // LPT3 (here /dev/lp2 or the DOS device LPT3) is absent, so the send fails; the point is what
    // it disposes of afterwards.
#ifndef _WIN32
    struct stat info;
    if (::stat("/dev/lp2", &info) == 0) {
        GTEST_SKIP() << "/dev/lp2 exists: no test writes to a real port";
    }
#endif
    UsbMessenger* usb = GetUsbMessenger();  // held by a job sending to the USB printer
    SendOptions options;
    options.port.kind = PortUri::Kind::PortIndex;
    options.port.portIndex = kPortLpt3;
    EXPECT_EQ(SendCmd(options, CutPaper()).result, SendOutcome::Result::Failed);
    EXPECT_EQ(g_pUsbMessenger, usb);
    DestroyUsbMessenger();
}

}  // namespace

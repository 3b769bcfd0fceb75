// Sends through the port factory, as apply's jobs make them side by side.
#include <gtest/gtest.h>

#include "commands/Commands.h"
#include "tests/transport/FarEnd.h"
#include "transport/PortFactory.h"
#include "transport/SendCmd.h"
#include "transport/UsbMessenger.h"

namespace {

class SendTest : public FarEndTest {};

TEST_F(SendTest, ASendToAnotherPortLeavesTheUsbPrinterToTheJobThatHasIt) {
    // LPT3 is absent, so the send fails; the point is what it disposes of afterwards.
    if (!AbsentPortIndex(kPortLpt3)) {
        GTEST_SKIP() << "LPT3 is a device of this machine: no test writes to a real port";
    }
    UsbMessenger* usb = GetUsbMessenger();  // held by a job sending to the USB printer
    SendOptions options;
    options.port.kind = PortUri::Kind::PortIndex;
    options.port.portIndex = kPortLpt3;
    EXPECT_EQ(SendCmd(options, CutPaper()).result, SendOutcome::Result::Failed);
    EXPECT_EQ(g_pUsbMessenger, usb);
    DestroyUsbMessenger();
}

}  // namespace

#include "FixedCmds.h"

namespace {

const unsigned char kCutPaper[] = {0x1D, 0x56, 0x01};
const unsigned char kOpenCashBox[] = {0x1B, 0x70, 0x00, 0x40, 0x50};
const unsigned char kReadPin[] = {0x1F, 0x1B, 0x1F, 0x0A};
const unsigned char kCheckSpeed[] = {0x1F, 0x1B, 0x1F, 0x0B};
const unsigned char kFacMode[] = {0x1F, 0x1A, 0x1B, 0x1C};
const unsigned char kHexMode[] = {0x1F, 0x28, 0x41};
const unsigned char kWifiRefac[] = {0x1F, 0x1B, 0x1F, 0x11};

// The test text, twelve CR LF pairs and the text's own terminator, which is sent too.
const unsigned char kPrintTest[] =
    "Congratulations that the printer is connect success,you can configure the printer now."
    "\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n";

static_assert(sizeof kPrintTest == 111, "86 text bytes, 24 line-end bytes and the terminator");

template <size_t N>
void Point(Cmd& cmd, const unsigned char (&table)[N]) {
    cmd.SetData(table);
    cmd.SetLength(static_cast<int>(N));
}

}  // namespace

CutPaper::CutPaper() {
    Point(*this, kCutPaper);
}
CutPaper::~CutPaper() = default;

OpenCashBoxCmd::OpenCashBoxCmd() {
    Point(*this, kOpenCashBox);
}
OpenCashBoxCmd::~OpenCashBoxCmd() = default;

PrintTestCmd::PrintTestCmd() {
    Point(*this, kPrintTest);
}
PrintTestCmd::~PrintTestCmd() = default;

ReadPinCmd::ReadPinCmd() {
    Point(*this, kReadPin);
}
ReadPinCmd::~ReadPinCmd() = default;

CheckSpeedCmd::CheckSpeedCmd() {
    Point(*this, kCheckSpeed);
}
CheckSpeedCmd::~CheckSpeedCmd() = default;

FacModeCmd::FacModeCmd() {
    Point(*this, kFacMode);
}
FacModeCmd::~FacModeCmd() = default;

HexModeCmd::HexModeCmd() {
    Point(*this, kHexMode);
}
HexModeCmd::~HexModeCmd() = default;

WifiRefacCmd::WifiRefacCmd() {
    Point(*this, kWifiRefac);
}
WifiRefacCmd::~WifiRefacCmd() = default;

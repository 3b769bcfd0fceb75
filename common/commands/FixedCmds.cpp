#include "commands/FixedCmds.h"

CutPaper::CutPaper() {
    PointAt(CmdId::Cut);
}
CutPaper::~CutPaper() = default;

OpenCashBoxCmd::OpenCashBoxCmd() {
    PointAt(CmdId::OpenDrawer);
}
OpenCashBoxCmd::~OpenCashBoxCmd() = default;

PrintTestCmd::PrintTestCmd() {
    PointAt(CmdId::TestPrint);
}
PrintTestCmd::~PrintTestCmd() = default;

ReadPinCmd::ReadPinCmd() {
    PointAt(CmdId::BtReadPin);
}
ReadPinCmd::~ReadPinCmd() = default;

CheckSpeedCmd::CheckSpeedCmd() {
    PointAt(CmdId::BtCheck);
}
CheckSpeedCmd::~CheckSpeedCmd() = default;

FacModeCmd::FacModeCmd() {
    PointAt(CmdId::FactoryMode);
}
FacModeCmd::~FacModeCmd() = default;

HexModeCmd::HexModeCmd() {
    PointAt(CmdId::HexMode);
}
HexModeCmd::~HexModeCmd() = default;

WifiRefacCmd::WifiRefacCmd() {
    PointAt(CmdId::WifiFactory);
}
WifiRefacCmd::~WifiRefacCmd() = default;

StatusRequestCmd::StatusRequestCmd(int n) {
    unsigned char* at = BeginFields(CmdId::StatusRequest, 3);
    *at++ = static_cast<unsigned char>(n & 0xFF);
    EndFields(at);
}
StatusRequestCmd::~StatusRequestCmd() {
    FreeBuffer();
}

// Commands without text: those without arguments, each pointing at its catalogue row's header
// (shared by all its objects), and the status request.
#pragma once

#include "commands/Cmd.h"

/// Paper cut, GS V 1 (partial cut).
class CutPaper : public Cmd {
  public:
    CutPaper();
    ~CutPaper() override;
};

/// Cash-drawer pulse, ESC p 0 on pin 2 with on/off times 0x40 and 0x50.
class OpenCashBoxCmd : public Cmd {
  public:
    OpenCashBoxCmd();
    ~OpenCashBoxCmd() override;
};

/// The connection-test print: a line of text, twelve line ends and the text's terminator.
class PrintTestCmd : public Cmd {
  public:
    PrintTestCmd();
    ~PrintTestCmd() override;
};

/// Asks the Bluetooth module for its PIN (the tool reads no reply).
class ReadPinCmd : public Cmd {
  public:
    ReadPinCmd();
    ~ReadPinCmd() override;
};

/// Asks the Bluetooth module to check its link (the tool reads no reply).
class CheckSpeedCmd : public Cmd {
  public:
    CheckSpeedCmd();
    ~CheckSpeedCmd() override;
};

/// Switches the printer into its factory mode.
class FacModeCmd : public Cmd {
  public:
    FacModeCmd();
    ~FacModeCmd() override;
};

/// Switches the printer into hex-dump mode.
class HexModeCmd : public Cmd {
  public:
    HexModeCmd();
    ~HexModeCmd() override;
};

/// Returns the Wi-Fi module to its factory settings.
class WifiRefacCmd : public Cmd {
  public:
    WifiRefacCmd();
    ~WifiRefacCmd() override;
};

/// The real-time status request DLE EOT n (10 04 n), which a printer answers at once with one
/// byte: n = 1 printer, 2 offline cause, 3 error cause, 4 roll paper sensor.
class StatusRequestCmd : public Cmd {
  public:
    explicit StatusRequestCmd(int n);
    ~StatusRequestCmd() override;
};

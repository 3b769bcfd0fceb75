// The two Wi-Fi commands: the printer's own access point, and the network it joins as a station.
#pragma once

#include <cstdint>
#include <string>

#include "commands/Cmd.h"

/// Longest access point name that fits the command, in UTF-16 code units.
constexpr int kMaxApNameUnits = 31;
/// Longest station text (network name + password + address text) that fits, in UTF-16 code units.
constexpr int kMaxStationTextUnits = 127;

/// Sets the access point name and the Wi-Fi mode (0 AP, 1 STA, 2 APSTA).
/// Bytes: 1F 1A 1F 1B 1F 03 0A 0B 0C, mode, name length, name. A name longer than 31 units
/// is cut to 31 so that the buffer is never overrun; callers refuse such names beforehand.
class SetAPParaCmd : public Cmd {
  public:
    SetAPParaCmd(int mode, int nameLength, WideString name);
    ~SetAPParaCmd() override;
};

/// Gives the printer the network it joins: authentication, encryption, the three piece lengths
/// and the station text. Bytes: 1F 1A 1F 1B 1F 03 07 08 09, auth, enc, name length, password
/// length, address-text length, station text. Text past 127 units is cut so the buffer holds.
class WifiTestParaCmd : public Cmd {
  public:
    WifiTestParaCmd(int auth,
                    int encryption,
                    int nameLength,
                    int passwordLength,
                    int addressLength,
                    WideString stationText);
    ~WifiTestParaCmd() override;
};

/// The station text and its three lengths, assembled as the dialogs assemble them: the network
/// name, the password and "ip,mask,gateway" back to back.
struct StationText {
    int nameLength = 0;
    int passwordLength = 0;
    int addressLength = 0;
    WideString text;
};

StationText BuildStationText(const WideString& networkName,
                             const WideString& password,
                             uint32_t ip,
                             uint32_t mask,
                             uint32_t gateway);

// Bluetooth name and PIN, and the wired Ethernet port's address, mask, gateway, MAC and DHCP.
#pragma once

#include <cstdint>

#include "commands/Cmd.h"

/// Longest Bluetooth name or PIN; longer text is cut to its first 63 code units.
constexpr int kMaxBtTextUnits = 63;

/// 1F 1B 1F F0, n, name (n at most 63).
class SetBtNameCmd : public Cmd {
  public:
    explicit SetBtNameCmd(WideString name);
    ~SetBtNameCmd() override;
};

/// 1F 1B 1F 09, n, PIN (n at most 63).
class SetBtPinCmd : public Cmd {
  public:
    explicit SetBtPinCmd(WideString pin);
    ~SetBtPinCmd() override;
};

/// 1F 1B 1D 00 and the address, most significant byte first.
class SetIPCmd : public Cmd {
  public:
    explicit SetIPCmd(uint32_t address);
    ~SetIPCmd() override;
};

/// 1F 1B 1D 01 and the subnet mask, most significant byte first.
class SetMASKCmd : public Cmd {
  public:
    explicit SetMASKCmd(uint32_t mask);
    ~SetMASKCmd() override;
};

/// 1F 1B 1D 02 and the gateway, most significant byte first.
class SetGATECmd : public Cmd {
  public:
    explicit SetGATECmd(uint32_t gateway);
    ~SetGATECmd() override;
};

/// 1F 1B 1D 03 BC 20 and the MAC address's last four bytes, most significant byte first.
class SetMACCmd : public Cmd {
  public:
    explicit SetMACCmd(uint32_t lastFourBytes);
    ~SetMACCmd() override;
};

/// 1F 1A 1F 1B 1F 1B 08 and the DHCP switch (0 off, 1 on).
class SetLanDHCPCmd : public Cmd {
  public:
    explicit SetLanDHCPCmd(int dhcp);
    ~SetLanDHCPCmd() override;
};

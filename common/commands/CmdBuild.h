// Builds commands from values as an operator types them, checked the same way wherever they come
// from (the command line, a profile, a targets file). Every message names where the value was
// given ("--name", "wifi-ap.name") and what is allowed.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "commands/Cmd.h"
#include "commands/TextCheck.h"
#include "system/WideText.h"

/// Input refused before anything is built or sent.
struct Refusal {
    std::string message;
};

/// UTF-8 text as wide text, as the printer will get it: throws Refusal when it is not valid UTF-8
/// or holds characters that the code page would replace by others (a changed network name or
/// password would only show later, as a printer that cannot join). A `secret`'s characters are
/// never shown.
WideString Utf8Value(const std::string& place, const std::string& utf8, bool secret = false);
/// UTF-8 text that must fit `field` (length limit and code page, as CheckCmdText says). The
/// Bluetooth name and PIN, which the command would cut, are refused beyond 63 characters, and an
/// empty PIN too.
WideString CheckedText(CmdTextField field, const std::string& place, const std::string& utf8);
/// Four decimal fields 0-255 (ParseAddress).
uint32_t AddressValue(const std::string& place, const std::string& text);
/// An address a printer can have: not 0.0.0.0 nor 255.255.255.255.
uint32_t HostAddressValue(const std::string& place, const std::string& text);
/// A subnet mask: an address whose one-bits come first (255.255.255.0, never 255.0.255.0).
uint32_t MaskValue(const std::string& place, const std::string& text);
/// Throws when `address` is the network or the broadcast address of its network under `mask`
/// (a /31 or /32 has neither).
void CheckAddressInNetwork(const std::string& place, uint32_t address, uint32_t mask);
/// The MAC address's last four bytes (ParseMacTail).
uint32_t MacValue(const std::string& place, const std::string& text);
/// One of `names` (any case) or its number: the name's index.
int ChoiceValue(const std::string& place, const std::string& text, std::initializer_list<const char*> names);
/// How JSON writes a switch's two values, off and on.
inline constexpr const char* kSwitchJsonWords[] = {"false", "true"};
/// A switch, its two `names` (off, on) by value: one of them, false|true or 0|1 (any case).
int SwitchValue(const std::string& place, const std::string& text, std::initializer_list<const char*> names);

/// WPA and WPA2 personal (auth 2 and 3 on) take a passphrase of 8-63 characters.
constexpr int kFirstPassphraseAuth = 2;
constexpr int kMinPassphrase = 8;
constexpr int kMaxPassphrase = 63;

/// Where the station's values were given, for messages: "--ssid", "wifi-station.ssid", ...
struct StationPlaces {
    std::string ssid, password, ip, gateway;
    std::string text;  // the station text as a whole: "--ssid/--password"
};

/// Throws when `gateway` cannot be the gateway of `address` under `mask`: the address itself, or
/// outside its network (or that network's network or broadcast address). 0.0.0.0 stands for no
/// gateway and passes.
void CheckGateway(const std::string& place, uint32_t gateway, uint32_t address, uint32_t mask);

/// The station command: the station text assembled as the dialogs assemble it and checked as a
/// whole. Refused too: an empty network name, a WPA/WPA2 personal passphrase that is not 8-63
/// characters (kFirstPassphraseAuth), an ip that is its network's network or broadcast address, a gateway
/// that CheckGateway refuses.
std::unique_ptr<Cmd> BuildStationCmd(int auth,
                                     int enc,
                                     const WideString& ssid,
                                     const WideString& password,
                                     uint32_t ip,
                                     uint32_t mask,
                                     uint32_t gateway,
                                     const StationPlaces& places);

/// A command without arguments, by its subcommand name.
struct FixedCmdInfo {
    const char* name;
    const char* help;
    std::unique_ptr<Cmd> (*make)();
};
/// Every command without arguments, in the order tolctl lists them.
const std::vector<FixedCmdInfo>& FixedCmds();
/// The command named `name`; null when no command without arguments has that name.
std::unique_ptr<Cmd> MakeFixedCmd(const std::string& name);

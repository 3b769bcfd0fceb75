#include "commands/SingleCmds.h"

#include "commands/BtLanCmds.h"
#include "commands/CmdBuild.h"
#include "commands/Commands.h"
#include "commands/WifiCmds.h"
#include "values/Values.h"

namespace {

const std::string& At(const SingleCmdValues& values, const char* name) {
    return values.at(name);
}

std::unique_ptr<Cmd> BuildWifiAp(const SingleCmdValues& v, const std::string&) {
    const int mode = ModeValue("--mode", At(v, "mode"));
    const WideString name = CheckedText(CmdTextField::ApName, "--name", At(v, "name"));
    return std::unique_ptr<Cmd>(new SetAPParaCmd(mode, static_cast<int>(name.size()), name));
}

std::unique_ptr<Cmd> BuildStation(const SingleCmdValues& v, const std::string& passwordPlace) {
    const int auth = AuthValue("--auth", At(v, "auth"));
    const int enc = EncValue("--enc", At(v, "enc"));
    return BuildStationCmd(
        auth, enc, Utf8Value("--ssid", At(v, "ssid")), Utf8Value(passwordPlace, At(v, "password"), true),
        HostAddressValue("--ip", At(v, "ip")), MaskValue("--mask", At(v, "mask")),
        AddressValue("--gateway", At(v, "gateway")),
        StationPlaces{"--ssid", passwordPlace, "--ip", "--gateway", "--ssid/" + passwordPlace});
}

std::unique_ptr<Cmd> BuildBtName(const SingleCmdValues& v, const std::string&) {
    return std::unique_ptr<Cmd>(
        new SetBtNameCmd(CheckedText(CmdTextField::BtName, "bt-name", At(v, "value"))));
}

std::unique_ptr<Cmd> BuildBtPin(const SingleCmdValues& v, const std::string&) {
    return std::unique_ptr<Cmd>(new SetBtPinCmd(CheckedText(CmdTextField::BtPin, "bt-pin", At(v, "value"))));
}

std::unique_ptr<Cmd> BuildLanIp(const SingleCmdValues& v, const std::string&) {
    return std::unique_ptr<Cmd>(new SetIPCmd(HostAddressValue("lan-ip", At(v, "value"))));
}

std::unique_ptr<Cmd> BuildLanMask(const SingleCmdValues& v, const std::string&) {
    return std::unique_ptr<Cmd>(new SetMASKCmd(MaskValue("lan-mask", At(v, "value"))));
}

std::unique_ptr<Cmd> BuildLanGateway(const SingleCmdValues& v, const std::string&) {
    return std::unique_ptr<Cmd>(new SetGATECmd(AddressValue("lan-gateway", At(v, "value"))));
}

std::unique_ptr<Cmd> BuildLanMac(const SingleCmdValues& v, const std::string&) {
    return std::unique_ptr<Cmd>(new SetMACCmd(MacValue("lan-mac", At(v, "value"))));
}

std::unique_ptr<Cmd> BuildLanDhcp(const SingleCmdValues& v, const std::string&) {
    return std::unique_ptr<Cmd>(new SetLanDHCPCmd(DhcpValue("lan-dhcp", At(v, "value"))));
}

std::vector<SingleCmdInfo> MakeList() {
    std::vector<SingleCmdInfo> list;
    for (const FixedCmdInfo& fixed : FixedCmds()) {
        list.push_back({fixed.name, fixed.help, {}, nullptr});
    }
    const char* const address = "A.B.C.D";
    list.push_back(
        {"wifi-ap",
         "Set the access point name and the Wi-Fi mode",
         {{"name", "--name", "Access point name (at most 31 characters)", true, nullptr, {}},
          {"mode", "--mode", "ap|sta|apsta or 0|1|2 (default ap)", false, "ap", {"ap", "sta", "apsta"}}},
         BuildWifiAp});
    list.push_back(
        {"wifi-station",
         "Set the Wi-Fi network the printer joins",
         {{"ssid", "--ssid", "Network name", true, nullptr, {}},
          {"password", "--password", "Password (default empty; see --password-file)", false, "", {}},
          {"auth",
           "--auth",
           "open|shared|wpapsk|wpa2psk or 0-3 (default wpa2psk)",
           false,
           "wpa2psk",
           {"open", "shared", "wpapsk", "wpa2psk"}},
          {"enc",
           "--enc",
           "none|wep-h|wep-a|tkip|aes or 0-4 (default aes)",
           false,
           "aes",
           {"none", "wep-h", "wep-a", "tkip", "aes"}},
          {"ip", "--ip", "The printer's static address in that network", true, nullptr, {}},
          {"mask", "--mask", "Subnet mask (default 255.255.255.0)", false, "255.255.255.0", {}},
          {"gateway", "--gateway", "Gateway address", true, nullptr, {}}},
         BuildStation});
    list.push_back({"bt-name",
                    "Set the Bluetooth name (at most 63 characters)",
                    {{"value", "TEXT", "Bluetooth name", true, nullptr, {}}},
                    BuildBtName});
    list.push_back({"bt-pin",
                    "Set the Bluetooth PIN (1-63 characters)",
                    {{"value", "TEXT", "Bluetooth PIN", true, nullptr, {}}},
                    BuildBtPin});
    list.push_back({"lan-ip",
                    "Set the Ethernet address",
                    {{"value", address, "Address", true, nullptr, {}}},
                    BuildLanIp});
    list.push_back({"lan-mask",
                    "Set the Ethernet subnet mask",
                    {{"value", address, "Address", true, nullptr, {}}},
                    BuildLanMask});
    list.push_back({"lan-gateway",
                    "Set the Ethernet gateway",
                    {{"value", address, "Address", true, nullptr, {}}},
                    BuildLanGateway});
    list.push_back(
        {"lan-mac",
         "Set the last four bytes of the Ethernet MAC (BC 20 fixed)",
         {{"value", "BYTES", "Four decimal fields (158.34.86.28) or hex (9E:22:56:1C)", true, nullptr, {}}},
         BuildLanMac});
    list.push_back({"lan-dhcp",
                    "Switch DHCP of the Ethernet port on or off",
                    {{"value", "on|off", "on|off or 1|0", true, nullptr, {"on", "off"}}},
                    BuildLanDhcp});
    return list;
}

}  // namespace

const std::vector<SingleCmdInfo>& SingleCmds() {
    static const std::vector<SingleCmdInfo> list = MakeList();
    return list;
}

const SingleCmdInfo* FindSingleCmd(const std::string& name) {
    for (const SingleCmdInfo& info : SingleCmds()) {
        if (name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

std::unique_ptr<Cmd> BuildSingleCmd(const SingleCmdInfo& info,
                                    const SingleCmdValues& given,
                                    const std::string& passwordPlace) {
    SingleCmdValues values;
    for (const auto& value : given) {
        bool known = false;
        for (const SingleCmdArg& arg : info.args) {
            known = known || value.first == arg.name;
        }
        if (!known) {
            throw Refusal{ShownText(value.first) + " is not an argument of " + info.name};
        }
    }
    for (const SingleCmdArg& arg : info.args) {
        const auto found = given.find(arg.name);
        if (found != given.end()) {
            values[arg.name] = found->second;
        } else if (arg.required) {
            throw Refusal{std::string(arg.label) + " is required"};
        } else {
            values[arg.name] = arg.defaultValue != nullptr ? arg.defaultValue : "";
        }
    }
    return info.build != nullptr ? info.build(values, passwordPlace) : MakeFixedCmd(info.name);
}

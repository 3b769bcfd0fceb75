// The subcommands that build one printer command from their arguments and send it to --port,
// or print its bytes with --dry-run: one per button of the dialogs.
#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <ostream>
#include <utility>
#include <vector>

#include "CmdBuild.h"
#include "Commands.h"
#include "PortUri.h"
#include "SecretFile.h"
#include "ShownCmd.h"
#include "Subcommand.h"
#include "Tolctl.h"
#include "Values.h"

namespace {

// Builds the chosen subcommand's command once the arguments are parsed; throws Refusal.
// `in` is read by wifi-station --password-file -.
using Builder = std::function<std::unique_ptr<Cmd>(std::istream& in)>;

struct Arguments {
    std::string text, name, mode = "ap";
    std::string ssid, password, passwordFile, auth = "wpa2psk", enc = "aes", ip, mask = "255.255.255.0",
                                              gateway;
};

// Sends `cmd` to the port; failures are explained on `err`, naming the port as typed and the
// system's reason.
int SendToPort(const SendOptions& options, const std::string& portText, const Cmd& cmd, std::ostream& err) {
    const SendOutcome outcome = SendCmd(options, cmd);
    if (outcome.result == SendOutcome::Result::TimedOut) {
        err << "tolctl: " << portText << " : " << outcome.reason << "; the command may be cut short\n";
        return kExitTimeout;
    }
    if (!outcome.Sent()) {
        err << "tolctl: " << portText << " : " << outcome.reason << '\n';
        return kExitPort;
    }
    return kExitOk;
}

// How a subcommand runs that builds its command with `build`: then prints it (--dry-run) or
// sends it to --port.
Subcommand::Run BuildAndSend(Builder build) {
    return
        [build](const GlobalOptions& global, std::istream& in, std::ostream& out, std::ostream& err) -> int {
            SendOptions send = global.send;
            if (!global.portText.empty()) {
                std::string problem;
                if (!ParsePortUri(global.portText, kWindowsPortNames, send.port, problem)) {
                    err << "tolctl: --port: " << problem << '\n';
                    return kExitUsage;
                }
            }
            std::unique_ptr<Cmd> cmd;
            try {
                cmd = build(in);
            } catch (const Refusal& refusal) {
                err << "tolctl: " << refusal.message << "; nothing was sent\n";
                return kExitUsage;
            }
            if (global.dryRun) {
                out << ShownHex(*cmd, PasswordSpan(*cmd), global.showSecrets) << '\n';
                return kExitOk;
            }
            if (global.portText.empty()) {
                err << "tolctl: no port to send to; give --port, or --dry-run to print the bytes instead\n";
                return kExitUsage;
            }
            return SendToPort(send, global.portText, *cmd, err);
        };
}

}  // namespace

void AddSendCommands(CLI::App& app, Subcommands& list) {
    // Read by the builders; kept as long as the subcommands that run them.
    const auto args = std::make_shared<Arguments>();
    Arguments& a = *args;
    const auto add = [&list, args](CLI::App* sub, Builder build) {
        list.push_back({sub, BuildAndSend([args, build](std::istream& in) { return build(in); })});
    };
    for (const FixedCmdInfo& info : FixedCmds()) {
        const auto make = info.make;
        add(app.add_subcommand(info.name, info.help), [make](std::istream&) { return make(); });
    }

    CLI::App* wifiAp = app.add_subcommand("wifi-ap", "Set the access point name and the Wi-Fi mode");
    wifiAp->add_option("--name", a.name, "Access point name (at most 31 characters)")->required();
    wifiAp->add_option("--mode", a.mode, "ap|sta|apsta or 0|1|2 (default ap)");
    add(wifiAp, [&a](std::istream&) {
        const int mode = ModeValue("--mode", a.mode);
        const WideString name = CheckedText(CmdTextField::ApName, "--name", a.name);
        return std::unique_ptr<Cmd>(new SetAPParaCmd(mode, static_cast<int>(name.size()), name));
    });

    CLI::App* station = app.add_subcommand("wifi-station", "Set the Wi-Fi network the printer joins");
    station->add_option("--ssid", a.ssid, "Network name")->required();
    CLI::Option* password =
        station->add_option("--password", a.password, "Password (default empty; see --password-file)");
    CLI::Option* passwordFile =
        station
            ->add_option(
                "--password-file", a.passwordFile,
                "Read the password from FILE, or - for standard input, so that it does not appear in "
                "the process list or the shell history; one trailing line end is removed")
            ->type_name("FILE")
            ->excludes(password);
    station->add_option("--auth", a.auth, "open|shared|wpapsk|wpa2psk or 0-3 (default wpa2psk)");
    station->add_option("--enc", a.enc, "none|wep-h|wep-a|tkip|aes or 0-4 (default aes)");
    station->add_option("--ip", a.ip, "The printer's static address in that network")->required();
    station->add_option("--mask", a.mask, "Subnet mask (default 255.255.255.0)");
    station->add_option("--gateway", a.gateway, "Gateway address")->required();
    add(station, [&a, passwordFile](std::istream& in) {
        const int auth = AuthValue("--auth", a.auth);
        const int enc = EncValue("--enc", a.enc);
        std::string passwordName = "--password";
        if (passwordFile->count() > 0) {
            std::string problem;
            if (!ReadSecretFile(a.passwordFile, in, a.password, problem)) {
                throw Refusal{"--password-file: " + problem};
            }
            passwordName = "--password-file " + ShownText(a.passwordFile, std::string::npos);
        }
        return BuildStationCmd(auth, enc, Utf8Value("--ssid", a.ssid),
                               Utf8Value(passwordName, a.password, true), HostAddressValue("--ip", a.ip),
                               MaskValue("--mask", a.mask), AddressValue("--gateway", a.gateway),
                               StationPlaces{"--ssid", passwordName, "--ip", "--ssid/" + passwordName});
    });

    CLI::App* btName = app.add_subcommand("bt-name", "Set the Bluetooth name (at most 63 characters)");
    btName->add_option("TEXT", a.text, "Bluetooth name")->required();
    add(btName, [&a](std::istream&) {
        return std::unique_ptr<Cmd>(new SetBtNameCmd(CheckedText(CmdTextField::BtName, "bt-name", a.text)));
    });
    CLI::App* btPin = app.add_subcommand("bt-pin", "Set the Bluetooth PIN (1-63 characters)");
    btPin->add_option("TEXT", a.text, "Bluetooth PIN")->required();
    add(btPin, [&a](std::istream&) {
        return std::unique_ptr<Cmd>(new SetBtPinCmd(CheckedText(CmdTextField::BtPin, "bt-pin", a.text)));
    });

    using AddressCheck = uint32_t (*)(const std::string&, const std::string&);
    auto addAddress = [&](const char* name, const char* help, AddressCheck value,
                          std::function<Cmd*(uint32_t)> make) {
        CLI::App* sub = app.add_subcommand(name, help);
        sub->add_option("A.B.C.D", a.text, "Address")->required();
        add(sub, [&a, name, value, make](std::istream&) {
            return std::unique_ptr<Cmd>(make(value(name, a.text)));
        });
    };
    addAddress("lan-ip", "Set the Ethernet address", HostAddressValue,
               [](uint32_t v) { return new SetIPCmd(v); });
    addAddress("lan-mask", "Set the Ethernet subnet mask", MaskValue,
               [](uint32_t v) { return new SetMASKCmd(v); });
    addAddress("lan-gateway", "Set the Ethernet gateway", AddressValue,
               [](uint32_t v) { return new SetGATECmd(v); });

    CLI::App* lanMac =
        app.add_subcommand("lan-mac", "Set the last four bytes of the Ethernet MAC (BC 20 fixed)");
    lanMac->add_option("BYTES", a.text, "Four decimal fields (158.34.86.28) or hex (9E:22:56:1C)")
        ->required();
    add(lanMac,
        [&a](std::istream&) { return std::unique_ptr<Cmd>(new SetMACCmd(MacValue("lan-mac", a.text))); });

    CLI::App* lanDhcp = app.add_subcommand("lan-dhcp", "Switch DHCP of the Ethernet port on or off");
    lanDhcp->add_option("on|off", a.text, "on|off or 1|0")->required();
    add(lanDhcp, [&a](std::istream&) {
        return std::unique_ptr<Cmd>(new SetLanDHCPCmd(DhcpValue("lan-dhcp", a.text)));
    });
}

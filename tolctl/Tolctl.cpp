#include "Tolctl.h"

#include <CLI/CLI.hpp>

#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <limits>
#include <memory>

#include "BaudRates.h"
#include "Commands.h"
#include "Decode.h"
#include "Listener.h"
#include "PortUri.h"
#include "Ports.h"
#include "Scan.h"
#include "SecretFile.h"
#include "Send.h"
#include "TolVersion.h"
#include "Values.h"

namespace {

// Input that tolctl refuses before anything is built or sent.
struct Refusal {
    std::string message;
};

// Text as the printer will get it: valid UTF-8, and nothing the code page would replace by
// another character (a changed network name or password would only show later, as a printer
// that cannot join). A secret's characters are never shown.
WideString WideArgument(const std::string& name, const std::string& utf8, bool secret = false) {
    WideString wide;
    if (!Utf8ToWide(utf8, wide)) {
        throw Refusal{name + " is not valid UTF-8"};
    }
    const WideString unwritable = UnwritableCharacters(wide);
    if (!unwritable.empty()) {
        throw Refusal{name + ": " +
                      (secret ? std::string("it holds characters") : "'" + WideToUtf8(unwritable) + "'") +
                      " that code page " + OemCodePageName() +
                      " cannot write; they would reach the printer as other characters"};
    }
    return wide;
}

WideString CheckedText(CmdTextField field, const std::string& name, const std::string& utf8) {
    WideString wide = WideArgument(name, utf8);
    const std::string problem = CheckCmdText(field, wide);
    if (!problem.empty()) {
        throw Refusal{name + ": " + problem};
    }
    return wide;
}

uint32_t AddressArgument(const std::string& name, const std::string& text) {
    uint32_t value = 0;
    if (!ParseAddress(text, value)) {
        throw Refusal{name + ": " + ShownText(text) +
                      " is not an IPv4 address (four decimal fields 0-255, like 192.168.1.100)"};
    }
    return value;
}

int ChoiceArgument(const std::string& name,
                   const std::string& text,
                   std::initializer_list<const char*> names) {
    const int index = ParseChoice(text, names);
    if (index < 0) {
        std::string allowed;
        int i = 0;
        for (const char* n : names) {
            allowed += (i ? "|" : "") + std::string(n);
            ++i;
        }
        throw Refusal{name + ": " + ShownText(text) + " is not one of " + allowed + " (or 0-" +
                      std::to_string(i - 1) + ")"};
    }
    return index;
}

// Numbers go through tolctl's own decimal parser: CLI11's would also read 0x, 0o and 0b
// prefixes, and a value read in another base than the operator meant goes to the wrong place.
CLI::Option* AddInteger(CLI::App& app,
                        const std::string& name,
                        int& target,
                        int min,
                        int max,
                        const std::string& help) {
    return app
        .add_option_function<std::string>(
            name,
            [&target, name, min, max](const std::string& text) {
                int64_t value = 0;
                std::string problem;
                if (!ParseDecimal(text, min, max, value, problem)) {
                    throw CLI::ValidationError(name, problem);
                }
                target = static_cast<int>(value);
            },
            help)
        ->type_name("N");
}

using Builder = std::function<std::unique_ptr<Cmd>()>;

// One subcommand per button of the dialogs; each adds itself to `app` and returns how to build
// its command once the arguments are parsed.
struct Subcommands {
    std::vector<std::pair<CLI::App*, Builder>> list;

    template <typename C>
    void AddFixed(CLI::App& app, const char* name, const char* help) {
        list.emplace_back(app.add_subcommand(name, help), [] { return std::unique_ptr<Cmd>(new C()); });
    }
};

struct Arguments {
    std::string text, name, mode = "ap";
    std::string ssid, password, passwordFile, auth = "wpa2psk", enc = "aes", ip, mask = "255.255.255.0",
                                              gateway;
    std::string decodeFile = "-";
};

// "--name=" is an empty value. CLI11 would take the argument after it as the value instead, so
// that `--name= --mode=sta` set the name "--mode=sta"; as "--name" "" it stays empty.
std::vector<std::string> SplitEmptyValues(const std::vector<std::string>& args) {
    std::vector<std::string> split;
    bool positionalOnly = false;
    for (const std::string& arg : args) {
        positionalOnly = positionalOnly || arg == "--";
        const size_t equals = arg.find('=');
        if (!positionalOnly && arg.compare(0, 2, "--") == 0 && equals != std::string::npos && equals > 2 &&
            equals + 1 == arg.size()) {
            split.push_back(arg.substr(0, equals));
            split.emplace_back();
        } else {
            split.push_back(arg);
        }
    }
    return split;
}

std::vector<unsigned char> ReadAll(std::istream& stream) {
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(stream),
                                      std::istreambuf_iterator<char>());
}

}  // namespace

int RunTolctl(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
    CLI::App app{"Builds, sends and decodes thermal receipt printer setting commands.", "tolctl"};
    app.footer(
        "Ports: socket://HOST[:PORT] (TCP, port 9100 unless given), serial:DEVICE?baud=N (9600, 19200, "
        "38400, "
        "57600 or 115200; default 9600), parallel:DEVICE, usb: (the USB printer found) or usb:DEVICE; on "
        "Windows also USB001, LPT1-LPT3, COM1, COM2.\n"
        "Numbers are decimal only (leading zeros too; no 0x). An address that is all digits and dots is "
        "four decimal fields 0-255: 127.1, 3232235777, 0x7f.0.0.1 and 192.168.1 are refused, nothing is "
        "sent; anything else is a host name.\n"
        "Secrets: wifi-station --password-file FILE (or - for standard input) keeps the password out of the "
        "process list and the shell history.\n"
        "Exit codes: 0 sent (with --dry-run: printed); 1 the port could not be opened or the write failed; 2 "
        "usage error or refused input; 3 the write timed out. scan and ports: 0 when they ran, also when "
        "they found "
        "nothing.");
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Print this help with every subcommand's options, and exit");
    app.set_version_flag("--version", std::string("tolctl ") + TOL_VERSION_TEXT,
                         "Print the version and exit");

    bool dryRun = false;
    std::string codePage;
    app.add_flag("--dry-run", dryRun, "Print the command's bytes as hex instead of sending them");
    app.add_option("--codepage", codePage, "OEM code page for text fields (default CP437 on POSIX)");
    SendOptions send;
    app.add_option("--port", send.portText,
                   "Port to send to: socket://HOST[:PORT], serial:DEVICE?baud=N, ...");
    app.add_option_function<std::string>(
           "--baud",
           [&send](const std::string& text) {
               int64_t baud = 0;
               std::string problem;
               if (!ParseDecimal(text, 1, 115200, baud, problem) || BaudIndex(static_cast<int>(baud)) < 0) {
                   throw CLI::ValidationError("--baud", "must be 9600, 19200, 38400, 57600 or 115200");
               }
               send.baud = static_cast<int>(baud);
           },
           "Baud rate of a serial port without ?baud= and of COM1/COM2 (default 9600)")
        ->type_name("N");
    app.add_option_function<std::string>(
           "--connect-timeout",
           [&send](const std::string& text) {
               std::string problem;
               if (!ParseSeconds(text, 1, 3600 * 1000, send.connectTimeoutMs, problem)) {
                   throw CLI::ValidationError("--connect-timeout", problem);
               }
           },
           "Seconds a TCP connect may take (default 5)")
        ->type_name("SECONDS");

    Arguments a;
    Subcommands subs;
    subs.AddFixed<PrintTestCmd>(app, "test-print", "Print the connection-test text");
    subs.AddFixed<CutPaper>(app, "cut", "Cut the paper");
    subs.AddFixed<OpenCashBoxCmd>(app, "open-drawer", "Pulse the cash drawer");
    subs.AddFixed<FacModeCmd>(app, "factory-mode", "Switch the printer into factory mode");
    subs.AddFixed<HexModeCmd>(app, "hex-mode", "Switch the printer into hex-dump mode");
    subs.AddFixed<WifiRefacCmd>(app, "wifi-factory", "Return the Wi-Fi module to factory settings");
    subs.AddFixed<ReadPinCmd>(app, "bt-read-pin", "Ask the Bluetooth module for its PIN");
    subs.AddFixed<CheckSpeedCmd>(app, "bt-check", "Ask the Bluetooth module to check its link");

    CLI::App* wifiAp = app.add_subcommand("wifi-ap", "Set the access point name and the Wi-Fi mode");
    wifiAp->add_option("--name", a.name, "Access point name (at most 31 characters)")->required();
    wifiAp->add_option("--mode", a.mode, "ap|sta|apsta or 0|1|2 (default ap)");
    subs.list.emplace_back(wifiAp, [&a] {
        const int mode = ChoiceArgument("--mode", a.mode, {"ap", "sta", "apsta"});
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
    subs.list.emplace_back(station, [&a, &in, passwordFile] {
        const int auth = ChoiceArgument("--auth", a.auth, {"open", "shared", "wpapsk", "wpa2psk"});
        const int enc = ChoiceArgument("--enc", a.enc, {"none", "wep-h", "wep-a", "tkip", "aes"});
        std::string passwordName = "--password";
        if (passwordFile->count() > 0) {
            std::string problem;
            if (!ReadSecretFile(a.passwordFile, in, a.password, problem)) {
                throw Refusal{"--password-file: " + problem};
            }
            passwordName = "--password-file " + ShownText(a.passwordFile, std::string::npos);
        }
        const StationText st =
            BuildStationText(WideArgument("--ssid", a.ssid), WideArgument(passwordName, a.password, true),
                             AddressArgument("--ip", a.ip), AddressArgument("--mask", a.mask),
                             AddressArgument("--gateway", a.gateway));
        const std::string problem = CheckCmdText(CmdTextField::StationText, st.text);
        if (!problem.empty()) {
            throw Refusal{"--ssid/" + passwordName + ": " + problem};
        }
        return std::unique_ptr<Cmd>(
            new WifiTestParaCmd(auth, enc, st.nameLength, st.passwordLength, st.addressLength, st.text));
    });

    CLI::App* btName = app.add_subcommand("bt-name", "Set the Bluetooth name (cut to 63 characters)");
    btName->add_option("TEXT", a.text, "Bluetooth name")->required();
    subs.list.emplace_back(btName, [&a] {
        return std::unique_ptr<Cmd>(new SetBtNameCmd(CheckedText(CmdTextField::BtName, "bt-name", a.text)));
    });
    CLI::App* btPin = app.add_subcommand("bt-pin", "Set the Bluetooth PIN (cut to 63 characters)");
    btPin->add_option("TEXT", a.text, "Bluetooth PIN")->required();
    subs.list.emplace_back(btPin, [&a] {
        return std::unique_ptr<Cmd>(new SetBtPinCmd(CheckedText(CmdTextField::BtPin, "bt-pin", a.text)));
    });

    auto addAddress = [&](const char* name, const char* help, std::function<Cmd*(uint32_t)> make) {
        CLI::App* sub = app.add_subcommand(name, help);
        sub->add_option("A.B.C.D", a.text, "Address")->required();
        subs.list.emplace_back(
            sub, [&a, name, make] { return std::unique_ptr<Cmd>(make(AddressArgument(name, a.text))); });
    };
    addAddress("lan-ip", "Set the Ethernet address", [](uint32_t v) { return new SetIPCmd(v); });
    addAddress("lan-mask", "Set the Ethernet subnet mask", [](uint32_t v) { return new SetMASKCmd(v); });
    addAddress("lan-gateway", "Set the Ethernet gateway", [](uint32_t v) { return new SetGATECmd(v); });

    CLI::App* lanMac =
        app.add_subcommand("lan-mac", "Set the last four bytes of the Ethernet MAC (BC 20 fixed)");
    lanMac->add_option("BYTES", a.text, "Four decimal fields (158.34.86.28) or hex (9E:22:56:1C)")
        ->required();
    subs.list.emplace_back(lanMac, [&a] {
        uint32_t value = 0;
        if (!ParseMacTail(a.text, value)) {
            throw Refusal{"lan-mac: " + ShownText(a.text) +
                          " is not four bytes (158.34.86.28 or 9E:22:56:1C)"};
        }
        return std::unique_ptr<Cmd>(new SetMACCmd(value));
    });

    CLI::App* lanDhcp = app.add_subcommand("lan-dhcp", "Switch DHCP of the Ethernet port on or off");
    lanDhcp->add_option("on|off", a.text, "on|off or 1|0")->required();
    subs.list.emplace_back(lanDhcp, [&a] {
        const int index = ChoiceArgument("lan-dhcp", a.text, {"off", "on"});
        return std::unique_ptr<Cmd>(new SetLanDHCPCmd(index));
    });

    CLI::App* decode = app.add_subcommand("decode", "Print the commands found in raw bytes");
    decode->add_option("FILE", a.decodeFile, "File to read, or - for standard input (default)");

    ListenOptions listenOptions;
    CLI::App* listen =
        app.add_subcommand("listen", "Stand in for a printer on TCP: print the commands received");
    listen->add_option("--bind", listenOptions.bind,
                       "IPv4 address, range (A.B.C.D-E) or network (A.B.C.D/NN) to listen on, one virtual "
                       "printer per address (default 127.0.0.1)");
    AddInteger(*listen, "--port", listenOptions.port, 0, 65535,
               "TCP port (default 9100; 0 picks a free one)");
    AddInteger(*listen, "--count", listenOptions.count, 1, std::numeric_limits<int>::max(),
               "Stop after N connections (default: until interrupted)");
    AddInteger(*listen, "--idle-timeout", listenOptions.idleTimeout, 1, 24 * 3600,
               "Drop a connection that sends nothing for SECONDS (default 10)");
    listen->add_option("--save", listenOptions.saveFile, "Append the raw bytes received to FILE");
    listen
        ->add_option("--state", listenOptions.stateFile,
                     "Keep every printer's settings as received in FILE (JSON, rewritten as they change)")
        ->type_name("FILE");
    listen
        ->add_option("--fault", listenOptions.faults,
                     "Make printers misbehave: ADDRESS=refuse|reset|stall|slow:MS (ADDRESS may be a range or "
                     "network; repeatable)")
        ->type_name("ADDRESS=KIND")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

    ScanOptions scanOptions;
    CLI::App* scan =
        app.add_subcommand("scan", "List the addresses of a network whose printer port answers, as targets");
    scan->add_option("NETWORK", scanOptions.network,
                     "A.B.C.D/NN (NN 16-32), a range A.B.C.D-E, or one address")
        ->required();
    AddInteger(*scan, "--tcp-port", scanOptions.tcpPort, 1, 65535, "TCP port to try (default 9100)");
    AddInteger(*scan, "--timeout", scanOptions.timeoutMs, 1, 600000,
               "Milliseconds a connect, and a probe's answer, may take (default 500)")
        ->type_name("MS");
    AddInteger(*scan, "--jobs", scanOptions.jobs, 1, kMaxScanJobs,
               "Connects under way at once (default 256)");
    scan->add_flag("--probe", scanOptions.probe,
                   "Send the status request DLE EOT 1 (10 04 01) and show the status byte read back");
    scan->add_option("--format", scanOptions.format, "targets (default) or json")->type_name("targets|json");

    std::string portsFormat = "text";
    CLI::App* ports = app.add_subcommand("ports", "List this computer's printer ports and their --port URIs");
    ports->add_option("--format", portsFormat, "text (default) or json")->type_name("text|json");

    const std::vector<std::string> split = SplitEmptyValues(args);
    std::vector<const char*> argv;
    for (const std::string& arg : split) {
        argv.push_back(arg.c_str());
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return code == 0 ? kExitOk : kExitUsage;
    }

    if (!codePage.empty() && !SetOemCodePage(codePage)) {
        err << "tolctl: --codepage: " << ShownText(codePage) << " is not a code page known here\n";
        return kExitUsage;
    }

    if (app.got_subcommand(listen)) {
        return RunListener(listenOptions, out, err);
    }
    if (app.got_subcommand(scan)) {
        return RunScan(scanOptions, out, err);
    }
    if (app.got_subcommand(ports)) {
        return RunPorts(portsFormat, out, err);
    }

    if (!send.portText.empty()) {
        std::string problem;
        if (!ParsePortUri(send.portText, kWindowsPortNames, send.port, problem)) {
            err << "tolctl: --port: " << problem << '\n';
            return kExitUsage;
        }
    }

    if (app.got_subcommand(decode)) {
        std::vector<unsigned char> bytes;
        if (a.decodeFile == "-") {
            bytes = ReadAll(in);
        } else {
            std::ifstream file(a.decodeFile, std::ios::binary);
            if (!file) {
                err << "tolctl: decode: cannot open " << ShownText(a.decodeFile, std::string::npos) << "\n";
                return kExitUsage;
            }
            bytes = ReadAll(file);
        }
        for (const std::string& line : DecodeCommands(bytes)) {
            out << line << '\n';
        }
        return kExitOk;
    }

    for (const auto& sub : subs.list) {
        if (!app.got_subcommand(sub.first)) {
            continue;
        }
        std::unique_ptr<Cmd> cmd;
        try {
            cmd = sub.second();
        } catch (const Refusal& refusal) {
            err << "tolctl: " << refusal.message << "; nothing was sent\n";
            return kExitUsage;
        }
        if (dryRun) {
            out << HexBytes(cmd->GetData(), static_cast<size_t>(cmd->GetLength())) << '\n';
            return kExitOk;
        }
        if (send.portText.empty()) {
            err << "tolctl: no port to send to; give --port, or --dry-run to print the bytes instead\n";
            return kExitUsage;
        }
        return SendToPort(send, *cmd, err);
    }
    return kExitUsage;
}

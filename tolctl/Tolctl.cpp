#include "Tolctl.h"

#include <CLI/CLI.hpp>

#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <limits>
#include <memory>

#include "Apply.h"
#include "BaudRates.h"
#include "CmdBuild.h"
#include "Commands.h"
#include "Decode.h"
#include "Listener.h"
#include "Output.h"
#include "PortUri.h"
#include "Ports.h"
#include "Profile.h"
#include "Scan.h"
#include "SecretFile.h"
#include "SendCmd.h"
#include "ShownCmd.h"
#include "Suggest.h"
#include "TolVersion.h"
#include "Values.h"

// PortsCommand.cpp: prints this computer's printer ports as text or JSON.
int RunPorts(const std::string& format, std::ostream& out, std::ostream& err);

namespace {

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

    void AddFixed(CLI::App& app, const FixedCmdInfo& info) {
        list.emplace_back(app.add_subcommand(info.name, info.help), info.make);
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

// After a parse error: a line that names the subcommand or option a mistyped word most likely
// meant ("did you mean 'wifi-station'?"), when one is close.
void SuggestAfterParseError(const CLI::App& app, std::ostream& err) {
    // The options of every (sub)command given so far, and the subcommands that could come next.
    std::vector<const CLI::App*> chain = {&app};
    while (!chain.back()->get_subcommands().empty()) {
        chain.push_back(chain.back()->get_subcommands().front());
    }
    std::vector<std::string> options;
    for (const CLI::App* level : chain) {
        for (const CLI::Option* option : level->get_options()) {
            for (const std::string& name : option->get_lnames()) {
                options.push_back(name);
            }
        }
    }
    std::vector<std::string> subcommands;
    for (const CLI::App* sub : chain.back()->get_subcommands([](const CLI::App*) { return true; })) {
        subcommands.push_back(sub->get_name());
    }
    const std::string where = chain.size() > 1 ? " of " + chain.back()->get_name() : "";
    for (const std::string& arg : app.remaining(true)) {
        if (arg.compare(0, 2, "--") == 0) {
            const std::string typed = arg.substr(2, arg.find('=') - 2);
            const std::string meant = ClosestWord(typed, options);
            if (!meant.empty()) {
                err << "tolctl: " << ShownText("--" + typed) << " is not an option" << where
                    << "; did you mean '--" << meant << "'?\n";
                return;
            }
        } else if (!subcommands.empty()) {
            const std::string meant = ClosestWord(arg, subcommands);
            if (!meant.empty()) {
                err << "tolctl: " << ShownText(arg) << " is not a subcommand" << where << "; did you mean '"
                    << meant << "'?\n";
                return;
            }
        }
    }
}

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

int RunSubcommand(const std::vector<std::string>& args,
                  std::istream& in,
                  std::ostream& out,
                  std::ostream& err) {
    CLI::App app{"Builds, sends and decodes thermal receipt printer setting commands.", "tolctl"};
    app.footer(
        "Ports: socket://HOST[:PORT] (TCP, port 9100 unless given; A.B.C.D[:PORT] alone is the same), "
        "serial:DEVICE?baud=N (9600, 19200, 38400, 57600 or 115200; default 9600), parallel:DEVICE, usb: "
        "(the USB printer found) or usb:DEVICE; on Windows also USB001, LPT1-LPT3, COM1, COM2.\n"
        "tolctl's own options may also follow the subcommand (tolctl cut --port A.B.C.D).\n"
        "Numbers are decimal only (leading zeros too; no 0x). An address that is all digits and dots is "
        "four decimal fields 0-255 without leading zeros: 127.1, 3232235777, 0x7f.0.0.1, 192.168.1 and "
        "010.0.0.1 (octal to some programs) are refused, nothing is sent; anything else is a host name.\n"
        "Secrets: wifi-station --password-file FILE (or - for standard input) keeps the password out of the "
        "process list and the shell history.\n"
        "Exit codes: 0 sent (with --dry-run: printed); 1 the port could not be opened or the write failed "
        "(or the output could not be written); 2 usage error or refused input; 3 the write timed out. scan "
        "and ports: 0 when they ran, also when they found nothing.");
    app.require_subcommand(1);
    // tolctl's own options may follow the subcommand too (`tolctl cut --port ...`); and on Windows
    // as well, a word beginning with / is a path, never an option.
    app.fallthrough();
    app.allow_windows_style_options(false);
    app.set_help_all_flag("--help-all", "Print this help with every subcommand's options, and exit");
    app.set_version_flag("--version", std::string("tolctl ") + TOL_VERSION_TEXT,
                         "Print the version and exit");

    bool dryRun = false;
    bool showSecrets = false;
    std::string codePage;
    app.add_flag("--dry-run", dryRun, "Print the command's bytes as hex instead of sending them");
    app.add_flag("--show-secrets", showSecrets,
                 "With --dry-run, print a password's bytes too (otherwise each is shown as **)");
    app.add_option("--codepage", codePage, "OEM code page for text fields (default CP437 on POSIX)");
    SendOptions send;
    std::string portText;  // as typed, for the messages
    app.add_option("--port", portText, "Port to send to: socket://HOST[:PORT], serial:DEVICE?baud=N, ...");
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
    for (const FixedCmdInfo& info : FixedCmds()) {
        subs.AddFixed(app, info);
    }

    CLI::App* wifiAp = app.add_subcommand("wifi-ap", "Set the access point name and the Wi-Fi mode");
    wifiAp->add_option("--name", a.name, "Access point name (at most 31 characters)")->required();
    wifiAp->add_option("--mode", a.mode, "ap|sta|apsta or 0|1|2 (default ap)");
    subs.list.emplace_back(wifiAp, [&a] {
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
    subs.list.emplace_back(station, [&a, &in, passwordFile] {
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
    subs.list.emplace_back(btName, [&a] {
        return std::unique_ptr<Cmd>(new SetBtNameCmd(CheckedText(CmdTextField::BtName, "bt-name", a.text)));
    });
    CLI::App* btPin = app.add_subcommand("bt-pin", "Set the Bluetooth PIN (1-63 characters)");
    btPin->add_option("TEXT", a.text, "Bluetooth PIN")->required();
    subs.list.emplace_back(btPin, [&a] {
        return std::unique_ptr<Cmd>(new SetBtPinCmd(CheckedText(CmdTextField::BtPin, "bt-pin", a.text)));
    });

    using AddressCheck = uint32_t (*)(const std::string&, const std::string&);
    auto addAddress = [&](const char* name, const char* help, AddressCheck value,
                          std::function<Cmd*(uint32_t)> make) {
        CLI::App* sub = app.add_subcommand(name, help);
        sub->add_option("A.B.C.D", a.text, "Address")->required();
        subs.list.emplace_back(
            sub, [&a, name, value, make] { return std::unique_ptr<Cmd>(make(value(name, a.text))); });
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
    subs.list.emplace_back(lanMac,
                           [&a] { return std::unique_ptr<Cmd>(new SetMACCmd(MacValue("lan-mac", a.text))); });

    CLI::App* lanDhcp = app.add_subcommand("lan-dhcp", "Switch DHCP of the Ethernet port on or off");
    lanDhcp->add_option("on|off", a.text, "on|off or 1|0")->required();
    subs.list.emplace_back(
        lanDhcp, [&a] { return std::unique_ptr<Cmd>(new SetLanDHCPCmd(DhcpValue("lan-dhcp", a.text))); });

    CLI::App* decode = app.add_subcommand(
        "decode", "Print the commands found in raw bytes, or in the hex that --dry-run prints");
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
    scan->footer(
        "Ctrl-C (SIGINT) or SIGTERM ends a scan early: the targets found so far are printed, and the exit "
        "code is 130 (143 for SIGTERM).");

    std::string portsFormat = "text";
    CLI::App* ports = app.add_subcommand("ports", "List this computer's printer ports and their --port URIs");
    ports->add_option("--format", portsFormat, "text (default) or json")->type_name("text|json");

    ApplyOptions applyOptions;
    CLI::App* apply = app.add_subcommand(
        "apply",
        "Send a settings profile to many printers, several at a time (see docs/profiles.md, installed "
        "in /usr/share/doc/tolctl)");
    apply->add_option("PROFILE", applyOptions.profile, "The profile (JSON)")->required()->type_name("FILE");
    apply
        ->add_option("--target", applyOptions.targets,
                     "A printer: any --port form, or socket://A.B.C.D-E and socket://A.B.C.D/NN for one "
                     "printer per address (repeatable)")
        ->type_name("PORT")
        ->allow_extra_args(false);
    apply
        ->add_option("--targets", applyOptions.targetsFile,
                     "A file of targets, one a line, each with optional KEY=VALUE overrides; # comments")
        ->type_name("FILE");
    AddInteger(*apply, "--jobs", applyOptions.jobs, 1, 1024, "Printers served at a time (default 32)");
    AddInteger(*apply, "--gap", applyOptions.gapMs, 0, 60000,
               "Milliseconds between two commands to the same printer (default 300)")
        ->type_name("MS");
    apply->add_option("--report", applyOptions.report, "Write a JSON report of the results to FILE")
        ->type_name("FILE");
    apply->add_flag("--dry-run", applyOptions.dryRun,
                    "Print each printer's commands as hex and decoded, and send nothing");
    apply->footer(
        "Targets files: one target a line, then KEY=VALUE overrides with the profile's dotted names "
        "(lan.ip=192.168.1.51 bt-name=\"Till 3\"); # begins a comment.\n"
        "Results: ok, failed, or interrupted (stopped before the printer was done).\n"
        "Exit codes: 0 every printer got everything; 1 any failed (the table says which); 2 the profile, "
        "the targets or an option refused, and nothing was sent; 130/143/129 stopped by SIGINT (Ctrl-C), "
        "SIGTERM or SIGHUP: the commands under way end, the table and the report are written.");

    CLI::App* profile = app.add_subcommand("profile", "Settings profiles for apply");
    profile->require_subcommand(1);
    CLI::App* profileExample = profile->add_subcommand(
        "example", "Print a commented starting profile (keys beginning // are comments)");

    const std::vector<std::string> split = SplitEmptyValues(args);
    std::vector<const char*> argv;
    for (const std::string& arg : split) {
        argv.push_back(arg.c_str());
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        if (code != 0) {
            SuggestAfterParseError(app, err);
        }
        return code == 0 ? kExitOk : kExitUsage;
    }

    if (!codePage.empty() && !SetOemCodePage(codePage)) {
        err << "tolctl: --codepage: " << ShownText(codePage) << " is not a code page known here\n";
        return kExitUsage;
    }

    // Left out quietly, --dry-run would have a user who only meant to try scan or listen for real.
    if (dryRun && app.got_subcommand(scan)) {
        err << "tolctl: scan has no --dry-run: it connects to every address it is given; nothing was "
               "done\n";
        return kExitUsage;
    }
    if (dryRun && app.got_subcommand(listen)) {
        err << "tolctl: listen has no --dry-run: it takes connections as a printer would; nothing was done\n";
        return kExitUsage;
    }
    // --port may follow any subcommand now; where nothing is sent it was meant as something else.
    for (const CLI::App* sub : {scan, ports, decode, profile}) {
        if (!portText.empty() && app.got_subcommand(sub)) {
            err << "tolctl: " << sub->get_name() << " sends nothing: --port has no use here"
                << (sub == scan ? " (scan's TCP port is --tcp-port)" : "") << '\n';
            return kExitUsage;
        }
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
    if (profileExample->parsed()) {
        out << ExampleProfile();
        return kExitOk;
    }
    if (app.got_subcommand(apply)) {
        if (!portText.empty()) {
            err << "tolctl: apply: name the printers with --target or --targets, not --port\n";
            return kExitUsage;
        }
        applyOptions.dryRun = applyOptions.dryRun || dryRun;
        applyOptions.showSecrets = showSecrets;
        applyOptions.progress = &err == &std::cerr && StderrIsTerminal();
        return RunApply(applyOptions, send, in, out, err);
    }

    if (!portText.empty()) {
        std::string problem;
        if (!ParsePortUri(portText, kWindowsPortNames, send.port, problem)) {
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
        std::vector<unsigned char> fromHex;
        if (ReadHexText(bytes, fromHex)) {
            bytes = std::move(fromHex);  // what --dry-run printed
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
            out << ShownHex(*cmd, PasswordSpan(*cmd), showSecrets) << '\n';
            return kExitOk;
        }
        if (portText.empty()) {
            err << "tolctl: no port to send to; give --port, or --dry-run to print the bytes instead\n";
            return kExitUsage;
        }
        return SendToPort(send, portText, *cmd, err);
    }
    return kExitUsage;
}

}  // namespace

int RunTolctl(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
    const int code = RunSubcommand(args, in, out, err);
    // Output that did not arrive (a full disk, a closed pipe) is a failure whatever was done.
    if (!FinishOutput(out, err)) {
        return code == kExitOk ? kExitPort : code;
    }
    return code;
}

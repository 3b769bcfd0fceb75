// `tolctl console`: the web console, the printer fleet served in a browser (the console library
// does the work; this is its command line).
#include <CLI/CLI.hpp>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "TolVersion.h"
#include "console/Console.h"
#include "console/ConsoleFiles.h"
#include "http/HttpServer.h"
#include "tolctl/Interrupts.h"
#include "tolctl/Options.h"
#include "tolctl/Recording.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Tolctl.h"
#include "transport/EthernetMessenger.h"
#include "values/Values.h"

namespace {

/// The port served on unless --listen names one; the next free one when it is taken.
constexpr int kConsolePort = 8631;
/// Ports tried from kConsolePort on.
constexpr int kConsolePortsTried = 100;
/// The stop request's reason when serving ended by itself (a signal's number otherwise).
constexpr int kConsoleEnded = -1;
/// Requests answered at once (a status read or a scan holds one until it ends; event streams and
/// slow clients hold none).
constexpr size_t kConsoleThreads = 16;

struct ConsoleOptions {
    std::string listen;  // empty: 127.0.0.1, port 8631 or the next free one
    bool noBrowser = false;
    std::string stateDir;
};

int RunConsole(const ConsoleOptions& options,
               const GlobalOptions& global,
               std::ostream& out,
               std::ostream& err) {
    if (global.dryRun) {
        err << "tolctl: console has no --dry-run: it serves a page that sends commands; nothing was done\n";
        return kExitUsage;
    }
    if (!NoPortGiven(global, "console", err, " (the page names the printers)")) {
        return kExitUsage;
    }
    std::string address = "127.0.0.1";
    uint32_t addressValue = 0x7F000001;
    int port = kConsolePort;
    if (!options.listen.empty() && !ParseListen(options.listen, address, addressValue, port)) {
        err << "tolctl: console --listen: " << ShownText(options.listen)
            << " is not ADDRESS:PORT (A.B.C.D and 0-65535, e.g. 127.0.0.1:8631)\n";
        return kExitUsage;
    }
    const std::string stateDir = options.stateDir.empty() ? DefaultStateDir() : options.stateDir;
    if (stateDir.empty()) {
        err << "tolctl: console: no folder to keep the state in (no home folder); give --state-dir DIR\n";
        return kExitUsage;
    }

    // Made before the server's threads, which it keeps from the signals it waits for.
    Interrupts interrupts;
    StopRequest& stop = interrupts.Stop();
    EthernetMessenger::KeepNetworkStarted();
    HttpServer server(kConsoleThreads);
    std::string problem;
    bool listening = server.Listen(address, port, problem);
    for (int next = port + 1;
         !listening && options.listen.empty() && next < kConsolePort + kConsolePortsTried; ++next) {
        listening = server.Listen(address, next, problem);
    }
    if (!listening) {
        err << "tolctl: console: cannot listen on " << address << ":" << port << ": " << problem << '\n';
        return kExitPort;
    }

    // The fleet record, as the other subcommands that send open it: one that cannot be written
    // sends nothing, so the console does not start (--no-record serves without one).
    std::string recordPath;
    std::unique_ptr<Record> record;
    int code = kExitPort;
    if (!RecordPathFor(global, "console", recordPath, err) ||
        !OpenRecordToWrite(recordPath, "console", record, code, err)) {
        return code;
    }
    ConsoleSettings settings;
    settings.record = record.get();
    settings.stateFolder = stateDir;
    settings.address = address;
    settings.port = server.Port();
    settings.token = MakeConsoleToken();
    settings.send = global.send;
    settings.version = TOL_VERSION_TEXT;
    Console console(settings);
    std::vector<std::string> dropped;
    if (!console.Load(problem, dropped)) {
        err << "tolctl: console: --state-dir: " << problem << '\n';
        return kExitUsage;
    }
    for (const std::string& entry : dropped) {
        err << "tolctl: console: " << entry << '\n';
    }
    server.LimitBodies(kMaxConsoleBody);
    console.Register(server);

    // Served on every address, the console is opened on loopback.
    const std::string shown = address == "0.0.0.0" ? "127.0.0.1" : address;
    const std::string url =
        "http://" + shown + ":" + std::to_string(settings.port) + "/?token=" + settings.token;
    out << "console on " << url << std::endl;
    if (addressValue >> 24 != 127) {
        err << "tolctl: console: warning: " << address
            << " is not a loopback address: whoever reaches it and learns the token may set up the "
               "printers\n";
    }
    server.Start([&stop] { stop.Request(kConsoleEnded); });
    if (!options.noBrowser && !OpenInBrowser(url, problem)) {
        err << "tolctl: console: " << problem << "; open the address above yourself\n";
    }
    while (!stop.Requested()) {
        stop.Sleep(std::chrono::seconds(60));
    }
    console.Stop();
    server.Stop();
    if (stop.Reason() == kConsoleEnded) {
        err << "tolctl: console: serving on " << address << ":" << settings.port
            << " ended: its socket failed\n";
        return kExitPort;
    }
    return kExitOk;
}

}  // namespace

void AddConsoleCommand(CLI::App& app, Subcommands& list) {
    auto options = std::make_shared<ConsoleOptions>();
    CLI::App* console = app.add_subcommand(
        "console", "Serve a web console: the printers, their status, profiles and apply, in a browser");
    console
        ->add_option(
            "--listen", options->listen,
            "Where to serve: A.B.C.D:PORT (default 127.0.0.1, port 8631 or the next free one; port 0 "
            "takes any free one)")
        ->type_name("ADDR:PORT");
    console->add_flag("--no-browser", options->noBrowser, "Do not open the console in the web browser");
    console
        ->add_option(
            "--state-dir", options->stateDir,
            "Where the console keeps its printer list and profiles (default $XDG_STATE_HOME/tolctl/"
            "console, else ~/.local/state/tolctl/console; on Windows %LOCALAPPDATA%\\tolctl\\console)")
        ->type_name("DIR");
    console->footer(
        "The first line printed is the console's address with its token: console on "
        "http://127.0.0.1:PORT/?token=TOKEN. Every request needs that token (the page gets it as a cookie); "
        "requests that name another host, and changes asked by pages of other origins, are refused. "
        "An address other than 127.x.x.x is served with a warning. See docs/console.md.\n"
        "Exit codes: 0 at Ctrl-C (SIGINT) or SIGTERM; 1 it cannot listen; 2 usage or a state folder that "
        "cannot be used.");
    list.push_back(
        {console, [options](const GlobalOptions& global, std::istream&, std::ostream& out,
                            std::ostream& err) { return RunConsole(*options, global, out, err); }});
}

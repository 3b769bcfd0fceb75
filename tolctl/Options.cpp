#include "tolctl/Options.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "system/UserPlaces.h"
#include "transport/BaudRates.h"
#include "transport/PortFactory.h"
#include "transport/PortUri.h"
#include "values/Values.h"

void AddGlobalOptions(CLI::App& app, GlobalOptions& global) {
    app.add_flag("--dry-run", global.dryRun, "Print the command's bytes as hex instead of sending them");
    app.add_flag("--show-secrets", global.showSecrets,
                 "With --dry-run, print a password's bytes too (otherwise each is shown as **)");
    app.add_option("--codepage", global.codePage, "OEM code page for text fields (default CP437 on POSIX)");
    app.add_option("--port", global.portText,
                   "Port to send to: socket://HOST[:PORT], serial:DEVICE?baud=N, ...")
        ->type_name("socket://|serial:|parallel:|usb:");
    SendOptions& send = global.send;
    app.add_option_function<std::string>(
           "--baud",
           [&send](const std::string& text) {
               int64_t baud = 0;
               std::string problem;
               if (!ParseDecimal(text, 1, 115200, baud, problem) || BaudIndex(static_cast<int>(baud)) < 0) {
                   throw CLI::ValidationError("--baud", "must be " + BaudRatesText());
               }
               send.baud = static_cast<int>(baud);
           },
           "Baud rate of a serial port without ?baud= and of " +
               PortIndexNamesText(kPortCom1, kPortCom2, "/", "/") + " (default " +
               std::to_string(kBaudRates[0]) + ")")
        ->type_name(BaudRatesText("|", "|"));
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
    std::string& recordFile = global.recordFile;
    CLI::Option* record =
        app.add_option_function<std::string>(
               "--record",
               [&recordFile](const std::string& text) {
                   if (text.empty()) {
                       throw CLI::ValidationError("--record", "needs a file");
                   }
                   recordFile = text;
               },
               "The fleet record's file (default $XDG_STATE_HOME/tolctl/record.sqlite, on Windows "
               "%LOCALAPPDATA%\\tolctl\\record.sqlite; or the environment's TOLCTL_RECORD)")
            ->type_name("FILE");
    app.add_flag("--no-record", global.noRecord, "Keep no record of what is sent")->excludes(record);
}

bool RecordPath(const GlobalOptions& global, std::string& path, std::string& problem) {
    path.clear();
    if (global.noRecord) {
        return true;
    }
    if (!global.recordFile.empty()) {
        path = global.recordFile;
        return true;
    }
    if (EnvironmentValue("TOLCTL_RECORD", path) && !path.empty()) {
        return true;
    }
    path = StatePath("record.sqlite");
    if (path.empty()) {
        problem = "no place for the record: no home folder (give --record FILE or TOLCTL_RECORD)";
        return false;
    }
    return true;
}

void AddLabelOption(CLI::App& command, std::vector<std::string>& labels) {
    command
        .add_option("--label", labels,
                    "Take only the lines of --targets whose label NAME is VALUE (label.NAME column or word; "
                    "repeatable: all must match; NAME= takes those without it)")
        ->type_name("NAME=VALUE")
        ->allow_extra_args(false);
}

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

bool NoPortGiven(const GlobalOptions& global,
                 const std::string& subcommand,
                 std::ostream& err,
                 const std::string& hint) {
    if (global.portText.empty()) {
        return true;
    }
    // --port may follow any subcommand; where nothing is sent it was meant as something else.
    err << "tolctl: " << subcommand << " sends nothing: --port has no use here" << hint << '\n';
    return false;
}

bool ParseListen(const std::string& text, std::string& address, uint32_t& value, int& port) {
    const size_t colon = text.rfind(':');
    int64_t number = 0;
    std::string problem;
    if (colon == std::string::npos || !ParseAddress(text.substr(0, colon), value) ||
        !ParseDecimal(text.substr(colon + 1), 0, 65535, number, problem)) {
        return false;
    }
    address = text.substr(0, colon);
    port = static_cast<int>(number);
    return true;
}

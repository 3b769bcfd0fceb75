#include "tolctl/Tolctl.h"

#include <CLI/CLI.hpp>

#include <ostream>
#include <sstream>
#include <string>

#include "TolVersion.h"
#include "system/OemText.h"
#include "tolctl/Options.h"
#include "tolctl/Output.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Suggest.h"
#include "transport/PortFactory.h"
#include "transport/PortUri.h"
#include "values/Values.h"

namespace {

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
    // A subcommand that needs one of its own and got none (or a word that is none of them): the
    // words it takes.
    const auto listSubcommands = [&] {
        if (subcommands.empty() || chain.back()->get_require_subcommand_min() == 0) {
            return;
        }
        std::string list;
        for (size_t i = 0; i < subcommands.size(); ++i) {
            list += (i == 0 ? "" : i + 1 == subcommands.size() ? " or " : ", ") + subcommands[i];
        }
        err << "tolctl: "
            << (chain.size() > 1 ? chain.back()->get_name() + " needs a subcommand: "
                                 : "the subcommands are ")
            << list << "\n";
    };
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
    listSubcommands();
}

int RunSubcommand(AddSubcommandsFunction addSubcommands,
                  const std::vector<std::string>& args,
                  std::istream& in,
                  std::ostream& out,
                  std::ostream& err) {
    CLI::App app{"Builds, sends and decodes thermal receipt printer setting commands.", "tolctl"};
    app.footer(
        "Ports: socket://HOST[:PORT] (TCP, port " + std::to_string(kPrinterTcpPort) +
        " unless given; A.B.C.D[:PORT] alone is the same), serial:DEVICE?baud=N (" + BaudRatesText() +
        "; default " + std::to_string(kBaudRates[0]) +
        "), parallel:DEVICE, usb: (the USB printer found) or usb:DEVICE; on Windows also " +
        PortIndexNamesText(kPortUsb, kPortCom2) +
        ".\n"
        "tolctl's own options may also follow the subcommand (tolctl cut --port A.B.C.D).\n"
        "Numbers are decimal only (leading zeros too; no 0x). An address that is all digits and dots is "
        "four decimal fields 0-255 without leading zeros: 127.1, 3232235777, 0x7f.0.0.1, 192.168.1 and "
        "010.0.0.1 (octal to some programs) are refused, nothing is sent; anything else is a host name.\n"
        "Secrets: wifi-station --password-file FILE (or - for standard input) keeps the password out of the "
        "process list and the shell history.\n"
        "Exit codes: 0 sent (with --dry-run: printed); 1 the port could not be opened or the write failed "
        "(or the output could not be written); 2 usage error or refused input; 3 the write timed out. scan "
        "and ports: 0 when they ran, also when they found nothing. status: 0 when every printer is ok or "
        "warning, 1 otherwise; monitor, when stopped: the same for their last reads. record: 0 when it "
        "answered (also from no record yet), 1 the record could not be read or written, 2 refused (not a "
        "record, or one of a newer tolctl; nothing is changed); record diff: 0 when every setting is the "
        "same, 1 otherwise. A send whose fleet record cannot be written sends nothing (1; --no-record keeps "
        "none).");
    app.require_subcommand(1);
    // tolctl's own options may follow the subcommand too (`tolctl cut --port ...`); and on Windows
    // as well, a word beginning with / is a path, never an option.
    app.fallthrough();
    app.allow_windows_style_options(false);
    app.set_help_all_flag("--help-all", "Print this help with every subcommand's options, and exit");
    app.set_version_flag("--version", std::string("tolctl ") + TOL_VERSION_TEXT,
                         "Print the version and exit");

    GlobalOptions global;
    AddGlobalOptions(app, global);
    Subcommands subcommands;
    addSubcommands(app, subcommands);

    const std::vector<std::string> split = SplitEmptyValues(args);
    std::vector<const char*> argv;
    for (const std::string& arg : split) {
        argv.push_back(arg.c_str());
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            app.exit(e, out, err);  // --help, --version
            return kExitOk;
        }
        std::ostringstream hint;
        SuggestAfterParseError(app, hint);
        // A missing or mistyped subcommand: the words it could be say more than CLI11's "A
        // subcommand is required" above them.
        if (!hint.str().empty() && dynamic_cast<const CLI::RequiredError*>(&e) != nullptr &&
            std::string(e.what()).find("subcommand") != std::string::npos) {
            err << hint.str() << "Run with --help for more information.\n";
        } else {
            app.exit(e, out, err);
            err << hint.str();
        }
        return kExitUsage;
    }

    if (!global.codePage.empty() && !SetOemCodePage(global.codePage)) {
        err << "tolctl: --codepage: " << ShownText(global.codePage) << " is not a code page known here\n";
        return kExitUsage;
    }
    for (const Subcommand& subcommand : subcommands) {
        if (subcommand.app->parsed()) {
            return subcommand.run(global, in, out, err);
        }
    }
    return kExitUsage;
}

}  // namespace

int RunSubcommands(AddSubcommandsFunction addSubcommands,
                   const std::vector<std::string>& args,
                   std::istream& in,
                   std::ostream& out,
                   std::ostream& err) {
    const int code = RunSubcommand(addSubcommands, args, in, out, err);
    // Output that did not arrive (a full disk, a closed pipe) is a failure whatever was done.
    if (!FinishOutput(out, err)) {
        return code == kExitOk ? kExitPort : code;
    }
    return code;
}

// `tolctl listen`: the emulator, virtual printers on TCP that show what each connection delivers.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>
#include <ostream>

#include "commands/Decode.h"
#include "emulator/Emulator.h"
#include "system/ErrnoText.h"
#include "system/Files.h"
#include "tolctl/ListenCommand.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Tolctl.h"
#include "values/AddressRange.h"
#include "values/Values.h"

namespace {

// Up to this many printers, "listening on" has a line for each; more share one line.
constexpr size_t kListedPrinters = 16;

// What the emulator's printers receive, as lines on `out` (and the raw bytes in --save's file);
// its problems on `err`.
class ListenPrinter {
  public:
    ListenPrinter(const ListenOptions& options, std::FILE* save, std::ostream& out, std::ostream& err)
        : m_options(options), m_save(save), m_out(out), m_err(err) {}

    /// Each line is led by the printer's ADDR:PORT when there are several.
    void NamePrinters(bool several) { m_bSeveral = several; }
    /// True when nothing failed: the save file's writes and the output.
    bool Sound() const { return !m_bSaveFailed && !m_bOutputFailed; }

    bool Delivered(const Delivery& delivery) {
        const std::string prefix = m_bSeveral ? delivery.name + ": " : std::string();
        const std::string from = prefix + "(connection from " + delivery.peer;
        if (delivery.ending == Delivery::Ending::Reset) {
            m_out << from << " reset: --fault reset)" << std::endl;
            m_bOutputFailed = m_bOutputFailed || !m_out;
            return !m_bOutputFailed;
        }
        Save(delivery.bytes);
        for (const std::string& line : DecodeCommands(delivery.bytes)) {
            m_out << prefix << line << '\n';
        }
        if (delivery.dropped > 0) {
            m_out << from << ": " << delivery.dropped << " bytes past the first " << kEmulatorKeepBytes
                  << " dropped)\n";
        }
        switch (delivery.ending) {
            case Delivery::Ending::Closed:
            case Delivery::Ending::Reset:
                break;
            case Delivery::Ending::Failed:
                m_out << from << " ended: " << ErrorCodeText(delivery.error) << ")\n";
                break;
            case Delivery::Ending::Idle:
                m_out << from << " dropped as idle: nothing received for " << m_options.idleTimeout
                      << " s)\n";
                break;
            case Delivery::Ending::Stopped:
                m_out << from << " still open when stopped)\n";
                break;
        }
        m_out.flush();
        // Nobody learns what arrives any more (a full disk, a closed pipe): the emulator stops.
        m_bOutputFailed = m_bOutputFailed || !m_out;
        return !m_bOutputFailed;
    }

    void Problem(const EmulatorProblem& problem) {
        switch (problem.kind) {
            case EmulatorProblem::Kind::Wait:
                m_err << "tolctl: listen: cannot wait for connections: " << ErrorCodeText(problem.error)
                      << '\n';
                break;
            case EmulatorProblem::Kind::Accept:
                m_err << "tolctl: listen " << problem.where
                      << " : cannot accept a connection: " << ErrorCodeText(problem.error) << "; trying again"
                      << std::endl;
                break;
            case EmulatorProblem::Kind::State:
                m_err << "tolctl: listen --state: cannot write '" << problem.where
                      << "': " << ErrorCodeText(problem.error) << std::endl;
                break;
            case EmulatorProblem::Kind::Conditions:
                m_err << "tolctl: " << problem.where << std::endl;
                break;
        }
    }

  private:
    // Appends what a connection delivered to the --save file.
    void Save(const std::vector<unsigned char>& bytes) {
        if (!m_save || bytes.empty()) {
            return;
        }
        errno = 0;
        if (std::fwrite(bytes.data(), 1, bytes.size(), m_save.get()) != bytes.size()) {
            const int error = errno != 0 ? errno : EIO;
            m_err << "tolctl: listen --save: cannot write '" << m_options.saveFile
                  << "': " << ErrnoText(error) << '\n';
            m_bSaveFailed = true;
            std::clearerr(m_save.get());  // the next connection's bytes are tried again
        }
    }

    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    const ListenOptions& m_options;
    std::unique_ptr<std::FILE, Closer> m_save;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_bSeveral = false;
    bool m_bSaveFailed = false;
    bool m_bOutputFailed = false;
};

}  // namespace

int RunListen(const ListenOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<PlannedPrinter> printers;
    std::string problem;
    if (!PlanPrinters(options.bind, options.faults, printers, problem) ||
        !PlanConditions(options.conditions, printers, problem)) {
        err << "tolctl: listen " << problem << '\n';
        return kExitUsage;
    }
    // The conditions file is read here to refuse a bad one before anything is listened on, then
    // again by the emulator, which keeps reading it as it changes.
    std::vector<PlannedPrinter> withFile = printers;
    if (!options.conditionsFile.empty() && !ReadConditionsFile(options.conditionsFile, withFile, problem)) {
        err << "tolctl: listen --conditions-file: " << problem << '\n';
        return kExitUsage;
    }
    // The printers start from what an earlier run left in the state file, as printers keep
    // their settings when they are switched off and on; a file that is not one is left alone.
    std::vector<SavedPrinter> saved;
    if (!options.stateFile.empty() && !ReadStateFile(options.stateFile, saved, problem)) {
        err << "tolctl: listen --state: " << problem << '\n';
        return kExitUsage;
    }
    std::FILE* save = nullptr;
    if (!options.saveFile.empty()) {
        save = OpenFile(options.saveFile, "ab");
        if (save == nullptr) {
            const int error = errno;
            err << "tolctl: listen --save: cannot open '" << options.saveFile << "': " << ErrnoText(error)
                << '\n';
            return kExitUsage;
        }
        // Unbuffered: each connection's bytes are written as it ends, and a failed write leaves
        // nothing behind to be written later.
        std::setvbuf(save, nullptr, _IONBF, 0);
    }
    ListenPrinter printer(options, save, out, err);  // owns the --save file from here on
    size_t limit = 0, fit = 0;
    if (!Emulator::Fits(printers, limit, fit)) {
        err << "tolctl: listen --bind: " << printers.size()
            << " printers need more open files than this process may have (" << limit << "); " << fit
            << " fit\n";
        return kExitUsage;
    }
    // From the moment it says it listens, Ctrl-C must find the stop in place.
    std::unique_ptr<Emulator> loop;
    try {
        loop = std::make_unique<Emulator>(
            options.count, std::chrono::seconds(options.idleTimeout),
            EmulatorCallbacks{[&printer](const Delivery& delivery) { return printer.Delivered(delivery); },
                              [&printer](const EmulatorProblem& problem) { printer.Problem(problem); }});
        loop->StopOnSignals();
    } catch (const std::system_error& failure) {
        err << "tolctl: listen: cannot wait for connections: " << ErrorCodeText(failure.code()) << '\n';
        return kExitPort;
    }
    Emulator& emulator = *loop;
    std::string where;
    std::error_code error;
    if (!emulator.Listen(printers, options.port, where, error)) {
        err << "tolctl: listen " << where << " : " << ErrorCodeText(error) << '\n';
        return kExitPort;
    }
    printer.NamePrinters(emulator.PrinterCount() > 1);
    if (!options.conditionsFile.empty() && !emulator.WatchConditions(options.conditionsFile, problem)) {
        err << "tolctl: listen --conditions-file: " << problem << '\n';
        return kExitUsage;
    }
    if (!options.stateFile.empty() && !emulator.KeepStateIn(options.stateFile, std::move(saved))) {
        return kExitUsage;
    }

    std::vector<uint32_t> listened;
    for (size_t i = 0; i < emulator.PrinterCount(); ++i) {
        listened.push_back(emulator.Address(i));
    }
    if (listened.size() <= kListedPrinters) {
        for (const uint32_t address : listened) {
            out << "listening on " << FormatAddress(address) << ":" << emulator.Port() << '\n';
        }
    } else {
        out << "listening on " << FormatAddressSpan(listened) << ":" << emulator.Port() << " ("
            << listened.size() << " printers)\n";
    }
    out.flush();
    if (!out) {
        return kExitPort;  // nobody would see what arrives; RunTolctl says why
    }
    const bool served = emulator.Run();
    return served && printer.Sound() ? kExitOk : kExitPort;
}

void AddListenCommand(CLI::App& app, Subcommands& list) {
    auto options = std::make_shared<ListenOptions>();
    CLI::App* listen =
        app.add_subcommand("listen", "Stand in for a printer on TCP: print the commands received");
    listen->add_option("--bind", options->bind,
                       "IPv4 address, range (A.B.C.D-E) or network (A.B.C.D/NN) to listen on, one virtual "
                       "printer per address (default 127.0.0.1)");
    AddInteger(*listen, "--port", options->port, 0, 65535, "TCP port (default 9100; 0 picks a free one)");
    AddInteger(*listen, "--count", options->count, 1, std::numeric_limits<int>::max(),
               "Stop after N connections (default: until interrupted)");
    AddInteger(*listen, "--idle-timeout", options->idleTimeout, 1, 24 * 3600,
               "Drop a connection that sends nothing for SECONDS (default 10)");
    listen->add_option("--save", options->saveFile, "Append the raw bytes received to FILE")
        ->type_name("FILE");
    listen
        ->add_option("--state", options->stateFile,
                     "Keep every printer's settings as received in FILE (JSON, rewritten as they change); "
                     "the printers start from those it holds")
        ->type_name("FILE");
    listen
        ->add_option(
            "--fault", options->faults,
            "Make printers misbehave: ADDRESS=refuse|reset|stall|slow:MS|surplus|flood|banner (ADDRESS "
            "may be a range or network; repeatable)")
        ->type_name("ADDRESS=KIND")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    listen
        ->add_option(
            "--condition", options->conditions,
            "Make printers report a condition to status requests: "
            "ADDRESS=paper-near-end|paper-end|cover-open|cutter-error|offline (ADDRESS may be a range "
            "or network; repeatable)")
        ->type_name("ADDRESS=KIND")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    listen
        ->add_option(
            "--conditions-file", options->conditionsFile,
            "Take conditions from FILE too, lines ADDRESS=KIND (KIND also none), over --condition's; "
            "read again whenever it changes")
        ->type_name("FILE");
    list.push_back(
        {listen,
         [options](const GlobalOptions& global, std::istream&, std::ostream& out, std::ostream& err) -> int {
             // Left out quietly, --dry-run would have a user who only meant to try listen do
             // it for real.
             if (global.dryRun) {
                 err << "tolctl: listen has no --dry-run: it takes connections as a printer would; "
                        "nothing was done\n";
                 return kExitUsage;
             }
             return RunListen(*options, out, err);
         }});
}

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ostream>

#include "AddressRange.h"
#include "Decode.h"
#include "Emulator.h"
#include "ErrnoText.h"
#include "ListenCommand.h"
#include "StopSignals.h"
#include "Tolctl.h"
#include "UniqueHandle.h"
#include "Values.h"

namespace {

// Up to this many printers, "listening on" has a line for each; more share one line.
constexpr size_t kListedPrinters = 16;

// What the emulator's printers receive, as lines on `out` (and the raw bytes in --save's file);
// its problems on `err`.
class ListenPrinter {
  public:
    ListenPrinter(const ListenOptions& options, UniqueFd save, std::ostream& out, std::ostream& err)
        : m_options(options), m_save(std::move(save)), m_out(out), m_err(err) {}

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
                m_out << from << " ended: " << ErrnoText(delivery.error) << ")\n";
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
                m_err << "tolctl: listen: cannot wait for connections: " << ErrnoText(problem.error) << '\n';
                break;
            case EmulatorProblem::Kind::Accept:
                m_err << "tolctl: listen " << problem.where
                      << " : cannot accept a connection: " << ErrnoText(problem.error) << "; trying again"
                      << std::endl;
                break;
            case EmulatorProblem::Kind::State:
                m_err << "tolctl: listen --state: cannot write '" << problem.where
                      << "': " << ErrnoText(problem.error) << std::endl;
                break;
        }
    }

  private:
    // Appends what a connection delivered to the --save file.
    void Save(const std::vector<unsigned char>& bytes) {
        const unsigned char* at = bytes.data();
        size_t left = m_save.Valid() ? bytes.size() : 0;
        while (left > 0) {
            const ssize_t wrote = ::write(m_save.Get(), at, left);
            if (wrote > 0) {
                at += wrote;
                left -= static_cast<size_t>(wrote);
            } else if (wrote < 0 && errno == EINTR) {
                continue;
            } else {
                const int error = wrote < 0 ? errno : EIO;
                m_err << "tolctl: listen --save: cannot write '" << m_options.saveFile
                      << "': " << ErrnoText(error) << '\n';
                m_bSaveFailed = true;
                return;
            }
        }
    }

    const ListenOptions& m_options;
    UniqueFd m_save;
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
    if (!PlanPrinters(options.bind, options.faults, printers, problem)) {
        err << "tolctl: listen " << problem << '\n';
        return kExitUsage;
    }
    UniqueFd save;
    if (!options.saveFile.empty()) {
        save.Reset(::open(options.saveFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
        if (!save.Valid()) {
            const int error = errno;
            err << "tolctl: listen --save: cannot open '" << options.saveFile << "': " << ErrnoText(error)
                << '\n';
            return kExitUsage;
        }
    }
    size_t limit = 0, fit = 0;
    if (!Emulator::Fits(printers, limit, fit)) {
        err << "tolctl: listen --bind: " << printers.size()
            << " printers need more open files than this process may have (" << limit << "); " << fit
            << " fit\n";
        return kExitUsage;
    }

    // From the moment it says it listens, Ctrl-C must find the handler in place.
    StopSignals signals;
    ListenPrinter printer(options, std::move(save), out, err);
    Emulator emulator(
        options.count, std::chrono::seconds(options.idleTimeout),
        EmulatorCallbacks{[&printer](const Delivery& delivery) { return printer.Delivered(delivery); },
                          [&printer](const EmulatorProblem& problem) { printer.Problem(problem); }});
    std::string where;
    int error = 0;
    if (!emulator.Listen(printers, options.port, where, error)) {
        err << "tolctl: listen " << where << " : " << ErrnoText(error) << '\n';
        return kExitPort;
    }
    printer.NamePrinters(emulator.PrinterCount() > 1);
    if (!options.stateFile.empty() && !emulator.KeepStateIn(options.stateFile)) {
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
    const bool served = emulator.Run(signals);
    return served && printer.Sound() ? kExitOk : kExitPort;
}

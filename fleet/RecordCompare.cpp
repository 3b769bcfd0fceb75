#include "fleet/RecordCompare.h"

#include <map>
#include <memory>
#include <utility>

#include "record/RecordQueries.h"
#include "transport/PortUri.h"

namespace {

// The fingerprints of the plan's secrets under each roll-out's key, each asked once.
class Fingerprints {
  public:
    explicit Fingerprints(Record& record) : m_record(record) {}
    const std::string& Of(const std::string& rollout, const std::string& secret) {
        const auto key = std::make_pair(rollout, secret);
        auto found = m_known.find(key);
        if (found == m_known.end()) {
            found = m_known.emplace(key, m_record.FingerprintFor(rollout, secret)).first;
        }
        return found->second;
    }
    const std::string& Own(const std::string& secret) {
        auto found = m_own.find(secret);
        if (found == m_own.end()) {
            found = m_own.emplace(secret, m_record.Fingerprint(secret)).first;
        }
        return found->second;
    }

  private:
    Record& m_record;
    std::map<std::pair<std::string, std::string>, std::string> m_known;
    std::map<std::string, std::string> m_own;
};

// Fills `compared` (whose text keeps its room from one printer to the next) for the planned
// setting beside `rows`, the printer's recorded ones.
void Compare(size_t command,
             const PlannedSetting& planned,
             const std::vector<PrinterSettingRow>& rows,
             size_t rowCount,
             Fingerprints& fingerprints,
             RecordedSetting& compared) {
    compared.command = command;
    compared.planned = &planned;
    compared.state = RecordedState::NeverSet;
    compared.sentMs = 0;
    compared.rollout.clear();
    compared.recorded.clear();
    const PrinterSettingRow* row = nullptr;
    for (size_t i = 0; i < rowCount; ++i) {
        if (rows[i].setting == planned.key) {
            row = &rows[i];
            break;
        }
    }
    if (planned.secret) {
        compared.shown = row != nullptr && row->secret ? fingerprints.Of(row->rollout, planned.value)
                                                       : fingerprints.Own(planned.value);
    } else {
        compared.shown = planned.value;
    }
    if (row == nullptr) {
        return;
    }
    compared.sentMs = row->sentMs;
    compared.rollout = row->rollout;
    if (row->sentMs != 0) {
        compared.recorded = row->value;
    }
    if (row->failedMs != 0) {
        compared.state = RecordedState::Failed;
    } else if (row->sentMs != 0) {
        const bool same = planned.secret == row->secret && row->value == compared.shown;
        compared.state = same ? RecordedState::Same : RecordedState::Differs;
    }
}

}  // namespace

const char* RecordedStateName(RecordedState state) {
    switch (state) {
        case RecordedState::Same:
            return "same";
        case RecordedState::Differs:
            return "differs";
        case RecordedState::Failed:
            return "failed";
        case RecordedState::NeverSet:
            break;
    }
    return "never-set";
}

bool CompareWithRecord(Record& record,
                       const RolloutPlan& plan,
                       const std::function<void(size_t printer, const std::vector<RecordedSetting>&)>& each,
                       std::string& problem) {
    std::vector<std::string> names;
    names.reserve(plan.printers.size());
    for (const RolloutPrinter& printer : plan.printers) {
        names.push_back(PrinterName(printer.target.port));
    }
    Fingerprints fingerprints(record);
    // The current printer's rows (the first rowCount), and what is told of it: kept from one
    // printer to the next with their text's room, so that a hundred thousand printers cost no
    // allocation each.
    std::vector<PrinterSettingRow> rows;
    size_t rowCount = 0;
    std::vector<RecordedSetting> compared;
    size_t next = 0;  // the next printer to be told; `rows` are its
    const auto tellNext = [&]() {
        const std::vector<PlannedCmd>& commands = *plan.printers[next].plan;
        size_t count = 0;
        for (size_t i = 0; i < commands.size(); ++i) {
            for (const PlannedSetting& setting : commands[i].settings) {
                if (count == compared.size()) {
                    compared.emplace_back();
                }
                Compare(i, setting, rows, rowCount, fingerprints, compared[count++]);
            }
        }
        compared.resize(count);
        each(next, compared);
        ++next;
        rowCount = 0;
    };
    // The rows come by printer in the order of `names`, only for printers the record knows.
    const bool read = QueryPrinters(
        record, names,
        [&](const PrinterSettingRow& row) {
            while (next < names.size() && names[next] != row.printer) {
                tellNext();  // done, or never in the record
            }
            if (next < names.size() && !row.setting.empty()) {
                if (rowCount == rows.size()) {
                    rows.emplace_back();
                }
                rows[rowCount++] = row;
            }
        },
        problem);
    if (!read) {
        return false;
    }
    while (next < names.size()) {
        tellNext();
    }
    return true;
}

bool SkipSame(Record& record, RolloutPlan& plan, size_t& skipped, std::string& problem) {
    skipped = 0;
    // Printers with the same plan and the same commands kept share the plan kept.
    std::map<std::pair<const std::vector<PlannedCmd>*, std::vector<bool>>,
             std::shared_ptr<const std::vector<PlannedCmd>>>
        kept;
    std::vector<std::shared_ptr<const std::vector<PlannedCmd>>> plans(plan.printers.size());
    const bool read = CompareWithRecord(
        record, plan,
        [&](size_t printer, const std::vector<RecordedSetting>& settings) {
            const std::vector<PlannedCmd>& commands = *plan.printers[printer].plan;
            std::vector<bool> keep(commands.size(), false);
            bool any = false;
            for (const RecordedSetting& setting : settings) {
                if (setting.state != RecordedState::Same) {
                    keep[setting.command] = true;
                    any = true;
                }
            }
            for (size_t i = 0; i < commands.size(); ++i) {
                keep[i] = keep[i] || (any && commands[i].settings.empty());
                skipped += keep[i] ? 0 : 1;
            }
            auto& shared = kept[std::make_pair(&commands, keep)];
            if (!shared) {
                auto left = std::make_shared<std::vector<PlannedCmd>>();
                for (size_t i = 0; i < commands.size(); ++i) {
                    if (keep[i]) {
                        left->push_back(commands[i]);
                    }
                }
                shared = std::move(left);
            }
            plans[printer] = shared;
        },
        problem);
    if (!read) {
        return false;
    }
    for (size_t i = 0; i < plan.printers.size(); ++i) {
        plan.printers[i].plan = plans[i];
    }
    return true;
}

// `tolctl record`: what the fleet record holds (each printer's last values, a printer's history,
// the roll-outs, one roll-out's printers), and its export and import as JSON lines.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "fleet/Labels.h"
#include "fleet/Plan.h"
#include "fleet/RecordCompare.h"
#include "fleet/Targets.h"
#include "record/Record.h"
#include "record/RecordQueries.h"
#include "record/RecordTransfer.h"
#include "system/ErrnoText.h"
#include "system/Files.h"
#include "system/UtcTime.h"
#include "tolctl/Options.h"
#include "tolctl/Output.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Tolctl.h"
#include "transport/PortUri.h"
#include "values/Values.h"

namespace {

struct RecordOptions {
    std::string format = "table";
    std::vector<std::string> targets;  // printers: --target
    std::string targetsFile;           // printers: --targets
    std::string target;                // history TARGET
    std::string rollout;               // rollout ID
    std::string file;                  // import FILE
    std::string profile;               // diff PROFILE
    std::vector<std::string> labels;   // --label NAME=VALUE: only the lines of --targets with these
};

// Rows printed as a table (for people: each column padded to its widest cell), as CSV (RFC 4180,
// a header row first) or as a JSON array of objects. A table is kept until its widths are known;
// the others are written as they come, through a buffer (a query may print a million rows).
class RowPrinter {
  public:
    enum class Kind : uint8_t { Text, Number, Object };
    struct Column {
        const char* name;     // the JSON key and CSV heading; upper case, the table's
        bool inTable = true;  // shown in a table (JSON and CSV show every column)
        Kind kind = Kind::Text;
    };

    RowPrinter(const std::string& format, std::vector<Column> columns, std::ostream& out)
        : m_format(format == "csv"    ? Format::Csv
                   : format == "json" ? Format::Json
                                      : Format::Table),
          m_columns(std::move(columns)),
          m_out(out),
          m_cells(m_columns.size()),
          m_null(m_columns.size()) {
        for (size_t i = 0; i < m_columns.size(); ++i) {
            m_keys.push_back(nlohmann::json(m_columns[i].name).dump() + ": ");
            if (m_format == Format::Csv) {
                m_buffer += (i == 0 ? "" : ",") + std::string(m_columns[i].name);
            } else if (m_format == Format::Table) {
                m_cells[i] = UpperCase(m_columns[i].name);
            }
        }
        if (m_format == Format::Csv) {
            m_buffer += "\r\n";
        } else if (m_format == Format::Json) {
            m_buffer += "[";
        } else {
            AddTableRow();
        }
    }

    /// Cell `i` of the row being made; `null` for none (JSON null, CSV empty, table "-").
    void Set(size_t i, const std::string& text) {
        m_cells[i] = text;
        m_null[i] = false;
    }
    void SetNull(size_t i) {
        m_cells[i].clear();
        m_null[i] = true;
    }
    void SetTime(size_t i, int64_t ms) {
        if (ms == 0) {
            SetNull(i);
            return;
        }
        m_cells[i].clear();
        AppendUtcMsText(m_cells[i], ms);
        m_null[i] = false;
    }

    /// Ends the row being made.
    void EndRow() {
        if (m_format == Format::Csv) {
            for (size_t i = 0; i < m_cells.size(); ++i) {
                if (i > 0) {
                    m_buffer += ',';
                }
                AppendCsv(m_cells[i]);
            }
            m_buffer += "\r\n";
        } else if (m_format == Format::Json) {
            m_buffer += m_rows == 0 ? "\n  {" : ",\n  {";
            for (size_t i = 0; i < m_cells.size(); ++i) {
                if (i > 0) {
                    m_buffer += ", ";
                }
                m_buffer += m_keys[i];
                if (m_null[i]) {
                    m_buffer += "null";
                } else if (m_columns[i].kind == Kind::Text) {
                    AppendJson(m_cells[i]);
                } else {
                    m_buffer += m_cells[i];
                }
            }
            m_buffer += '}';
        } else {
            for (size_t i = 0; i < m_cells.size(); ++i) {
                if (m_null[i]) {
                    m_cells[i] = "-";
                }
            }
            AddTableRow();
        }
        ++m_rows;
        if (m_buffer.size() >= 65536) {
            m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
            m_buffer.clear();
        }
    }

    /// Writes what is kept (a table) and the end (JSON's "]").
    void Finish() {
        if (m_format == Format::Json) {
            m_buffer += m_rows == 0 ? "]\n" : "\n]\n";
        } else if (m_format == Format::Table) {
            PrintTable();
        }
        m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
        m_buffer.clear();
    }

  private:
    enum class Format : uint8_t { Table, Csv, Json };

    void AppendCsv(const std::string& text) {
        if (std::none_of(text.begin(), text.end(),
                         [](char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; })) {
            m_buffer += text;
            return;
        }
        m_buffer += '"';
        for (const char c : text) {
            m_buffer += c;
            if (c == '"') {
                m_buffer += '"';
            }
        }
        m_buffer += '"';
    }

    // A JSON string; text that is not all ASCII through nlohmann's writer, which replaces what
    // is not UTF-8.
    void AppendJson(const std::string& text) {
        static const char kDigits[] = "0123456789abcdef";
        const auto plain = [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return byte >= 0x20 && byte < 0x7f && c != '"' && c != '\\';
        };
        if (std::all_of(text.begin(), text.end(), plain)) {
            m_buffer += '"';
            m_buffer += text;
            m_buffer += '"';
            return;
        }
        if (std::any_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
            m_buffer += nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            return;
        }
        m_buffer += '"';
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (plain(c)) {
                m_buffer += c;
            } else if (byte >= 0x20) {
                m_buffer += '\\';
                m_buffer += c;
            } else {
                m_buffer += "\\u00";
                m_buffer += kDigits[byte >> 4];
                m_buffer += kDigits[byte & 15];
            }
        }
        m_buffer += '"';
    }

    // A table's row kept: its shown cells on one line each (control characters as \xNN), each
    // ended by a 00 byte. The rows go into chunks of about 1 MiB, so that a million rows are
    // never copied to make room.
    void AddTableRow() {
        constexpr size_t kChunk = 1 << 20;
        if (m_tables.empty() || m_tables.back().size() >= kChunk) {
            m_tables.emplace_back();
            m_tables.back().reserve(kChunk + 4096);
        }
        std::string& table = m_tables.back();
        size_t shown = 0;
        for (size_t i = 0; i < m_cells.size(); ++i) {
            if (!m_columns[i].inTable) {
                continue;
            }
            const size_t start = table.size();
            const std::string& cell = m_cells[i];
            if (std::none_of(cell.begin(), cell.end(), [](char c) {
                    return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7f;
                })) {
                table += cell;
            } else {
                for (const char c : cell) {
                    const auto byte = static_cast<unsigned char>(c);
                    if (byte < 0x20 || byte == 0x7f) {
                        table += "\\x" + HexBytes(&byte, 1);
                    } else {
                        table += c;
                    }
                }
            }
            if (shown >= m_widths.size()) {
                m_widths.push_back(0);
            }
            m_widths[shown] = std::max(m_widths[shown], table.size() - start);
            table += '\0';
            ++shown;
        }
    }

    void PrintTable() {
        size_t column = 0, lineStart = m_buffer.size();
        for (const std::string& table : m_tables) {
            for (size_t at = 0; at < table.size();) {
                const size_t end = table.find('\0', at);
                const size_t size = end - at;
                m_buffer.append(table, at, size);
                at = end + 1;
                if (++column < m_widths.size()) {
                    m_buffer.append(m_widths[column - 1] - size + 2, ' ');
                    continue;
                }
                while (m_buffer.size() > lineStart && m_buffer.back() == ' ') {
                    m_buffer.pop_back();
                }
                m_buffer += '\n';
                column = 0;
                if (m_buffer.size() >= 65536) {
                    m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
                    m_buffer.clear();
                }
                lineStart = m_buffer.size();
            }
        }
    }

    const Format m_format;
    const std::vector<Column> m_columns;
    std::ostream& m_out;
    std::vector<std::string> m_keys;  // each column's JSON key, quoted, and ": "
    std::vector<std::string> m_cells;
    std::vector<bool> m_null;
    size_t m_rows = 0;
    std::string m_buffer;               // written out every 64 KiB
    std::vector<std::string> m_tables;  // a table's rows, their cells each ended by a 00 byte
    std::vector<size_t> m_widths;       // of a table's shown columns
};

// A value as the record shows it: a secret as "hmac:" and its fingerprint.
std::string ShownValue(const std::string& value, bool secret) {
    return secret ? "hmac:" + value : value;
}

// A roll-out's id in a table: its first 8 hex digits (record rollout takes any unique beginning).
std::string RolloutCell(const std::string& uuid, const std::string& format) {
    return format == "table" ? uuid.substr(0, 8) : uuid;
}

// The printer named `text` as the record names it (PrinterName); ranges and networks give one a
// printer. A device that is not there now is still a printer the record may know.
bool PrinterNames(const std::string& text, std::vector<std::string>& names, std::string& problem) {
    std::vector<Target> expanded;
    if (ExpandTarget(text, kWindowsPortNames, expanded, problem)) {
        for (const Target& target : expanded) {
            names.push_back(PrinterName(target.port));
        }
        return true;
    }
    PortUri port;
    std::string portProblem;
    if (!ParsePortUri(text, kWindowsPortNames, port, portProblem)) {
        return false;
    }
    names.push_back(PrinterName(port));
    return true;
}

// Opens the record that the options name for reading (with --dry-run without writing anything).
// Null with the exit code in `code`; also null with kExitOk when there is no record yet, which was
// said on `err`.
std::unique_ptr<Record> OpenForReading(const GlobalOptions& global, int& code, std::ostream& err) {
    std::string path, problem;
    code = kExitUsage;
    if (global.noRecord) {
        err << "tolctl: record: --no-record leaves no record to read\n";
        return nullptr;
    }
    if (!RecordPath(global, path, problem)) {
        err << "tolctl: record: " << problem << '\n';
        return nullptr;
    }
    RecordProblem why;
    std::unique_ptr<Record> record =
        Record::Open(path, global.dryRun ? RecordMode::ReadOnly : RecordMode::Read, why);
    code = kExitOk;
    if (record == nullptr) {
        err << "tolctl: record: " << why.text
            << (why.kind == RecordProblem::Kind::Missing ? " (nothing was recorded there yet)" : "") << '\n';
        code = why.kind == RecordProblem::Kind::Missing  ? kExitOk
               : why.kind == RecordProblem::Kind::Failed ? kExitPort
                                                         : kExitUsage;
    }
    return record;
}

// A printer's labels from its targets file (the record keeps none of its own: the file is where
// they live), as the status table and report show them: "shop=North,till=3" in a table or CSV, an
// object in JSON.
void SetLabels(RowPrinter& rows, size_t i, const TargetLabels* labels, const std::string& format) {
    if (labels == nullptr || labels->empty()) {
        rows.SetNull(i);
    } else if (format == "json") {
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        for (const auto& label : *labels) {
            object[label.first] = label.second;
        }
        rows.Set(i, object.dump());
    } else {
        rows.Set(i, LabelsText(*labels));
    }
}

int RunPrinters(const RecordOptions& options,
                const GlobalOptions& global,
                std::ostream& out,
                std::ostream& err) {
    std::vector<std::string> names, problems;
    TargetSources sources;
    sources.targets = options.targets;
    sources.file = options.targetsFile;
    sources.labels = options.labels;
    const std::vector<TargetLine> lines = ReadTargetLines(sources, problems);
    std::unordered_map<std::string, const TargetLabels*> labelsOf;  // when a line has labels
    std::deque<TargetLabels> numbered;                              // those that number its printers
    for (const TargetLine& line : lines) {
        std::string problem;
        const size_t first = names.size();
        if (!PrinterNames(line.target, names, problem)) {
            problems.push_back(line.origin + ": " + problem);
        }
        const bool numbers = NumbersPrinters(line.labels);
        for (size_t i = first; i < names.size() && !line.labels.empty(); ++i) {
            if (numbers) {
                numbered.push_back(NumberedLabels(line.labels, line.firstNumber + (i - first)));
            }
            labelsOf.emplace(names[i], numbers ? &numbered.back() : &line.labels);
        }
    }
    if (!problems.empty()) {
        ShowProblems(problems, err);
        return kExitUsage;
    }
    if (!lines.empty() && names.empty()) {
        return kExitOk;  // a network without printers
    }
    int code = kExitOk;
    std::unique_ptr<Record> record = OpenForReading(global, code, err);
    if (record == nullptr && code != kExitOk) {
        return code;  // not even an empty table: there is nothing to show, and why is said
    }
    RowPrinter rows(options.format,
                    {{"target"},
                     {"setting"},
                     {"value"},
                     {"sent"},
                     {"rollout"},
                     {"failed"},
                     {"state"},
                     {"conditions"},
                     {"status-time"},
                     {"labels", !labelsOf.empty(), RowPrinter::Kind::Object}},
                    out);
    std::string problem;
    if (record != nullptr &&
        !QueryPrinters(
            *record, names,
            [&](const PrinterSettingRow& row) {
                rows.Set(0, row.printer);
                row.setting.empty() ? rows.SetNull(1) : rows.Set(1, row.setting);
                row.sentMs == 0 ? rows.SetNull(2) : rows.Set(2, ShownValue(row.value, row.secret));
                rows.SetTime(3, row.sentMs);
                row.rollout.empty() ? rows.SetNull(4) : rows.Set(4, RolloutCell(row.rollout, options.format));
                rows.SetTime(5, row.failedMs);
                row.state.empty() ? rows.SetNull(6) : rows.Set(6, row.state);
                row.statusMs == 0 ? rows.SetNull(7) : rows.Set(7, row.conditions);
                rows.SetTime(8, row.statusMs);
                const auto labels = labelsOf.find(row.printer);
                SetLabels(rows, 9, labels == labelsOf.end() ? nullptr : labels->second, options.format);
                rows.EndRow();
            },
            problem)) {
        err << "tolctl: record: " << problem << '\n';
        code = kExitPort;
    }
    rows.Finish();
    return code;
}

int RunHistory(const RecordOptions& options,
               const GlobalOptions& global,
               std::ostream& out,
               std::ostream& err) {
    PortUri port;
    std::string problem;
    if (!ParsePortUri(options.target, kWindowsPortNames, port, problem)) {
        err << "tolctl: record history: " << problem << '\n';
        return kExitUsage;
    }
    int code = kExitOk;
    std::unique_ptr<Record> record = OpenForReading(global, code, err);
    if (record == nullptr && code != kExitOk) {
        return code;  // not even an empty table: there is nothing to show, and why is said
    }
    RowPrinter rows(options.format,
                    {{"time"},
                     {"rollout"},
                     {"seq", false, RowPrinter::Kind::Number},
                     {"setting"},
                     {"value"},
                     {"result"},
                     {"error"}},
                    out);
    if (record != nullptr && !QueryHistory(
                                 *record, PrinterName(port),
                                 [&](const HistoryRow& row) {
                                     rows.SetTime(0, row.timeMs);
                                     rows.Set(1, RolloutCell(row.rollout, options.format));
                                     rows.Set(2, std::to_string(row.seq));
                                     rows.Set(3, row.setting);
                                     rows.Set(4, ShownValue(row.value, row.secret));
                                     rows.Set(5, SendResultName(row.result));
                                     row.error.empty() ? rows.SetNull(6) : rows.Set(6, row.error);
                                     rows.EndRow();
                                 },
                                 problem)) {
        err << "tolctl: record: " << problem << '\n';
        code = kExitPort;
    }
    rows.Finish();
    return code;
}

// A roll-out's counts as a table shows them: "printers=256 ok=250 failed=6".
std::string CountsText(const std::string& counts) {
    nlohmann::json parsed = nlohmann::json::parse(counts, nullptr, false);
    if (!parsed.is_object()) {
        return counts;
    }
    std::string text;
    for (const auto& item : parsed.items()) {
        text += (text.empty() ? "" : " ") + item.key() + "=" +
                (item.value().is_string() ? item.value().get<std::string>() : item.value().dump());
    }
    return text;
}

int RunRollouts(const RecordOptions& options,
                const GlobalOptions& global,
                std::ostream& out,
                std::ostream& err) {
    int code = kExitOk;
    std::unique_ptr<Record> record = OpenForReading(global, code, err);
    if (record == nullptr && code != kExitOk) {
        return code;
    }
    const bool table = options.format == "table";
    RowPrinter rows(options.format,
                    {{"rollout"},
                     {"kind"},
                     {"started"},
                     {"ended"},
                     {"user-host"},
                     {"version", false},
                     {"profile"},
                     {"digest", false},
                     {"options", false, RowPrinter::Kind::Object},
                     {"counts", true, table ? RowPrinter::Kind::Text : RowPrinter::Kind::Object}},
                    out);
    std::string problem;
    if (record != nullptr && !QueryRollouts(
                                 *record,
                                 [&](const RolloutRow& row) {
                                     rows.Set(0, RolloutCell(row.uuid, options.format));
                                     rows.Set(1, row.kind);
                                     rows.SetTime(2, row.startMs);
                                     rows.SetTime(3, row.endMs);
                                     rows.Set(4, row.userHost);
                                     rows.Set(5, row.version);
                                     row.profile.empty() ? rows.SetNull(6) : rows.Set(6, row.profile);
                                     rows.Set(7, row.digest);
                                     rows.Set(8, row.options);
                                     row.counts.empty()
                                         ? rows.SetNull(9)
                                         : rows.Set(9, table ? CountsText(row.counts) : row.counts);
                                     rows.EndRow();
                                 },
                                 problem)) {
        err << "tolctl: record: " << problem << '\n';
        code = kExitPort;
    }
    rows.Finish();
    return code;
}

int RunRollout(const RecordOptions& options,
               const GlobalOptions& global,
               std::ostream& out,
               std::ostream& err) {
    int code = kExitOk;
    std::unique_ptr<Record> record = OpenForReading(global, code, err);
    if (record == nullptr) {
        return code == kExitOk ? kExitUsage : code;  // no record, so no such roll-out
    }
    RolloutRow found;
    bool refused = false;
    std::string problem;
    if (!FindRollout(*record, options.rollout, found, refused, problem)) {
        err << "tolctl: record rollout: " << problem << '\n';
        return refused ? kExitUsage : kExitPort;
    }
    RowPrinter rows(options.format,
                    {{"target"},
                     {"result"},
                     {"sent", true, RowPrinter::Kind::Number},
                     {"failed", true, RowPrinter::Kind::Number},
                     {"not-sent", true, RowPrinter::Kind::Number},
                     {"interrupted", true, RowPrinter::Kind::Number},
                     {"in-flight", true, RowPrinter::Kind::Number},
                     {"last", true},
                     {"error"}},
                    out);
    if (!QueryRolloutPrinters(
            *record, found.uuid,
            [&](const RolloutPrinterRow& row) {
                rows.Set(0, row.printer);
                rows.Set(1, row.result);
                rows.Set(2, std::to_string(row.sent));
                rows.Set(3, std::to_string(row.failed));
                rows.Set(4, std::to_string(row.notSent));
                rows.Set(5, std::to_string(row.interrupted));
                rows.Set(6, std::to_string(row.inFlight));
                rows.SetTime(7, row.lastMs);
                row.error.empty() ? rows.SetNull(8) : rows.Set(8, row.error);
                rows.EndRow();
            },
            problem)) {
        err << "tolctl: record: " << problem << '\n';
        code = kExitPort;
    }
    rows.Finish();
    return code;
}

// record diff: each printer's planned settings beside the record. 0 when all are the same.
int RunDiff(const RecordOptions& options,
            const GlobalOptions& global,
            std::istream& in,
            std::ostream& out,
            std::ostream& err) {
    RolloutInputs inputs;
    inputs.profile = options.profile;
    inputs.targets = options.targets;
    inputs.targetsFile = options.targetsFile;
    inputs.labels = options.labels;
    const RolloutPlan plan = PlanRollout(inputs, in);
    if (!plan.errors.empty()) {
        ShowProblems(plan.errors, err);
        return kExitUsage;
    }
    int code = kExitOk;
    std::unique_ptr<Record> record = OpenForReading(global, code, err);
    if (record == nullptr && code != kExitOk) {
        return code;
    }
    const bool labelled = std::any_of(
        plan.printers.begin(), plan.printers.end(),
        [](const RolloutPrinter& p) { return p.target.labels != nullptr && !p.target.labels->empty(); });
    RowPrinter rows(options.format,
                    {{"target"},
                     {"setting"},
                     {"state"},
                     {"planned"},
                     {"recorded"},
                     {"sent"},
                     {"rollout"},
                     {"labels", labelled, RowPrinter::Kind::Object}},
                    out);
    bool allSame = true;
    const auto print = [&](size_t printer, const std::vector<RecordedSetting>& settings) {
        for (const RecordedSetting& setting : settings) {
            allSame = allSame && setting.state == RecordedState::Same;
            rows.Set(0, plan.printers[printer].target.name);
            rows.Set(1, setting.planned->key);
            rows.Set(2, RecordedStateName(setting.state));
            if (record == nullptr && setting.planned->secret) {
                rows.Set(3, kHiddenPassword);
            } else {
                rows.Set(3, ShownValue(setting.shown, setting.planned->secret));
            }
            setting.sentMs == 0 ? rows.SetNull(4)
                                : rows.Set(4, ShownValue(setting.recorded, setting.planned->secret));
            rows.SetTime(5, setting.sentMs);
            setting.rollout.empty() ? rows.SetNull(6)
                                    : rows.Set(6, RolloutCell(setting.rollout, options.format));
            SetLabels(rows, 7, plan.printers[printer].target.labels.get(), options.format);
            rows.EndRow();
        }
    };
    std::string problem;
    if (record == nullptr) {
        // No record yet: nothing was ever set.
        std::vector<RecordedSetting> settings;
        for (size_t i = 0; i < plan.printers.size(); ++i) {
            settings.clear();
            const std::vector<PlannedCmd>& commands = *plan.printers[i].plan;
            for (size_t c = 0; c < commands.size(); ++c) {
                for (const PlannedSetting& planned : commands[c].settings) {
                    RecordedSetting setting;
                    setting.command = c;
                    setting.planned = &planned;
                    setting.shown = planned.value;
                    settings.push_back(setting);
                }
            }
            print(i, settings);
        }
    } else if (!CompareWithRecord(*record, plan, print, problem)) {
        rows.Finish();
        err << "tolctl: record: " << problem << '\n';
        return kExitPort;
    }
    rows.Finish();
    return allSame ? kExitOk : kExitPort;
}

int RunExport(const GlobalOptions& global, std::ostream& out, std::ostream& err) {
    int code = kExitOk;
    std::unique_ptr<Record> record = OpenForReading(global, code, err);
    std::string problem;
    if (record != nullptr && !ExportRecord(*record, out, problem)) {
        err << "tolctl: record: " << problem << '\n';
        return kExitPort;
    }
    return code;
}

int RunImport(const RecordOptions& options,
              const GlobalOptions& global,
              std::istream& in,
              std::ostream& out,
              std::ostream& err) {
    std::string path, problem;
    if (global.noRecord) {
        err << "tolctl: record import: --no-record leaves no record to import into\n";
        return kExitUsage;
    }
    if (!RecordPath(global, path, problem)) {
        err << "tolctl: record import: " << problem << '\n';
        return kExitUsage;
    }
    std::ifstream file;
    if (options.file != "-") {
        std::FILE* probe = OpenFile(options.file, "rb");  // its name in UTF-8 on every platform
        if (probe == nullptr) {
            err << "tolctl: record import: cannot read " << FileLabel(options.file) << ": "
                << ErrnoText(errno) << '\n';
            return kExitPort;
        }
        std::fclose(probe);
        file.open(std::filesystem::u8path(options.file), std::ios::binary);
    }
    // With --dry-run the lines are merged and rolled back: into the record when there is one,
    // else into an empty one in memory.
    RecordProblem why;
    std::unique_ptr<Record> record =
        Record::Open(path, global.dryRun ? RecordMode::Trial : RecordMode::Write, why);
    if (record == nullptr && global.dryRun && why.kind == RecordProblem::Kind::Missing) {
        record = Record::OpenInMemory(why);
    }
    if (record == nullptr) {
        err << "tolctl: record import: " << why.text << '\n';
        return why.kind == RecordProblem::Kind::Refused ? kExitUsage : kExitPort;
    }
    ImportCounts counts;
    bool refused = false;
    const std::string origin = options.file == "-" ? "standard input" : FileLabel(options.file);
    if (!ImportRecord(*record, options.file == "-" ? in : file, origin, global.dryRun, counts, refused,
                      problem)) {
        err << "tolctl: record import: " << problem << "; nothing was imported\n";
        return refused ? kExitUsage : kExitPort;
    }
    out << (global.dryRun ? "would import " : "imported ") << counts.rollouts << " roll-outs, "
        << counts.sends << " commands and " << counts.statuses << " status rows from " << origin << " ("
        << counts.known << " lines the record had already)\n";
    return kExitOk;
}

}  // namespace

void AddRecordCommand(CLI::App& app, Subcommands& list) {
    auto options = std::make_shared<RecordOptions>();
    CLI::App* record = app.add_subcommand(
        "record",
        "What the fleet record holds: every command sent to a printer, when, and by which roll-out");
    record->require_subcommand(1);
    const auto addFormat = [options](CLI::App* command) {
        command->add_option("--format", options->format, "table (default), json (an array of objects) or csv")
            ->type_name("table|json|csv")
            ->check(CLI::IsMember({"table", "json", "csv"}));
    };
    CLI::App* printers = record->add_subcommand(
        "printers",
        "Each printer's last value of each setting (a secret as hmac: and its fingerprint), when it was "
        "sent and by which roll-out, and its last status");
    printers
        ->add_option(
            "--target", options->targets,
            "Only this printer: any --port form, or socket://A.B.C.D-E and socket://A.B.C.D/NN for one "
            "printer per address (repeatable)")
        ->type_name("PORT")
        ->allow_extra_args(false);
    printers
        ->add_option("--targets", options->targetsFile,
                     "Only the printers of a file of targets, one a line, as apply reads it (KEY=VALUE "
                     "overrides are ignored)")
        ->type_name("FILE");
    AddLabelOption(*printers, options->labels);
    addFormat(printers);
    CLI::App* history = record->add_subcommand("history", "Everything sent to one printer, newest first");
    history->add_option("target", options->target, "The printer: any --port form")
        ->required()
        ->type_name("TARGET");
    addFormat(history);
    CLI::App* rollouts = record->add_subcommand("rollouts", "The roll-outs, oldest first, with their counts");
    addFormat(rollouts);
    CLI::App* rollout = record->add_subcommand("rollout", "One roll-out's printers and what each was sent");
    rollout->add_option("id", options->rollout, "The roll-out's id, or its first characters (4 at least)")
        ->required()
        ->type_name("ID");
    addFormat(rollout);
    CLI::App* diff = record->add_subcommand(
        "diff",
        "Each printer's settings of a profile beside the record: same, differs, never-set or failed (its "
        "last "
        "send failed); a password compared by its fingerprint. Exit code 0 when every one is the same, 1 "
        "otherwise");
    diff->add_option("profile", options->profile, "The profile (JSON), as apply takes it")
        ->required()
        ->type_name("PROFILE");
    diff->add_option("--target", options->targets,
                     "A printer: any --port form, or socket://A.B.C.D-E and socket://A.B.C.D/NN for one "
                     "printer per address (repeatable)")
        ->type_name("PORT")
        ->allow_extra_args(false);
    diff->add_option("--targets", options->targetsFile,
                     "A file of targets with their KEY=VALUE overrides, as apply reads it")
        ->type_name("FILE");
    AddLabelOption(*diff, options->labels);
    addFormat(diff);
    CLI::App* exportRecord =
        record->add_subcommand("export", "Print the whole record as JSON lines, for record import elsewhere");
    CLI::App* importRecord = record->add_subcommand(
        "import",
        "Merge another record's export into this one (importing the same lines again changes nothing); with "
        "--dry-run only count what it would add");
    importRecord->add_option("file", options->file, "The export's file, or - for standard input")
        ->required()
        ->type_name("FILE");
    list.push_back(
        {record,
         [=](const GlobalOptions& global, std::istream& in, std::ostream& out, std::ostream& err) -> int {
             if (!NoPortGiven(global, "record", err)) {
                 return kExitUsage;
             }
             if (printers->parsed()) {
                 return RunPrinters(*options, global, out, err);
             }
             if (history->parsed()) {
                 return RunHistory(*options, global, out, err);
             }
             if (rollouts->parsed()) {
                 return RunRollouts(*options, global, out, err);
             }
             if (rollout->parsed()) {
                 return RunRollout(*options, global, out, err);
             }
             if (diff->parsed()) {
                 return RunDiff(*options, global, in, out, err);
             }
             if (exportRecord->parsed()) {
                 return RunExport(global, out, err);
             }
             if (importRecord->parsed()) {
                 return RunImport(*options, global, in, out, err);
             }
             return kExitUsage;
         }});
}

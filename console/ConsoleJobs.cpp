#include "console/ConsoleJobs.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "console/ConsoleFiles.h"
#include "fleet/ReportFile.h"
#include "fleet/StopRequest.h"
#include "system/ErrnoText.h"
#include "system/Files.h"
#include "system/UtcTime.h"

namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

/// A stream with nothing to say sends a comment this often, so that a client that left is seen.
constexpr auto kKeepAlive = std::chrono::seconds(15);
/// Entries in one piece of a report or of an event stream.
constexpr size_t kPieceEntries = 256;

std::string Compact(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// JSON text without the spaces and line breaks between its tokens: an entry as the report
// indents it, on one line as an event carries it.
std::string OneLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    bool quoted = false, escaped = false;
    for (const char c : text) {
        if (quoted) {
            quoted = escaped || c != '"';
            escaped = !escaped && c == '\\';
        } else if (c == ' ' || c == '\n') {
            continue;
        } else {
            quoted = c == '"';
        }
        line += c;
    }
    return line;
}

}  // namespace

// One roll-out: its plan, its thread, and what became of each printer so far.
class ApplyJobs::Job : public ApplyObserver {
  public:
    Job(std::string id,
        std::unique_ptr<RolloutPlan> plan,
        const ApplySettings& settings,
        ReportHead head,
        std::string path,
        std::FILE* scratch)
        : m_id(std::move(id)),
          m_plan(std::move(plan)),
          m_settings(settings),
          m_head(std::move(head)),
          m_path(std::move(path)),
          m_scratch(scratch),
          m_entries(m_plan->printers.size()),
          m_rank(m_plan->printers.size(), 0),
          m_start(Clock::now()),
          m_started(UtcNow()) {
        for (const RolloutPrinter& printer : m_plan->printers) {
            m_identities.insert(TargetIdentity(printer.target));
        }
    }
    ~Job() override {
        if (m_thread.joinable()) {
            m_stop.Request(1);
            m_thread.join();
        }
    }

    const std::string& Id() const { return m_id; }
    const std::set<std::string>& Identities() const { return m_identities; }

    void Run() {
        m_thread = std::thread([this] {
            ApplyResult result = ApplyRollout(*m_plan, m_settings, m_stop, {this});
            for (size_t i = 0; i < result.printers.size(); ++i) {
                if (result.printers[i].outcome == PrinterResult::Outcome::NotBegun) {
                    Keep(i, result.printers[i], std::vector<CommandResult>(m_plan->printers[i].plan->size()));
                }
            }
            if (m_settings.record != nullptr) {
                EndApplyRollout(*m_settings.record, m_settings.rollout, result);
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                result.printers = {};  // the entries tell what became of each
                m_result = std::move(result);
                m_result.started = m_started;
                m_finished = true;
            }
            // The whole report in the state folder, before it is told done.
            Cursor cursor;
            cursor.final = true;
            WriteFileWholeFrom(
                m_path,
                [this, &cursor](std::string& piece, int&) {
                    if (cursor.ended) {
                        return false;
                    }
                    Next(cursor, piece);
                    return true;
                },
                true);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        });
    }

    bool Done() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_done;
    }
    void Stop() {
        m_stop.Request(1);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
    }

    void PrinterDone(size_t printer,
                     const PrinterResult& result,
                     const std::vector<CommandResult>& commands) override {
        Keep(printer, result, commands);
    }

    // Where a report being written has got to.
    struct Cursor {
        int part = 0;      // 0: the facts, 1: the entries, 2: the end
        size_t next = 0;   // the next printer of the plan
        size_t shown = 0;  // the printers done when the report began: it shows them
        bool any = false;  // an entry was written
        bool ended = false;
        bool final = false;  // the report of the ended job (its file)
        std::string end;     // the text after the last entry
    };

    // The next piece of the report; sets `cursor.ended` with the last.
    void Next(Cursor& cursor, std::string& piece) const {
        piece.clear();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (cursor.part == 0) {
            // The facts as they stand now, the results left empty, cut where the entries go.
            cursor.shown = m_order.size();
            ApplyResult timing = m_result;
            if (!m_finished) {
                timing.started = m_started;
                timing.seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
            }
            Json report = ReportHeadJson(*m_plan, m_head, timing, m_settings, m_plan->printers.size(), m_ok,
                                         m_failed, m_settings.rollout.uuid);
            report["results"] = Json::array();
            report["done"] = m_done || cursor.final;
            report["progress"] = {{"done", cursor.shown}, {"total", m_plan->printers.size()}};
            const std::string text = report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
            const std::string results = "\n  \"results\": [";
            const size_t cut = text.find(results) + results.size();
            piece = text.substr(0, cut);
            cursor.end = text.substr(cut);
            cursor.part = 1;
        }
        for (size_t count = 0; cursor.part == 1 && count < kPieceEntries && cursor.next < m_rank.size();) {
            const size_t i = cursor.next++;
            if (m_rank[i] != 0 && m_rank[i] <= cursor.shown) {
                piece += cursor.any ? ",\n" : "\n";
                piece += Entry(i);
                cursor.any = true;
                ++count;
            }
        }
        if (cursor.part == 1 && cursor.next == m_rank.size()) {
            piece += (cursor.any ? "\n  " : "") + cursor.end;
            cursor.part = 2;
            cursor.ended = true;
        }
    }

    // Writes the events from `next` on; false once the last is written (or the console stops).
    bool WriteEvents(size_t& next, Clock::time_point& quietSince, const HttpWrite& write) const {
        std::vector<std::string> entries;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (; next < m_order.size() && entries.size() < kPieceEntries; ++next) {
            entries.push_back(Entry(m_order[next]));
        }
        const bool end = m_done && next == m_order.size();
        const Json counts = {
            {"ok", m_result.ok}, {"failed", m_result.failed}, {"interrupted", m_result.interrupted}};
        const bool ending = m_ending;
        lock.unlock();
        std::string text;
        for (const std::string& entry : entries) {
            text += "event: printer\ndata: " + OneLine(entry) + "\n\n";
        }
        if (end) {
            text += "event: done\ndata: " + Compact(counts) + "\n\n";
        }
        if (text.empty() && Clock::now() - quietSince >= kKeepAlive) {
            text = ": the job runs\n\n";
        }
        if (!text.empty()) {
            quietSince = Clock::now();
            write(text);
        }
        return !end && !ending;
    }

  private:
    // Keeps a printer's entry in the scratch file (in memory should that fail).
    void Keep(size_t printer, const PrinterResult& result, const std::vector<CommandResult>& commands) {
        const std::string text = ReportEntryText(*m_plan, printer, result, commands, m_settings.verify,
                                                 UtcMsText(UtcNowMs()), m_settings.rollout.uuid);
        std::lock_guard<std::mutex> lock(m_mutex);
        SpooledText& place = m_entries[printer];
        if (SeekFile(m_scratch.get(), m_spooled) &&
            std::fwrite(text.data(), 1, text.size(), m_scratch.get()) == text.size()) {
            place = SpooledText{m_spooled, static_cast<uint32_t>(text.size()), true};
            m_spooled += text.size();
        } else {
            m_unspooled[printer] = text;
        }
        m_order.push_back(printer);
        m_rank[printer] = m_order.size();
        m_ok += result.outcome == PrinterResult::Outcome::Ok ? 1 : 0;
        m_failed += result.outcome == PrinterResult::Outcome::Failed ? 1 : 0;
    }

    // A printer's entry as kept; under the lock.
    std::string Entry(size_t printer) const {
        const SpooledText& place = m_entries[printer];
        std::string text(place.length, '\0');
        if (place.kept && SeekFile(m_scratch.get(), place.offset) &&
            std::fread(&text[0], 1, text.size(), m_scratch.get()) == text.size()) {
            return text;
        }
        const auto kept = m_unspooled.find(printer);
        return kept != m_unspooled.end() ? kept->second : "    {}";
    }

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    const std::string m_id;
    const std::unique_ptr<RolloutPlan> m_plan;
    const ApplySettings m_settings;
    const ReportHead m_head;
    const std::string m_path;  // the report's file
    std::set<std::string> m_identities;
    StopRequest m_stop;

    mutable std::mutex m_mutex;
    const std::unique_ptr<std::FILE, FileCloser> m_scratch;  // the entries' text
    uint64_t m_spooled = 0;                                  // its length
    std::vector<SpooledText> m_entries;                      // by printer: where its entry lies
    std::map<size_t, std::string> m_unspooled;               // entries the scratch file did not take
    std::vector<size_t> m_order;                             // the printers in the order they were done
    std::vector<size_t> m_rank;  // by printer: its place in m_order + 1, 0 until done
    size_t m_ok = 0, m_failed = 0;
    bool m_finished = false;  // every printer is done: m_result is whole
    bool m_done = false;      // ... and the report's file is written
    bool m_ending = false;    // the console stops
    ApplyResult m_result;     // without the printers: their entries tell
    Clock::time_point m_start;
    std::string m_started;
    std::thread m_thread;
};

ApplyJobs::ApplyJobs(std::string folder, Record* record) : m_folder(std::move(folder)), m_record(record) {
    std::vector<std::string> names;
    std::string ignored;
    ListFiles(m_folder, ignored, names);
    for (const std::string& name : names) {
        const size_t digits = name.find_first_not_of("0123456789");
        if (digits > 0 && digits <= 9 && name.substr(digits) == ".json") {
            m_made = std::max<size_t>(m_made, std::stoul(name.substr(0, digits)));
        }
    }
}

void ApplyJobs::NotBelow(size_t id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_made = std::max(m_made, id);
}

std::vector<std::pair<std::string, bool>> ApplyJobs::List() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::pair<std::string, bool>> list;
    for (const auto& job : m_jobs) {
        list.emplace_back(job->Id(), job->Done());
    }
    return list;
}

ApplyJobs::~ApplyJobs() {
    StopAll();
    std::list<std::shared_ptr<Job>> jobs;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        jobs.swap(m_jobs);
    }
    jobs.clear();  // each joins its thread
}

std::string ApplyJobs::Start(std::unique_ptr<RolloutPlan> plan,
                             const ApplySettings& settings,
                             const ReportHead& head,
                             int& status,
                             std::string& problem) {
    std::shared_ptr<Job> dropped;  // joined outside the lock
    std::lock_guard<std::mutex> lock(m_mutex);
    status = 409;
    if (m_stopping) {
        problem = "the console is stopping";
        return "";
    }
    for (const auto& job : m_jobs) {
        if (job->Done()) {
            continue;
        }
        for (const RolloutPrinter& printer : plan->printers) {
            if (job->Identities().count(TargetIdentity(printer.target)) != 0) {
                problem =
                    printer.target.name + " is being set up by job " + job->Id() + "; wait for it to end";
                return "";
            }
        }
    }
    status = 500;
    const std::string id = std::to_string(m_made + 1);
    const std::string path = m_folder + "/" + id + ".json";
    if (!MakePrivateFolder(m_folder, problem)) {
        return "";
    }
    std::FILE* scratch = OpenScratchFileBeside(path);
    if (scratch == nullptr) {
        problem = "cannot keep the job's report in " + m_folder + ": " + ErrnoText(errno);
        return "";
    }
    ApplySettings recorded = settings;
    if (m_record != nullptr) {
        // The roll-out is written before anything is sent; one that cannot be sends nothing.
        const std::string options = Compact(
            {{"job", id}, {"jobs", settings.jobs}, {"gap", settings.gapMs}, {"verify", settings.verify}});
        recorded.record = m_record;
        recorded.rollout = BeginApplyRollout(*m_record, *plan, head.profile, options, "console");
        if (recorded.rollout.id == 0) {
            std::fclose(scratch);
            problem = "cannot write the record: " + m_record->Problem() + "; nothing was sent";
            return "";
        }
    }
    ++m_made;
    auto job = std::make_shared<Job>(id, std::move(plan), recorded, head, path, scratch);
    job->Run();
    m_jobs.push_back(job);
    if (m_jobs.size() > kKeptJobs) {
        for (auto it = m_jobs.begin(); it != m_jobs.end(); ++it) {
            if ((*it)->Done()) {
                dropped = *it;
                m_jobs.erase(it);
                break;
            }
        }
    }
    return id;
}

std::shared_ptr<ApplyJobs::Job> ApplyJobs::Find(const std::string& id) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& job : m_jobs) {
        if (job->Id() == id) {
            return job;
        }
    }
    return nullptr;
}

std::function<bool(const HttpWrite& write)> ApplyJobs::Report(const std::string& id) const {
    const std::shared_ptr<Job> job = Find(id);
    if (!job) {
        return nullptr;
    }
    auto cursor = std::make_shared<Job::Cursor>();
    return [job, cursor](const HttpWrite& write) {
        std::string piece;
        job->Next(*cursor, piece);
        write(piece);
        return !cursor->ended;
    };
}

std::function<bool(const HttpWrite& write)> ApplyJobs::Events(const std::string& id) const {
    const std::shared_ptr<Job> job = Find(id);
    if (!job) {
        return nullptr;
    }
    auto next = std::make_shared<size_t>(0);
    auto quietSince = std::make_shared<Clock::time_point>(Clock::now());
    return [job, next, quietSince](const HttpWrite& write) {
        return job->WriteEvents(*next, *quietSince, write);
    };
}

std::string ApplyJobs::Serving(const std::string& identity) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& job : m_jobs) {
        if (!job->Done() && job->Identities().count(identity) != 0) {
            return job->Id();
        }
    }
    return "";
}

void ApplyJobs::StopAll() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
    for (const auto& job : m_jobs) {
        job->Stop();
    }
}

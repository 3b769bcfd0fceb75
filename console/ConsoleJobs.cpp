#include "ConsoleJobs.h"

#include <chrono>
#include <condition_variable>
#include <thread>
#include <utility>
#include <vector>

#include "StopRequest.h"
#include "UtcTime.h"

namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

/// A stream with nothing to say sends a comment this often, so that a client that left is seen.
constexpr auto kKeepAlive = std::chrono::seconds(15);

std::string Compact(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

// One roll-out: its plan, its thread, and what became of each printer so far.
class ApplyJobs::Job : public ApplyObserver {
  public:
    Job(std::string id, std::unique_ptr<RolloutPlan> plan, const ApplySettings& settings, ReportHead head)
        : m_id(std::move(id)),
          m_plan(std::move(plan)),
          m_settings(settings),
          m_head(std::move(head)),
          m_entries(m_plan->printers.size()),
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
            const ApplyResult result = ApplyRollout(*m_plan, m_settings, m_stop, {this});
            std::lock_guard<std::mutex> lock(m_mutex);
            for (size_t i = 0; i < result.printers.size(); ++i) {
                if (result.printers[i].outcome == PrinterResult::Outcome::NotBegun) {
                    AddEntry(i, result.printers[i],
                             std::vector<CommandResult>(m_plan->printers[i].plan->size()));
                }
            }
            m_result = result;
            m_result.started = m_started;
            m_done = true;
            m_changed.notify_all();
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
        m_changed.notify_all();
    }

    void PrinterDone(size_t printer,
                     const PrinterResult& result,
                     const std::vector<CommandResult>& commands) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        AddEntry(printer, result, commands);
    }

    Json Report() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        ApplyResult result = m_result;
        if (!m_done) {
            result.started = m_started;
            result.seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
        }
        Json report =
            ReportHeadJson(*m_plan, m_head, result, m_settings, m_plan->printers.size(), m_ok, m_failed);
        Json results = Json::array();
        for (const std::string& entry : m_entries) {
            if (!entry.empty()) {
                results.push_back(Json::parse(entry));
            }
        }
        report["results"] = std::move(results);
        report["done"] = m_done;
        report["progress"] = {{"done", m_order.size()}, {"total", m_plan->printers.size()}};
        return report;
    }

    // Writes the events from `next` on, without waiting (the server asks again); false once the
    // last is written (or the console stops).
    bool WriteEvents(size_t& next, Clock::time_point& quietSince, const HttpWrite& write) const {
        std::unique_lock<std::mutex> lock(m_mutex);
        std::string text;
        for (; next < m_order.size(); ++next) {
            text += "event: printer\ndata: " + m_entries[m_order[next]] + "\n\n";
        }
        const bool end = m_done && next == m_order.size();
        if (end) {
            text += "event: done\ndata: " +
                    Compact({{"ok", m_result.ok},
                             {"failed", m_result.failed},
                             {"interrupted", m_result.interrupted}}) +
                    "\n\n";
        }
        const bool ending = m_ending;
        lock.unlock();
        if (text.empty() && Clock::now() - quietSince >= kKeepAlive) {
            text = ": the job runs\n\n";
        }
        if (!text.empty()) {
            quietSince = Clock::now();
            if (!write(text)) {
                return false;
            }
        }
        return !end && !ending;
    }

  private:
    void AddEntry(size_t printer, const PrinterResult& result, const std::vector<CommandResult>& commands) {
        m_entries[printer] = Compact(ReportEntryJson(*m_plan, printer, result, commands, m_settings.verify));
        m_order.push_back(printer);
        m_ok += result.outcome == PrinterResult::Outcome::Ok ? 1 : 0;
        m_failed += result.outcome == PrinterResult::Outcome::Failed ? 1 : 0;
        m_changed.notify_all();
    }

    const std::string m_id;
    const std::unique_ptr<RolloutPlan> m_plan;
    const ApplySettings m_settings;
    const ReportHead m_head;
    std::set<std::string> m_identities;
    StopRequest m_stop;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_entries;  // by printer, one JSON line each; empty until done
    std::vector<size_t> m_order;         // the printers in the order they were done
    size_t m_ok = 0, m_failed = 0;
    bool m_done = false;
    bool m_ending = false;  // the console stops
    ApplyResult m_result;
    Clock::time_point m_start;
    std::string m_started;
    std::thread m_thread;
};

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
                             std::string& busy) {
    std::shared_ptr<Job> dropped;  // joined outside the lock
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) {
        busy = "the console is stopping";
        return "";
    }
    for (const auto& job : m_jobs) {
        if (job->Done()) {
            continue;
        }
        for (const RolloutPrinter& printer : plan->printers) {
            if (job->Identities().count(TargetIdentity(printer.target)) != 0) {
                busy = printer.target.name + " is being set up by job " + job->Id() + "; wait for it to end";
                return "";
            }
        }
    }
    const std::string id = std::to_string(++m_made);
    auto job = std::make_shared<Job>(id, std::move(plan), settings, head);
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

bool ApplyJobs::Report(const std::string& id, Json& report) const {
    const std::shared_ptr<Job> job = Find(id);
    if (!job) {
        return false;
    }
    report = job->Report();
    return true;
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

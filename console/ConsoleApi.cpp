// The console's API: one handler per endpoint, each checking its body with the command line's
// own checks and messages.
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <unordered_set>
#include <utility>

#include "commands/CmdBuild.h"
#include "commands/SettingRegistry.h"
#include "commands/ShownCmd.h"
#include "commands/SingleCmds.h"
#include "console/Console.h"
#include "console/ConsoleJobs.h"
#include "console/ConsoleReply.h"
#include "console/ConsoleState.h"
#include "fleet/FleetStatus.h"
#include "fleet/Plan.h"
#include "fleet/Scan.h"
#include "fleet/StatusReport.h"
#include "fleet/StopRequest.h"
#include "fleet/Targets.h"
#include "json/JsonParse.h"
#include "system/Files.h"
#include "transport/SendCmd.h"
#include "values/AddressRange.h"
#include "values/Values.h"

namespace {

using Json = ConsoleJson;

/// Most printers one request may name (a /16).
constexpr size_t kMaxRequestPrinters = 65536;
/// Most printers whose commands a check shows.
constexpr size_t kMaxPreviewPrinters = 64;

// A request's body as a JSON object; false with `problem` when it is none.
bool ParseBody(const std::string& body, Json& json, std::string& problem) {
    if (body.empty()) {
        problem = "the request needs a JSON object as its body";
        return false;
    }
    if (!ParseJson(body, json, problem)) {
        problem = "the body: " + problem;
        return false;
    }
    if (!json.is_object()) {
        problem = "the body is not a JSON object";
        return false;
    }
    return true;
}

// The texts of a list field; false with `problem` when it is not a list of texts.
bool TextList(const Json& body, const char* key, std::vector<std::string>& list, std::string& problem) {
    if (!body.contains(key)) {
        return true;
    }
    const Json& value = body[key];
    if (!value.is_array() ||
        !std::all_of(value.begin(), value.end(), [](const Json& v) { return v.is_string(); })) {
        problem = std::string(key) + ": must be a list of texts";
        return false;
    }
    for (const Json& item : value) {
        list.push_back(item.get<std::string>());
    }
    return true;
}

// False, with a message for each in `errors`, when `texts` name any other printer than one on
// the network: the console is a server, and a device's name would be a file of this computer
// that a request could have written. Checked before a name is expanded or looked at.
bool NetworkOnly(const std::vector<std::string>& texts, std::vector<std::string>& errors) {
    const size_t before = errors.size();
    for (const std::string& text : texts) {
        PortUri port;
        std::string ignored;
        if (text.compare(0, 9, "socket://") != 0 &&
            !(ParsePortUri(text, kWindowsPortNames, port, ignored) && port.kind == PortUri::Kind::Socket)) {
            errors.push_back(
                ShownText(text, 64) +
                ": the console reaches network printers only (socket://A.B.C.D[:PORT], a range or "
                "a network); serial, parallel and USB printers are tolctl's on their computer");
        }
    }
    return errors.size() == before;
}

// The printers of a request's list `texts` (each any --port form, a range or a network), and of
// a targets file's text sent with it (`fileText`, read as the file `fileName` would be), expanded
// as the command line expands them and with its messages. With `networkOnly`, TCP printers only;
// a printer named twice is kept once.
std::vector<Target> RequestTargets(const std::vector<std::string>& texts,
                                   const std::string* fileText,
                                   const std::string& fileName,
                                   bool networkOnly,
                                   std::vector<std::string>& errors) {
    TargetSources sources;
    sources.targets = texts;
    sources.targetsOrigin = "";
    sources.file = fileText != nullptr ? fileName : "";
    sources.fileText = fileText;
    std::vector<TargetLine> lines = ReadTargetLines(sources, errors);
    if (networkOnly) {
        std::vector<TargetLine> network;
        for (TargetLine& line : lines) {
            std::vector<std::string> refused;
            if (NetworkOnly({line.target}, refused)) {
                network.push_back(std::move(line));
            }
            for (const std::string& why : refused) {
                errors.push_back(line.origin == line.target ? why : line.origin + ": " + why);
            }
        }
        lines = std::move(network);
    }
    TargetRules rules;
    rules.once = false;
    rules.most = kMaxRequestPrinters;
    return ExpandTargetLines(lines, errors, rules);
}

// The printers of a targets file's text sent with a request (`fileText`, read as the file
// `fileName` would be), network printers only, each with its own values: its line's overrides (a
// sequence counted up for it), labels and its number in its line. A printer named twice is kept
// once, with its first line's values.
std::vector<Target> FileTargets(const std::string& fileText,
                                const std::string& fileName,
                                std::map<std::string, KeptValues>& values,
                                std::vector<std::string>& errors) {
    TargetSources sources;
    sources.file = fileName;
    sources.fileText = &fileText;
    std::vector<Target> targets;
    std::set<std::string> seen;
    for (const TargetLine& line : ReadTargetLines(sources, errors)) {
        std::vector<Target> expanded;
        std::vector<std::vector<std::string>> counted;
        std::vector<std::string> refused;
        std::string problem;
        if (!NetworkOnly({line.target}, refused)) {
            errors.push_back(line.origin + ": " + refused.front());
            continue;
        }
        if (!ExpandTargetLine(line, expanded, problem) ||
            (HasSequence(line.overrides) &&
             !CountSequences(line.overrides, expanded.size(), counted, problem))) {
            errors.push_back(line.origin + ": " + problem);
            continue;
        }
        // Its values checked as apply checks them (templates by their form, filled in later).
        std::istringstream none;
        SecretSource secrets(none, false);
        Settings checked;
        const size_t before = errors.size();
        SetOverrides(counted.empty() ? line.overrides : counted.front(), line.origin, fileName, secrets,
                     checked, errors);
        if (errors.size() != before) {
            continue;
        }
        for (size_t k = 0; k < expanded.size(); ++k) {
            if (!seen.insert(TargetIdentity(expanded[k])).second) {
                continue;
            }
            values[expanded[k].name] =
                KeptValues{line.origin, counted.empty() ? line.overrides : counted[k], expanded[k].number};
            targets.push_back(std::move(expanded[k]));
        }
        if (targets.size() > kMaxRequestPrinters) {
            errors.push_back(FileLabel(fileName) + ": more than " + std::to_string(kMaxRequestPrinters) +
                             " printers");
            return {};
        }
    }
    return targets;
}

// A secret's key in a profile (the settings registry's), written inside the object `group` ("" at
// the top). Commented out ("//wifi-station", "//password"), it is still that secret.
bool IsSecretKey(std::string group, std::string key) {
    for (std::string* name : {&group, &key}) {
        name->erase(0, name->find_first_not_of('/'));
    }
    const SettingRef* setting = FindSetting(group.empty() ? key : group + "." + key);
    return setting != nullptr && IsSecret(*setting);
}

// Replaces each secret of a profile by kHiddenPassword, as the console answers a profile. An
// empty one hides nothing and is answered as it is.
void HidePasswords(Json& profile, const std::string& group = "") {
    if (!profile.is_object()) {
        return;
    }
    for (auto it = profile.begin(); it != profile.end(); ++it) {
        if (it->is_object()) {
            HidePasswords(*it, it.key());
        } else if (IsSecretKey(group, it.key()) && it->is_string() &&
                   !it->get_ref<const std::string&>().empty()) {
            *it = kHiddenPassword;
        }
    }
}

// Adds to `list` each of `names` that it does not hold yet, in order.
void AddNew(std::vector<std::string>& list, const std::vector<std::string>& names) {
    std::unordered_set<std::string> held(list.begin(), list.end());
    for (const std::string& name : names) {
        if (held.insert(name).second) {
            list.push_back(name);
        }
    }
}

// Where `profile` gives kHiddenPassword for a secret (sent back as it was answered), puts the
// one `stored` keeps at that key. Where none is kept it stays, and the profile's check refuses it.
void KeepPasswords(Json& profile, const Json& stored, const std::string& group = "") {
    if (!profile.is_object() || !stored.is_object()) {
        return;
    }
    for (auto it = profile.begin(); it != profile.end(); ++it) {
        const auto kept = stored.find(it.key());
        if (kept == stored.end()) {
            continue;
        }
        if (it->is_object()) {
            KeepPasswords(*it, *kept, it.key());
        } else if (IsSecretKey(group, it.key()) && *it == kHiddenPassword && kept->is_string()) {
            *it = *kept;
        }
    }
}

enum class Kept { None, Unreadable, Read };

// The kept profile `name` as JSON in `stored` (an empty object unless Read). Unreadable: its file
// is not a JSON object the console can use (made by hand), with `problem` saying why.
Kept ReadKeptProfile(const ConsoleState& state, const std::string& name, Json& stored, std::string& problem) {
    stored = Json::object();
    std::string text;
    if (!state.ReadProfile(name, text)) {
        return Kept::None;
    }
    Json json;
    const bool parsed = ParseJson(text, json, problem);
    if (parsed && json.is_object()) {
        stored = std::move(json);
        return Kept::Read;
    }
    if (parsed) {
        problem = "not a JSON object";
    }
    problem = "the kept profile " + name + " cannot be read (profiles/" + name + ".json: " + problem +
              "); a PUT of the profile replaces it";
    return Kept::Unreadable;
}

}  // namespace

void Console::RegisterApi(HttpServer& server) {
    // A handler of the request's body alone.
    const auto body = [this](HttpReply (Console::*handler)(const std::string&)) {
        return [this, handler](const HttpRequest& request) { return (this->*handler)(request.body); };
    };
    server.Route("POST", "/api/status", body(&Console::Status));
    server.Route("POST", "/api/scan", body(&Console::Scan));
    server.Route("GET", "/api/printers", [this](const HttpRequest&) { return Printers(); });
    server.Route("POST", "/api/printers", body(&Console::ChangePrinters));
    server.Route("POST", "/api/check", body(&Console::Check));
    server.Route("POST", "/api/apply", body(&Console::Apply));
    server.Route("GET", "/api/jobs/?", [this](const HttpRequest&) { return Jobs(); });
    server.Route("GET", "/api/record/printers/(.+)",
                 [this](const HttpRequest& request) { return RecordedPrinter(request.parts[0]); });
    server.Route("GET", "/api/jobs/([^/]*)",
                 [this](const HttpRequest& request) { return Job(request.parts[0], false); });
    server.Route("GET", "/api/jobs/([^/]*)/events",
                 [this](const HttpRequest& request) { return Job(request.parts[0], true); });
    server.Route("POST", "/api/send", body(&Console::Send));
    server.Route("GET", "/api/commands", [this](const HttpRequest&) { return Commands(); });
    server.Route("GET", "/api/settings", [this](const HttpRequest&) { return SettingsForm(); });
    server.Route("GET", "/api/profiles/?", [this](const HttpRequest&) { return ProfileNames(); });
    server.Route("GET", "/api/profiles/(.+)",
                 [this](const HttpRequest& request) { return Profile(request.parts[0]); });
    server.Route("PUT", "/api/profiles/(.+)",
                 [this](const HttpRequest& request) { return KeepProfile(request.parts[0], request.body); });
}

HttpReply Console::Status(const std::string& body) {
    Json json;
    std::string problem;
    std::vector<std::string> texts, errors;
    if (!ParseBody(body, json, problem) || !TextList(json, "targets", texts, problem)) {
        return ::ErrorReply(400, problem);
    }
    if (texts.empty()) {
        return ::ErrorReply(400, "targets: no printers given");
    }
    if (!NetworkOnly(texts, errors)) {
        return ::ErrorReply(400, errors);
    }
    TargetSources sources;
    sources.targets = texts;
    sources.targetsOrigin = "";
    TargetRules rules;
    rules.most = kMaxRequestPrinters;
    const std::vector<Target> targets = ExpandTargetLines(ReadTargetLines(sources, errors), errors, rules);
    if (!errors.empty()) {
        return ::ErrorReply(400, errors);
    }
    FleetStatusSettings settings;
    settings.send = m_settings.send;
    settings.record = m_settings.record;  // a change of a printer's status is noted
    const FleetStatus found = ReadFleetStatus(targets, settings, m_stop);
    if (m_stop.Requested()) {
        return ::ErrorReply(503, "the console is stopping");
    }
    HttpReply reply = JsonReply(Json());
    reply.body = FleetStatusJsonText(targets, found) + "\n";
    return reply;
}

HttpReply Console::Scan(const std::string& body) {
    Json json;
    std::string problem;
    if (!ParseBody(body, json, problem)) {
        return ::ErrorReply(400, problem);
    }
    if (!json.contains("network") || !json["network"].is_string()) {
        return ::ErrorReply(400, "network: give A.B.C.D/NN (NN 16-32), a range A.B.C.D-E, or one address");
    }
    ScanSettings settings;
    if (json.contains("port")) {
        if (!json["port"].is_number_integer() || json["port"].get<int64_t>() < 1 ||
            json["port"].get<int64_t>() > 65535) {
            return ::ErrorReply(400, "port: must be a TCP port, 1-65535");
        }
        settings.tcpPort = json["port"].get<int>();
    }
    std::vector<uint32_t> addresses;
    if (!ParseAddressRange(json["network"].get<std::string>(), addresses, problem)) {
        return ::ErrorReply(400, problem);
    }
    std::vector<ScanAnswer> answers;
    if (!ScanAddresses(addresses, settings, answers, problem, &m_stop)) {
        return ::ErrorReply(500, problem);
    }
    if (m_stop.Requested()) {
        return ::ErrorReply(503, "the console is stopping");
    }
    std::vector<std::string> found;
    for (const ScanAnswer& answer : answers) {
        if (answer.open) {
            found.push_back(ScanTargetName(answer.address, settings.tcpPort));
        }
    }
    // Kept with the console's printers: the new ones after those it knew.
    KeptPrinters printers;
    const auto add = [&found](KeptPrinters& kept, std::string&) {
        AddNew(kept.printers, found);
        return true;
    };
    if (m_state->ChangePrinters(add, printers, problem) != ConsoleState::Change::Kept) {
        return ::ErrorReply(500, problem);
    }
    return JsonReply({{"targets", found}});
}

namespace {

HttpReply PrintersReply(const KeptPrinters& kept) {
    HttpReply reply = JsonReply(Json());
    reply.body = KeptPrintersJson(kept, true);
    return reply;
}

}  // namespace

HttpReply Console::Printers() {
    return PrintersReply(m_state->Printers());
}

HttpReply Console::ChangePrinters(const std::string& body) {
    Json json;
    std::string problem;
    std::vector<std::string> add, remove, errors;
    if (!ParseBody(body, json, problem) || !TextList(json, "add", add, problem) ||
        !TextList(json, "remove", remove, problem)) {
        return ::ErrorReply(400, problem);
    }
    std::string fileText, fileName = "targets";
    if (json.contains("targetsText")) {
        if (!json["targetsText"].is_string()) {
            return ::ErrorReply(400, "targetsText: must be the text of a targets file");
        }
        fileText = json["targetsText"].get<std::string>();
    }
    if (json.contains("targetsName")) {
        // The name of the file sent: its lines are named by it, and a .csv is read as a spreadsheet.
        if (!json["targetsName"].is_string() || json["targetsName"].get<std::string>().empty()) {
            return ::ErrorReply(400, "targetsName: must be the name of the targets file sent");
        }
        fileName = json["targetsName"].get<std::string>();
    }
    const bool sent = json.contains("targetsText");
    const std::vector<Target> added = RequestTargets(add, nullptr, "", true, errors);
    // A file's printers come with their labels and values, which replace those kept.
    std::map<std::string, KeptValues> values;
    const std::vector<Target> read =
        sent ? FileTargets(fileText, fileName, values, errors) : std::vector<Target>();
    const std::vector<Target> removed = RequestTargets(remove, nullptr, "", false, errors);
    if (!errors.empty()) {
        return ::ErrorReply(400, errors);
    }
    std::vector<std::string> names;
    for (const std::vector<Target>* list : {&added, &read}) {
        for (const Target& target : *list) {
            names.push_back(target.name);
        }
    }
    const auto change = [&](KeptPrinters& kept, std::string& refusal) {
        std::unordered_set<std::string> gone;
        for (const Target& target : removed) {
            gone.insert(target.name);
        }
        std::vector<std::string>& list = kept.printers;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&gone](const std::string& name) { return gone.count(name) != 0; }),
                   list.end());
        AddNew(list, names);
        for (const Target& target : read) {
            kept.labels[target.name] = LabelsOf(target);
            kept.values[target.name] = values[target.name];
        }
        if (list.size() > kMaxRequestPrinters) {
            refusal = "the console keeps at most " + std::to_string(kMaxRequestPrinters) + " printers";
            return false;
        }
        return true;
    };
    KeptPrinters printers;
    switch (m_state->ChangePrinters(change, printers, problem)) {
        case ConsoleState::Change::Kept:
            return PrintersReply(printers);
        case ConsoleState::Change::Refused:
            return ::ErrorReply(400, problem);
        case ConsoleState::Change::NotWritten:
            break;
    }
    return ::ErrorReply(500, problem);
}

namespace {

// The profile a check or an apply names: given whole ("profile") or kept ("profileName"); given
// whole with a profileName, the kept one's passwords stand behind each "(hidden)" (a page's edit
// of a kept profile). Its text and its name in messages; false with `status` and `problem` when
// there is none.
bool RequestProfile(const Json& body,
                    const ConsoleState& state,
                    std::string& text,
                    std::string& name,
                    int& status,
                    std::string& problem) {
    status = 400;
    const bool named = body.contains("profileName");
    if (named &&
        (!body["profileName"].is_string() || !ValidProfileName(body["profileName"].get<std::string>()))) {
        problem = std::string("profileName: ") + kProfileNameRule;
        return false;
    }
    name = named ? body["profileName"].get<std::string>() : "";
    if (named && !body.contains("profile")) {
        if (!state.ReadProfile(name, text)) {
            status = 404;
            problem = "no profile is kept as " + name;
            return false;
        }
        return true;
    }
    if (!body.contains("profile") || !body["profile"].is_object()) {
        problem = "profile: give the profile (a JSON object) or profileName";
        return false;
    }
    // Given with profileName: the profile as edited, "(hidden)" standing for that one's password.
    Json profile = body["profile"];
    if (!name.empty()) {
        Json stored;
        std::string unread;
        ReadKeptProfile(state, name, stored, unread);
        KeepPasswords(profile, stored);
    }
    text = profile.dump();
    name = "profile";
    return true;
}

// The roll-out a check or an apply asks for, planned with the command line's checks: a kept
// printer with its labels and own values (its templates filled in), any other as named. Password
// files are not read: a page may not name files of this computer.
RolloutPlan PlanRequest(const std::string& profileText,
                        const std::string& profileName,
                        const std::vector<std::string>& targets,
                        const KeptPrinters& kept) {
    RolloutInputs inputs;
    inputs.profile = profileName;
    for (const std::string& target : targets) {
        const auto labels = kept.labels.find(target);
        const auto values = kept.values.find(target);
        TargetLine line{target, target, {}, {}};
        if (values != kept.values.end()) {
            line.origin = values->second.origin;
            line.overrides = values->second.overrides;
            line.firstNumber = values->second.number;
        }
        if (labels != kept.labels.end()) {
            line.labels = labels->second;
        }
        inputs.lines.push_back(std::move(line));
    }
    inputs.profileText = &profileText;
    inputs.passwordFiles = false;
    std::istringstream none;
    return PlanRollout(inputs, none);
}

}  // namespace

HttpReply Console::Check(const std::string& body) {
    Json json;
    std::string problem, text, name;
    std::vector<std::string> targets;
    int status = 400;
    if (!ParseBody(body, json, problem) || !TextList(json, "targets", targets, problem) ||
        !RequestProfile(json, *m_state, text, name, status, problem)) {
        return ::ErrorReply(status, problem);
    }
    Json printers = Json::array();
    std::vector<std::string> problems;
    if (!NetworkOnly(targets, problems)) {
        return ::ErrorReply(400, problems);
    }
    if (targets.empty()) {
        // The profile alone, checked as you type before any printer is chosen.
        std::istringstream none;
        SecretSource secrets(none, false);
        Settings settings;
        std::vector<PlannedCmd> commands;
        if (ParseProfile(text, name, secrets, settings, problems)) {
            PlanCommands(settings, name, commands, problems);
        }
    } else {
        const RolloutPlan plan = PlanRequest(text, name, targets, m_state->Printers());
        problems = plan.errors;
        for (size_t i = 0; problems.empty() && i < plan.printers.size() && i < kMaxPreviewPrinters; ++i) {
            Json commands = Json::array();
            for (const PlannedCmd& planned : *plan.printers[i].plan) {
                const SecretSpan secret{planned.secretBegin, planned.secretEnd};
                commands.push_back({{"step", planned.name},
                                    {"bytes", ShownHex(*planned.cmd, secret, false)},
                                    {"decoded", ShownDecoded(*planned.cmd, secret, false)}});
            }
            printers.push_back({{"target", plan.printers[i].target.name}, {"commands", std::move(commands)}});
        }
    }
    return JsonReply({{"problems", problems}, {"printers", printers}});
}

HttpReply Console::Apply(const std::string& body) {
    Json json;
    std::string problem, text, name;
    std::vector<std::string> targets;
    int status = 400;
    if (!ParseBody(body, json, problem) || !TextList(json, "targets", targets, problem) ||
        !RequestProfile(json, *m_state, text, name, status, problem)) {
        return ::ErrorReply(status, problem);
    }
    std::vector<std::string> problems;
    if (!NetworkOnly(targets, problems)) {
        return ::ErrorReply(400, problems);
    }
    ApplySettings settings;
    settings.send = m_settings.send;
    if (json.contains("gap")) {
        if (!json["gap"].is_number_integer() || json["gap"].get<int64_t>() < 0 ||
            json["gap"].get<int64_t>() > 60000) {
            return ::ErrorReply(400, "gap: milliseconds between two commands to one printer, 0-60000");
        }
        settings.gapMs = json["gap"].get<int>();
    }
    if (json.contains("verify")) {
        if (!json["verify"].is_boolean()) {
            return ::ErrorReply(400, "verify: must be true or false");
        }
        settings.verify = json["verify"].get<bool>();
    }
    auto plan = std::make_unique<RolloutPlan>(PlanRequest(text, name, targets, m_state->Printers()));
    if (!plan->errors.empty()) {
        return ::ErrorReply(400, plan->errors);
    }
    settings.jobs = FitJobs(settings.jobs, *plan).jobs;
    const std::string id =
        m_jobs->Start(std::move(plan), settings, ReportHead{m_settings.version, name, "", settings.verify},
                      status, problem);
    if (id.empty()) {
        return ::ErrorReply(status, problem);
    }
    return JsonReply({{"job", id}});
}

HttpReply Console::Job(const std::string& id, bool events) {
    // Both streamed: a report of many printers is written as it is read, never whole in memory.
    HttpReply reply;
    reply.stream = events ? m_jobs->Events(id) : m_jobs->Report(id);
    if (!reply.stream && !events) {
        return PastJob(id);  // what the record holds of it
    }
    if (!reply.stream) {
        return ::ErrorReply(404, "no job " + id + " runs or is kept (its report: GET /api/jobs/" + id + ")");
    }
    reply.contentType = events ? "text/event-stream" : "application/json";
    reply.headers = {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}};
    return reply;
}

HttpReply Console::ProfileNames() {
    std::string problem;
    const std::vector<std::string> names = m_state->ProfileNames(problem);
    return problem.empty() ? JsonReply({{"profiles", names}}) : ::ErrorReply(500, problem);
}

HttpReply Console::Profile(const std::string& name) {
    if (!ValidProfileName(name)) {
        return ::ErrorReply(404, kProfileNameRule);
    }
    Json stored;
    std::string unread;
    const Kept kept = ReadKeptProfile(*m_state, name, stored, unread);
    if (kept == Kept::None) {
        return ::ErrorReply(404, "no profile is kept as " + name);
    }
    if (kept == Kept::Unreadable) {
        return ::ErrorReply(422, unread);
    }
    HidePasswords(stored);
    return JsonReply(stored);
}

HttpReply Console::KeepProfile(const std::string& name, const std::string& body) {
    if (!ValidProfileName(name)) {
        return ::ErrorReply(404, kProfileNameRule);
    }
    Json stored;
    std::string problem, unread;
    ReadKeptProfile(*m_state, name, stored, unread);
    Json profile;
    if (!ParseBody(body, profile, problem)) {
        return ::ErrorReply(400, problem);
    }
    KeepPasswords(profile, stored);
    const std::string text = profile.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    std::vector<std::string> problems;
    std::istringstream none;
    SecretSource secrets(none, false);
    Settings settings;
    std::vector<PlannedCmd> commands;
    if (ParseProfile(text, name, secrets, settings, problems)) {
        PlanCommands(settings, name, commands, problems);
    }
    if (!problems.empty()) {
        return ::ErrorReply(400, problems);
    }
    if (!m_state->WriteProfile(name, text, problem)) {
        return ::ErrorReply(500, problem);
    }
    HidePasswords(profile);
    return JsonReply(profile);
}

HttpReply Console::Send(const std::string& body) {
    Json json;
    std::string problem;
    if (!ParseBody(body, json, problem)) {
        return ::ErrorReply(400, problem);
    }
    if (!json.contains("target") || !json["target"].is_string()) {
        return ::ErrorReply(400, "target: give the printer's port (socket://A.B.C.D[:PORT], ...)");
    }
    const std::string command =
        json.value("command", Json()).is_string() ? json["command"].get<std::string>() : "";
    const SingleCmdInfo* info = FindSingleCmd(command);
    if (info == nullptr) {
        return ::ErrorReply(400, "command: " + ShownText(command) +
                                     " is not one of tolctl's commands (GET /api/commands lists them)");
    }
    SingleCmdValues given;
    if (json.contains("args")) {
        if (!json["args"].is_object()) {
            return ::ErrorReply(400, "args: must be an object of the command's arguments");
        }
        for (auto it = json["args"].begin(); it != json["args"].end(); ++it) {
            if (it->is_string()) {
                given[it.key()] = it->get<std::string>();
            } else if (it->is_number_integer() || it->is_boolean()) {
                given[it.key()] = it->is_boolean() ? (it->get<bool>() ? "on" : "off") : it->dump();
            } else {
                return ::ErrorReply(400, "args: " + it.key() + ": must be text");
            }
        }
        // No secret is kept behind a single command: "(hidden)" would be sent as one.
        for (const SingleCmdArg& arg : info->args) {
            const auto secret = given.find(arg.name);
            if (arg.secret && secret != given.end() && secret->second == kHiddenPassword) {
                return ::ErrorReply(400, "args: " + arg.name + ": " + kHiddenPassword +
                                             " is how a hidden password is shown, not a password; give the "
                                             "password itself");
            }
        }
    }
    SendOptions send = m_settings.send;
    const std::string target = json["target"].get<std::string>();
    std::vector<std::string> problems;
    if (!NetworkOnly({target}, problems)) {
        return ::ErrorReply(400, "target: " + problems.front());
    }
    if (!ParsePortUri(target, kWindowsPortNames, send.port, problem)) {
        return ::ErrorReply(400, "target: " + problem);
    }
    std::vector<Target> one;
    if (ExpandTarget(target, kWindowsPortNames, one, problem) && one.size() == 1) {
        const std::string job = m_jobs->Serving(TargetIdentity(one.front()));
        if (!job.empty()) {
            return ::ErrorReply(409, target + " is being set up by job " + job + "; wait for it to end");
        }
    }
    std::unique_ptr<Cmd> cmd;
    try {
        cmd = BuildSingleCmd(*info, given);
    } catch (const Refusal& refusal) {
        return ::ErrorReply(400, refusal.message + "; nothing was sent");
    }
    // The settings it sends as the record notes them; a command of its own by its name.
    std::vector<std::pair<std::string, RecordValue>> settings;
    for (const SingleCmdArg& arg : info->args) {
        if (arg.fills.empty() && arg.setting.row != nullptr) {
            const auto value = given.find(arg.name);
            const std::string text = value != given.end()          ? value->second
                                     : arg.defaultValue != nullptr ? arg.defaultValue
                                                                   : "";
            settings.emplace_back(arg.setting->key, RecordValue{text, IsSecret(arg.setting)});
        }
    }
    if (settings.empty()) {
        settings.emplace_back(info->name, RecordValue{});
    }
    std::string unrecorded;
    const SendOutcome outcome = SendRecorded(send, *cmd, info->name, target, settings, unrecorded);
    if (!unrecorded.empty()) {
        return ::ErrorReply(500, unrecorded);
    }
    if (!outcome.Sent()) {
        const bool timedOut = outcome.result == SendOutcome::Result::TimedOut;
        return ::ErrorReply(
            502, target + " : " + outcome.reason + (timedOut ? "; the command may be cut short" : ""));
    }
    return JsonReply({{"sent", true}, {"bytes", ShownHex(*cmd, PasswordSpan(*cmd), false)}});
}

HttpReply Console::Commands() {
    Json list = Json::array();
    for (const SingleCmdInfo& info : SingleCmds()) {
        Json args = Json::array();
        for (const SingleCmdArg& arg : info.args) {
            if (!arg.fills.empty()) {
                continue;  // a file of this computer: the command line's only
            }
            Json entry = {
                {"name", arg.name}, {"label", arg.label}, {"help", arg.help}, {"required", arg.required}};
            if (arg.defaultValue != nullptr) {
                entry["default"] = arg.defaultValue;
            }
            if (!arg.choices.empty()) {
                entry["choices"] = arg.choices;
            }
            if (arg.secret) {
                entry["secret"] = true;
            }
            args.push_back(std::move(entry));
        }
        list.push_back({{"command", info.name}, {"title", info.help}, {"args", std::move(args)}});
    }
    return JsonReply(list);
}

HttpReply Console::SettingsForm() {
    // The profile's settings as the page's form shows them, in the profile's order: each with the
    // part of the form it belongs to. A file of this computer is none of the console's.
    Json settings = Json::array();
    for (const SettingRef& setting : AllSettings()) {
        const SettingRow& row = *setting;
        if (row.kind == SettingKind::SecretFile) {
            continue;
        }
        Json entry = {{"key", row.key},
                      {"part", setting.cmd != nullptr ? setting.cmd->form : row.label},
                      {"label", row.label},
                      {"help", SettingText(setting, SettingTextFor::Help)},
                      {"hint", SettingText(setting, SettingTextFor::Hint)},
                      {"required", row.required}};
        if (row.fallback != nullptr) {
            entry["default"] = row.fallback;
        }
        if (row.kind == SettingKind::Switch) {
            entry["choices"] = {true, false};  // as a profile writes it
        } else if (row.kind == SettingKind::Choice || row.kind == SettingKind::Commands) {
            entry["choices"] = SettingChoices(setting);
        }
        if (row.kind == SettingKind::Commands) {
            entry["list"] = true;
        }
        if (IsSecret(setting)) {
            entry["secret"] = true;
        }
        settings.push_back(std::move(entry));
    }
    Json example;
    std::string problem;
    ParseJson(SharedExampleProfile(), example, problem);
    return JsonReply({{"settings", std::move(settings)}, {"hidden", kHiddenPassword}, {"example", example}});
}

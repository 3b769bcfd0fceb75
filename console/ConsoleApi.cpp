// The console's API: one handler per endpoint, each checking its body with the command line's
// own checks and messages.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>
#include <utility>

#include "AddressRange.h"
#include "CmdBuild.h"
#include "Console.h"
#include "ConsoleJobs.h"
#include "ConsoleReply.h"
#include "ConsoleState.h"
#include "FleetStatus.h"
#include "Plan.h"
#include "Scan.h"
#include "SendCmd.h"
#include "ShownCmd.h"
#include "SingleCmds.h"
#include "StatusReport.h"
#include "StopRequest.h"
#include "Targets.h"
#include "Values.h"

namespace {

using Json = ConsoleJson;

/// Most printers one request may name (a /16).
constexpr size_t kMaxRequestPrinters = 65536;
/// Most printers whose commands a check shows.
constexpr size_t kMaxPreviewPrinters = 64;
/// The text a hidden password is shown as, and may be sent back as to keep the stored one.
const char kHidden[] = "(hidden)";

// A request's body as a JSON object; false with `problem` when it is none.
bool ParseBody(const std::string& body, Json& json, std::string& problem) {
    json = Json::parse(body, nullptr, false);
    if (!json.is_object()) {
        problem =
            body.empty() ? "the request needs a JSON object as its body" : "the body is not a JSON object";
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

// The printers named by `texts` (each any --port form, a range or a network), expanded; the
// command line's messages for what is wrong. With `socketOnly`, TCP printers only.
std::vector<Target> ExpandTargets(const std::vector<std::string>& texts,
                                  bool socketOnly,
                                  std::vector<std::string>& errors) {
    std::vector<Target> found;
    std::vector<std::string> names;
    for (const std::string& text : texts) {
        std::vector<Target> expanded;
        std::string problem;
        if (!ExpandTarget(text, kWindowsPortNames, expanded, problem)) {
            errors.push_back(text + ": " + problem);
            continue;
        }
        for (Target& target : expanded) {
            if (socketOnly && target.port.kind != PortUri::Kind::Socket) {
                errors.push_back(text + ": only network printers (socket://) are kept here");
                break;
            }
            found.push_back(std::move(target));
            if (found.size() > kMaxRequestPrinters) {
                errors.push_back("more than " + std::to_string(kMaxRequestPrinters) +
                                 " printers in one request");
                return {};
            }
        }
    }
    return found;
}

// Replaces each password in a profile (a "password" key, or one ending in ".password") by `with`,
// or where `with` is null by the matching one of `stored`.
void HidePasswords(Json& profile, const Json* stored = nullptr) {
    if (!profile.is_object()) {
        return;
    }
    for (auto it = profile.begin(); it != profile.end(); ++it) {
        const std::string& key = it.key();
        const bool password =
            key == "password" || (key.size() > 9 && key.compare(key.size() - 9, 9, ".password") == 0);
        if (it->is_object()) {
            static const Json kNone = Json::object();
            const Json* inner =
                stored != nullptr && stored->is_object() && stored->contains(key) ? &(*stored)[key] : nullptr;
            HidePasswords(*it, stored != nullptr ? (inner != nullptr ? inner : &kNone) : nullptr);
        } else if (password && it->is_string()) {
            if (stored == nullptr) {
                *it = kHidden;
            } else if (*it == kHidden) {
                // "(hidden)" sent back: the password kept before stays.
                *it = stored->contains(key) ? (*stored)[key] : Json("");
            }
        }
    }
}

}  // namespace

HttpReply Console::Api(const HttpRequest& request) {
    const std::string path = request.path.substr(4);  // from the / after /api
    const std::string& method = request.method;
    const auto only = [&](const char* allowed) {
        HttpReply reply =
            ::ErrorReply(405, method + " is not served at " + request.path + "; " + allowed + " is");
        reply.headers.emplace_back("Allow", allowed);
        return reply;
    };
    const bool get = method == "GET" || method == "HEAD";
    if (path == "/status") {
        return method == "POST" ? Status(request.body) : only("POST");
    }
    if (path == "/scan") {
        return method == "POST" ? Scan(request.body) : only("POST");
    }
    if (path == "/printers") {
        return get || method == "POST" ? Printers(request) : only("GET, POST");
    }
    if (path == "/check") {
        return method == "POST" ? Check(request.body) : only("POST");
    }
    if (path == "/apply") {
        return method == "POST" ? Apply(request.body) : only("POST");
    }
    if (path.compare(0, 6, "/jobs/") == 0) {
        return get ? Job(request, path.substr(6)) : only("GET");
    }
    if (path == "/send") {
        return method == "POST" ? Send(request.body) : only("POST");
    }
    if (path == "/commands") {
        return get ? Commands() : only("GET");
    }
    if (path == "/profiles" || path.compare(0, 10, "/profiles/") == 0) {
        return Profiles(request, path.size() > 10 ? path.substr(10) : "");
    }
    return ::ErrorReply(404, "no such API: " + request.path);
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
    const std::vector<Target> targets = GatherStatusTargets("", texts, "", errors);
    if (!errors.empty()) {
        return ::ErrorReply(400, errors);
    }
    if (targets.size() > kMaxRequestPrinters) {
        return ::ErrorReply(400,
                            "more than " + std::to_string(kMaxRequestPrinters) + " printers in one request");
    }
    FleetStatusSettings settings;
    settings.send = m_settings.send;
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
    std::vector<std::string> printers = m_state->Printers();
    for (const std::string& target : found) {
        if (std::find(printers.begin(), printers.end(), target) == printers.end()) {
            printers.push_back(target);
        }
    }
    if (!m_state->SetPrinters(printers, problem)) {
        return ::ErrorReply(500, problem);
    }
    return JsonReply({{"targets", found}});
}

HttpReply Console::Printers(const HttpRequest& request) {
    if (request.method != "POST") {
        return JsonReply({{"printers", m_state->Printers()}});
    }
    Json json;
    std::string problem;
    std::vector<std::string> add, remove, errors;
    if (!ParseBody(request.body, json, problem) || !TextList(json, "add", add, problem) ||
        !TextList(json, "remove", remove, problem)) {
        return ::ErrorReply(400, problem);
    }
    std::vector<Target> added = ExpandTargets(add, true, errors);
    if (json.contains("targetsText")) {
        if (!json["targetsText"].is_string()) {
            return ::ErrorReply(400, "targetsText: must be the text of a targets file");
        }
        std::vector<TargetLine> lines;
        ParseTargetsText(json["targetsText"].get<std::string>(), "targets", lines, errors);
        std::vector<std::string> texts;
        for (const TargetLine& line : lines) {
            std::vector<std::string> lineErrors;
            std::vector<Target> more = ExpandTargets({line.target}, true, lineErrors);
            for (const std::string& error : lineErrors) {
                errors.push_back(line.origin + ": " + error);
            }
            added.insert(added.end(), more.begin(), more.end());
        }
    }
    std::vector<Target> removed = ExpandTargets(remove, false, errors);
    if (!errors.empty()) {
        return ::ErrorReply(400, errors);
    }
    std::vector<std::string> printers = m_state->Printers();
    for (const Target& target : removed) {
        printers.erase(std::remove(printers.begin(), printers.end(), target.name), printers.end());
    }
    for (const Target& target : added) {
        if (std::find(printers.begin(), printers.end(), target.name) == printers.end()) {
            printers.push_back(target.name);
        }
    }
    if (printers.size() > kMaxRequestPrinters) {
        return ::ErrorReply(400,
                            "the console keeps at most " + std::to_string(kMaxRequestPrinters) + " printers");
    }
    if (!m_state->SetPrinters(printers, problem)) {
        return ::ErrorReply(500, problem);
    }
    return JsonReply({{"printers", printers}});
}

namespace {

// The profile a check or an apply names: given whole ("profile") or kept ("profileName"). Its
// text and its name in messages; false with `status` and `problem` when there is none.
bool RequestProfile(const Json& body,
                    const ConsoleState& state,
                    std::string& text,
                    std::string& name,
                    int& status,
                    std::string& problem) {
    status = 400;
    if (body.contains("profileName")) {
        if (!body["profileName"].is_string() || !ValidProfileName(body["profileName"].get<std::string>())) {
            problem = "profileName: a profile's name is 1-64 of A-Z a-z 0-9 . _ -, not beginning with .";
            return false;
        }
        name = body["profileName"].get<std::string>();
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
    text = body["profile"].dump();
    name = "profile";
    return true;
}

// The roll-out a check or an apply asks for, planned with the command line's checks. Password
// files are not read: a page may not name files of this computer.
RolloutPlan PlanRequest(const std::string& profileText,
                        const std::string& profileName,
                        const std::vector<std::string>& targets) {
    RolloutInputs inputs;
    inputs.profile = profileName;
    inputs.targets = targets;
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
        const RolloutPlan plan = PlanRequest(text, name, targets);
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
    auto plan = std::make_unique<RolloutPlan>(PlanRequest(text, name, targets));
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

HttpReply Console::Job(const HttpRequest&, const std::string& rest) {
    const size_t slash = rest.find('/');
    const std::string id = rest.substr(0, slash);
    const bool events = slash != std::string::npos;
    if (events && rest.substr(slash) != "/events") {
        return ::ErrorReply(404, "no such API: /api/jobs/" + rest);
    }
    // Both streamed: a report of many printers is written as it is read, never whole in memory.
    HttpReply reply;
    reply.stream = events ? m_jobs->Events(id) : m_jobs->Report(id);
    if (!reply.stream) {
        return ::ErrorReply(404, "no job " + id +
                                     " (jobs are kept while the console runs, the last 20; their reports in "
                                     "the state folder's jobs/)");
    }
    reply.contentType = events ? "text/event-stream" : "application/json";
    reply.headers = {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}};
    return reply;
}

HttpReply Console::Profiles(const HttpRequest& request, const std::string& name) {
    const bool get = request.method == "GET" || request.method == "HEAD";
    std::string problem;
    if (name.empty()) {
        if (!get) {
            HttpReply reply = ::ErrorReply(405, request.method + " is not served at /api/profiles; GET is");
            reply.headers.emplace_back("Allow", "GET");
            return reply;
        }
        const std::vector<std::string> names = m_state->ProfileNames(problem);
        return problem.empty() ? JsonReply({{"profiles", names}}) : ::ErrorReply(500, problem);
    }
    if (!ValidProfileName(name)) {
        return ::ErrorReply(404, "a profile's name is 1-64 of A-Z a-z 0-9 . _ -, not beginning with .");
    }
    std::string text;
    const bool kept = m_state->ReadProfile(name, text);
    Json stored = kept ? Json::parse(text, nullptr, false) : Json::object();
    if (get) {
        if (!kept) {
            return ::ErrorReply(404, "no profile is kept as " + name);
        }
        HidePasswords(stored);
        return JsonReply(stored);
    }
    if (request.method != "PUT") {
        HttpReply reply =
            ::ErrorReply(405, request.method + " is not served at " + request.path + "; GET, PUT are");
        reply.headers.emplace_back("Allow", "GET, PUT");
        return reply;
    }
    Json profile;
    if (!ParseBody(request.body, profile, problem)) {
        return ::ErrorReply(400, problem);
    }
    HidePasswords(profile, &stored);
    text = profile.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
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
    }
    SendOptions send = m_settings.send;
    const std::string target = json["target"].get<std::string>();
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
    const SendOutcome outcome = SendCmd(send, *cmd);
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
            Json entry = {
                {"name", arg.name}, {"label", arg.label}, {"help", arg.help}, {"required", arg.required}};
            if (arg.defaultValue != nullptr) {
                entry["default"] = arg.defaultValue;
            }
            if (!arg.choices.empty()) {
                entry["choices"] = arg.choices;
            }
            if (std::string(arg.name) == "password") {
                entry["secret"] = true;
            }
            args.push_back(std::move(entry));
        }
        list.push_back({{"command", info.name}, {"title", info.help}, {"args", std::move(args)}});
    }
    return JsonReply(list);
}

#include "console/ConsoleState.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <set>
#include <utility>

#include "console/ConsoleFiles.h"
#include "fleet/Profile.h"
#include "fleet/Targets.h"
#include "json/JsonParse.h"
#include "system/ErrnoText.h"
#include "system/Files.h"
#include "values/Values.h"

namespace {

using Json = nlohmann::ordered_json;

const char kPrintersFile[] = "printers.json";
const char kProfilesFolder[] = "profiles";
const char kProfileSuffix[] = ".json";

// Writes one kept file whole, the user's alone (profiles hold passwords).
bool WriteKept(const std::string& path, const std::string& bytes, std::string& problem) {
    const int error = WriteFileWhole(path, bytes, true);
    if (error != 0) {
        problem = "cannot write " + path + ": " + ErrnoText(error);
    }
    return error == 0;
}

}  // namespace

const char kProfileNameRule[] =
    "a profile's name is 1-64 of A-Z a-z 0-9 . _ -, not beginning with . and not a name of a Windows "
    "device (CON, PRN, AUX, NUL, COM0-9, LPT0-9, also with an extension)";

bool ValidProfileName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.') {
        return false;
    }
    if (!std::all_of(name.begin(), name.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                   c == '_' || c == '-';
        })) {
        return false;
    }
    // Windows opens the device for such a name, whatever follows its first dot.
    std::string base = name.substr(0, name.find('.'));
    for (char& c : base) {
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    const bool numbered = base.size() == 4 &&
                          (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
                          base[3] >= '0' && base[3] <= '9';
    return !numbered && base != "CON" && base != "PRN" && base != "AUX" && base != "NUL";
}

ConsoleState::ConsoleState(std::string folder) : m_folder(std::move(folder)) {}

bool ConsoleState::Load(std::string& problem, std::vector<std::string>& dropped) {
    if (!MakePrivateFolder(m_folder, problem) ||
        !MakePrivateFolder(m_folder + "/" + kProfilesFolder, problem)) {
        return false;
    }
    RemoveLeftTemporaries(m_folder);
    RemoveLeftTemporaries(m_folder + "/" + kProfilesFolder);
    const std::string path = m_folder + "/" + kPrintersFile;
    std::string text;
    if (!ReadFileBytes(path, kMaxProfileBytes * 16, text, problem)) {
        std::FILE* file = OpenFile(path, "rb");
        if (file == nullptr) {
            problem.clear();
            return true;  // none kept yet
        }
        std::fclose(file);
        return false;
    }
    Json json;
    std::string unread;
    if (!ParseJson(text, json, unread) || !json.is_object() || !json.contains("printers") ||
        !json["printers"].is_array()) {
        problem = FileLabel(path) + " is not the console's list of printers ({\"printers\": [...]})" +
                  (unread.empty() ? "" : ": " + unread);
        return false;
    }
    // Kept as the API keeps them: each one network printer, once (a list edited by hand may hold
    // others, which would make every status read of the list fail).
    std::vector<std::string> printers;
    std::set<std::string> seen;
    const Json& list = json["printers"];
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string where = FileLabel(path) + ": printers[" + std::to_string(i) + "]";
        std::vector<Target> targets;
        std::string why;
        if (!list[i].is_string()) {
            why = "not text";
        } else if (ExpandTarget(list[i].get<std::string>(), kWindowsPortNames, targets, why)) {
            if (targets.size() != 1 || targets.front().port.kind != PortUri::Kind::Socket) {
                why = "not one network printer (socket://A.B.C.D[:PORT])";
            } else if (!seen.insert(TargetIdentity(targets.front())).second) {
                why = "given twice";
            } else {
                printers.push_back(list[i].get<std::string>());
                continue;
            }
        }
        dropped.push_back(where + (list[i].is_string() ? " " + ShownText(list[i].get<std::string>()) : "") +
                          ": " + why + "; left out");
    }
    // The labels of kept printers, each as a targets file would give it.
    std::map<std::string, TargetLabels> labels;
    const Json none = Json::object();
    const Json& given = json.contains("labels") ? json["labels"] : none;
    if (!given.is_object()) {
        dropped.push_back(FileLabel(path) + ": labels: not an object of printers; left out");
    }
    for (auto it = given.begin(); given.is_object() && it != given.end(); ++it) {
        const std::string where = FileLabel(path) + ": labels of " + ShownText(it.key(), 64);
        std::string why = std::find(printers.begin(), printers.end(), it.key()) == printers.end()
                              ? "not a kept printer"
                          : it->is_object() ? ""
                                            : "not an object of labels";
        TargetLabels kept;
        for (auto label = it->begin(); why.empty() && label != it->end(); ++label) {
            why = ValidLabelName(label.key()) ? "" : ShownText(label.key(), 64) + ": " + kLabelNameRule;
            if (why.empty()) {
                why = !label->is_string() || label->get_ref<const std::string&>().empty()
                          ? label.key() + ": not text"
                          : LabelValueProblem(label->get<std::string>());
            }
            kept.emplace_back(label.key(), label->is_string() ? label->get<std::string>() : "");
        }
        if (!why.empty()) {
            dropped.push_back(where + ": " + why + "; left out");
        } else if (!kept.empty()) {
            labels[it.key()] = std::move(kept);
        }
    }
    // Their own values, as a targets file gave them.
    std::map<std::string, KeptValues> values;
    const Json& own = json.contains("values") && json["values"].is_object() ? json["values"] : none;
    for (auto it = own.begin(); it != own.end(); ++it) {
        const Json& one = *it;
        KeptValues kept;
        bool good = std::find(printers.begin(), printers.end(), it.key()) != printers.end() &&
                    one.is_object() && one.contains("origin") && one["origin"].is_string() &&
                    one.contains("n") && one["n"].is_number_unsigned() && one["n"].get<uint64_t>() >= 1 &&
                    one.contains("overrides") && one["overrides"].is_array();
        for (size_t i = 0; good && i < one["overrides"].size(); ++i) {
            const Json& assignment = one["overrides"][i];
            good = assignment.is_string() &&
                   assignment.get_ref<const std::string&>().find('=') != std::string::npos;
            kept.overrides.push_back(good ? assignment.get<std::string>() : "");
        }
        if (!good) {
            dropped.push_back(FileLabel(path) + ": values of " + ShownText(it.key(), 64) +
                              ": not a kept printer's origin, n and overrides; left out");
            continue;
        }
        kept.origin = one["origin"].get<std::string>();
        kept.number = one["n"].get<size_t>();
        values[it.key()] = std::move(kept);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_printers.printers = std::move(printers);
    m_printers.labels = std::move(labels);
    m_printers.values = std::move(values);
    return true;
}

KeptPrinters ConsoleState::Printers() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_printers;
}

ConsoleState::Change ConsoleState::ChangePrinters(const PrinterChange& change,
                                                  KeptPrinters& printers,
                                                  std::string& problem) {
    // Read, changed and written under one lock: two changes at once both count.
    std::lock_guard<std::mutex> lock(m_mutex);
    printers = m_printers;
    if (!change(printers, problem)) {
        return Change::Refused;
    }
    const std::set<std::string> listed(printers.printers.begin(), printers.printers.end());
    for (auto it = printers.labels.begin(); it != printers.labels.end();) {
        it = listed.count(it->first) != 0 && !it->second.empty() ? std::next(it) : printers.labels.erase(it);
    }
    for (auto it = printers.values.begin(); it != printers.values.end();) {
        it = listed.count(it->first) != 0 ? std::next(it) : printers.values.erase(it);
    }
    if (!WriteKept(m_folder + "/" + kPrintersFile, KeptPrintersJson(printers, false), problem)) {
        return Change::NotWritten;
    }
    m_printers = printers;
    return Change::Kept;
}

std::string KeptPrintersJson(const KeptPrinters& kept, bool hidePasswords) {
    Json json = {{"printers", kept.printers}};
    if (!kept.labels.empty()) {
        Json labels = Json::object();
        for (const std::string& printer : kept.printers) {
            const auto found = kept.labels.find(printer);
            if (found == kept.labels.end()) {
                continue;
            }
            Json one = Json::object();
            for (const auto& label : found->second) {
                one[label.first] = label.second;
            }
            labels[printer] = std::move(one);
        }
        json["labels"] = std::move(labels);
    }
    if (!kept.values.empty()) {
        Json values = Json::object();
        for (const std::string& printer : kept.printers) {
            const auto found = kept.values.find(printer);
            if (found == kept.values.end()) {
                continue;
            }
            Json overrides = Json::array();
            for (const std::string& assignment : found->second.overrides) {
                const std::string key = assignment.substr(0, assignment.find('='));
                const SettingRef* setting = FindSetting(key);
                const bool hidden = hidePasswords && setting != nullptr && IsSecret(*setting);
                overrides.push_back(hidden ? key + "=" + kHiddenPassword : assignment);
            }
            values[printer] = {{"origin", found->second.origin},
                               {"n", found->second.number},
                               {"overrides", std::move(overrides)}};
        }
        json["values"] = std::move(values);
    }
    // Text that is not UTF-8 (a name as typed) is written with U+FFFD instead of failing.
    return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string ConsoleState::ProfilePath(const std::string& name) const {
    return m_folder + "/" + kProfilesFolder + "/" + name + kProfileSuffix;
}

std::vector<std::string> ConsoleState::ProfileNames(std::string& problem) const {
    std::vector<std::string> files, names;
    ListFiles(m_folder + "/" + kProfilesFolder, problem, files);
    const size_t suffix = std::strlen(kProfileSuffix);
    for (const std::string& file : files) {
        const std::string name = file.size() > suffix ? file.substr(0, file.size() - suffix) : "";
        if (file.compare(name.size(), std::string::npos, kProfileSuffix) == 0 && ValidProfileName(name)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool ConsoleState::ReadProfile(const std::string& name, std::string& text) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string problem;
    return ReadFileBytes(ProfilePath(name), kMaxProfileBytes, text, problem);
}

bool ConsoleState::WriteProfile(const std::string& name, const std::string& text, std::string& problem) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return WriteKept(ProfilePath(name), text, problem);
}

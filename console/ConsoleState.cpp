#include "console/ConsoleState.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
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
    std::lock_guard<std::mutex> lock(m_mutex);
    m_printers = std::move(printers);
    return true;
}

std::vector<std::string> ConsoleState::Printers() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_printers;
}

ConsoleState::Change ConsoleState::ChangePrinters(const PrinterChange& change,
                                                  std::vector<std::string>& printers,
                                                  std::string& problem) {
    // Read, changed and written under one lock: two changes at once both count.
    std::lock_guard<std::mutex> lock(m_mutex);
    printers = m_printers;
    if (!change(printers, problem)) {
        return Change::Refused;
    }
    const Json json = {{"printers", printers}};
    if (!WriteKept(m_folder + "/" + kPrintersFile, json.dump(2) + "\n", problem)) {
        return Change::NotWritten;
    }
    m_printers = printers;
    return Change::Kept;
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

#include "ConsoleState.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <utility>

#include "ConsoleFiles.h"
#include "Files.h"
#include "Profile.h"

namespace {

using Json = nlohmann::ordered_json;

const char kPrintersFile[] = "printers.json";
const char kProfilesFolder[] = "profiles";
const char kProfileSuffix[] = ".json";

}  // namespace

bool ValidProfileName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.') {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '_' || c == '-';
    });
}

ConsoleState::ConsoleState(std::string folder) : m_folder(std::move(folder)) {}

bool ConsoleState::Load(std::string& problem) {
    if (!MakePrivateFolder(m_folder, problem) ||
        !MakePrivateFolder(m_folder + "/" + kProfilesFolder, problem)) {
        return false;
    }
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
    const Json json = Json::parse(text, nullptr, false);
    if (!json.is_object() || !json.contains("printers") || !json["printers"].is_array()) {
        problem = FileLabel(path) + " is not the console's list of printers ({\"printers\": [...]})";
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_printers.clear();
    for (const Json& printer : json["printers"]) {
        if (printer.is_string()) {
            m_printers.push_back(printer.get<std::string>());
        }
    }
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
    if (!WritePrivateFile(m_folder + "/" + kPrintersFile, json.dump(2) + "\n", problem)) {
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
    return WritePrivateFile(ProfilePath(name), text, problem);
}

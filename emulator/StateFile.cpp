// The state file's text, put together from each printer's entry.
#include "emulator/StateFile.h"

#include <cerrno>
#include <cstdio>

#include "emulator/Conditions.h"
#include "json/JsonParse.h"
#include "system/ErrnoText.h"
#include "system/Files.h"

void StateFile::Set(size_t index,
                    const std::string& name,
                    const PrinterState& state,
                    PrinterCondition condition) {
    PrinterState::Json json = state.ToJson();
    if (condition != PrinterCondition::None) {
        json["condition"] = ConditionName(condition);
    }
    SetEntry(index, name, json);
}

void StateFile::SetEntry(size_t index, const std::string& name, const PrinterState::Json& json) {
    if (index >= m_entries.size()) {
        m_entries.resize(index + 1);
    }
    const auto replace = PrinterState::Json::error_handler_t::replace;
    const std::string value = json.dump(2, ' ', false, replace);
    std::string& entry = m_entries[index];
    entry = "    " + PrinterState::Json(name).dump(-1, ' ', false, replace) + ": ";
    entry.reserve(entry.size() + value.size() + value.size() / 8);
    for (const char c : value) {
        entry += c;
        if (c == '\n') {
            entry += "    ";
        }
    }
}

std::string StateFile::Text() const {
    std::string text = "{\n  \"printers\": {";
    size_t size = text.size() + 16;
    for (const std::string& entry : m_entries) {
        size += entry.size() + 2;
    }
    text.reserve(size);  // megabytes for a big fleet, written twice a second: copied once
    for (size_t i = 0; i < m_entries.size(); ++i) {
        text += i == 0 ? "\n" : ",\n";
        text += m_entries[i];
    }
    text += m_entries.empty() ? "}\n}\n" : "\n  }\n}\n";
    return text;
}

int StateFile::Write() const {
    // It holds Wi-Fi passwords: the user's alone.
    return WriteFileWhole(m_path, Text(), true);
}

bool ReadStateFile(const std::string& path, std::vector<SavedPrinter>& printers, std::string& problem) {
    printers.clear();
    const std::string label = "'" + FileLabel(path) + "'";
    std::FILE* file = OpenFile(path, "rb");
    if (file == nullptr) {
        const int error = errno;
        if (error == ENOENT) {
            return true;  // a first run
        }
        problem = "cannot read " + label + ": " + ErrnoText(error);
        return false;
    }
    const int first = std::fgetc(file);
    PrinterState::Json json;
    const bool parsed = first == EOF || (std::ungetc(first, file) != EOF && ParseJson(file, json, problem));
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        problem = "cannot read " + label;
        return false;
    }
    if (!parsed) {
        problem = label + " is not a state file: " + problem;
        return false;
    }
    if (first == EOF) {
        return true;  // made empty for it (mktemp)
    }
    const auto found = json.is_object() ? json.find("printers") : json.end();
    if (found == json.end() || !found->is_object()) {
        problem = label + " is not a state file: it has no \"printers\" object";
        return false;
    }
    printers.reserve(found->size());
    PrinterState check;
    for (auto& printer : found->items()) {
        if (!check.Restore(printer.value(), problem)) {
            problem = label + " is not a state file: printer '" + printer.key() + "': " + problem;
            return false;
        }
        printers.push_back(SavedPrinter{printer.key(), std::move(printer.value())});
    }
    return true;
}

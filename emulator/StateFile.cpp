// The state file's text, put together from each printer's entry.
#include "emulator/StateFile.h"

#include "emulator/Conditions.h"
#include "system/Files.h"

void StateFile::Set(size_t index,
                    const std::string& name,
                    const PrinterState& state,
                    PrinterCondition condition) {
    if (index >= m_entries.size()) {
        m_entries.resize(index + 1);
    }
    const auto replace = PrinterState::Json::error_handler_t::replace;
    PrinterState::Json json = state.ToJson();
    if (condition != PrinterCondition::None) {
        json["condition"] = ConditionName(condition);
    }
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

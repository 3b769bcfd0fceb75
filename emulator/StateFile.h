// The emulator's state file (listen --state): every virtual printer's state as JSON, rewritten
// whole as the states change.
#pragma once

#include <string>
#include <vector>

#include "emulator/Faults.h"
#include "emulator/PrinterState.h"

/// The file {"printers": {NAME: STATE, ...}} as nlohmann's dump(2) writes it, put together from
/// each printer's entry: only the printers that changed are written anew, and no object of all of
/// them is built (looking a name up in one costs as many steps as it has printers).
class StateFile {
  public:
    explicit StateFile(std::string path) : m_path(std::move(path)) {}

    const std::string& Path() const { return m_path; }

    /// Printer `index`'s entry from now on (printers are listed in index order): its state, and
    /// "condition" last unless it is none.
    void Set(size_t index, const std::string& name, const PrinterState& state, PrinterCondition condition);
    /// Entry `index` as `value`, whole: a printer of an earlier run that is not listened on now.
    void SetEntry(size_t index, const std::string& name, const PrinterState::Json& value);

    /// Writes every entry as the file, whole and in one step (WriteFileWhole), so that a reader
    /// sees the old state or the new one, never a part; only its owner may read it (it holds
    /// Wi-Fi passwords). Answers 0, or the errno of what failed.
    int Write() const;

  private:
    std::string Text() const;

    std::string m_path;
    std::vector<std::string> m_entries;  // `"NAME": {...}`, indented as it stands in the file
};

/// A printer's entry in a state file.
struct SavedPrinter {
    std::string name;  // ADDR:PORT
    PrinterState::Json entry;
};

/// The printers of the state file at `path`, as StateFile writes it, each entry checked by
/// PrinterState::Restore. None when there is no file, or it is empty. False with `problem`
/// ("'state.json': printer '127.0.0.1:9100': 'counts.cut' is not a count") when it cannot be
/// read or is no state file: it is left as it is.
bool ReadStateFile(const std::string& path, std::vector<SavedPrinter>& printers, std::string& problem);

// What the console keeps across runs in its state folder: the printer list (printers.json) and
// the profiles (profiles/NAME.json), each file the user's alone and written by replacing it.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class ConsoleState {
  public:
    explicit ConsoleState(std::string folder);

    /// Makes the folder and reads the printer list kept there. False with `problem` saying why
    /// (a list that is not the console's is a problem, and is not overwritten).
    bool Load(std::string& problem);

    const std::string& Folder() const { return m_folder; }

    /// The kept printers, in order.
    std::vector<std::string> Printers() const;
    /// How a change of the list ended.
    enum class Change { Kept, Refused, NotWritten };
    /// Changes the list in one step that no other change comes between: `change` edits the list
    /// as kept, or refuses (false, with `problem`); what it made is written and kept, and left in
    /// `printers`. Refused, or NotWritten with `problem` when the file could not be written: the
    /// list then stays as it was.
    using PrinterChange = std::function<bool(std::vector<std::string>& printers, std::string& problem)>;
    Change ChangePrinters(const PrinterChange& change,
                          std::vector<std::string>& printers,
                          std::string& problem);

    /// The names of the kept profiles, sorted.
    std::vector<std::string> ProfileNames(std::string& problem) const;
    /// The kept profile `name` (a valid one: ValidProfileName); false when there is none.
    bool ReadProfile(const std::string& name, std::string& text) const;
    /// Keeps `text` as the profile `name`.
    bool WriteProfile(const std::string& name, const std::string& text, std::string& problem);

  private:
    std::string ProfilePath(const std::string& name) const;

    std::string m_folder;
    mutable std::mutex m_mutex;  // the list, and the files while written
    std::vector<std::string> m_printers;
};

/// A profile's name: 1-64 of A-Z a-z 0-9 . _ -, not beginning with '.'.
bool ValidProfileName(const std::string& name);

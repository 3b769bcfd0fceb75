// What the console keeps across runs in its state folder: the printer list (printers.json) and
// the profiles (profiles/NAME.json), each file the user's alone and written by replacing it.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "fleet/Labels.h"

/// A printer's own values as its targets file gave them.
struct KeptValues {
    std::string origin;                  // its line: "tills.csv row 3"
    std::vector<std::string> overrides;  // "bt-name=Till 2": a sequence counted up for it
    size_t number = 1;                   // its number in its line's range or network ({n})
};

/// The printer list as kept: the printers in order, and the labels and own values of those that
/// have any.
struct KeptPrinters {
    std::vector<std::string> printers;
    std::map<std::string, TargetLabels> labels;  // by printer
    std::map<std::string, KeptValues> values;    // by printer
};

class ConsoleState {
  public:
    explicit ConsoleState(std::string folder);

    /// Makes the folder, removes what saves cut short left there (RemoveLeftTemporaries) and
    /// reads the printer list kept there. False with `problem` saying why (a list that is not the
    /// console's is a problem, and is not overwritten). Entries of the list that the console would
    /// not keep (not one network printer, or given twice), and labels that are not a kept
    /// printer's or not labels, are left out, each told in `dropped`.
    bool Load(std::string& problem, std::vector<std::string>& dropped);

    const std::string& Folder() const { return m_folder; }

    /// The kept printers, in order, and their labels.
    KeptPrinters Printers() const;
    /// How a change of the list ended.
    enum class Change { Kept, Refused, NotWritten };
    /// Changes the list in one step that no other change comes between: `change` edits the list
    /// as kept, or refuses (false, with `problem`); what it made (the labels of printers no
    /// longer listed dropped) is written and kept, and left in `printers`. Refused, or NotWritten
    /// with `problem` when the file could not be written: the list then stays as it was.
    using PrinterChange = std::function<bool(KeptPrinters& printers, std::string& problem)>;
    Change ChangePrinters(const PrinterChange& change, KeptPrinters& printers, std::string& problem);

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
    KeptPrinters m_printers;
};

/// The kept printers as the API answers them and printers.json holds them: {"printers": [...]},
/// with "labels": {PRINTER: {NAME: VALUE, ...}} when any has labels and "values": {PRINTER:
/// {"origin", "n", "overrides": [...]}} when any has values of its own. With `hidePasswords` (the
/// API's answer) a password's value is shown as kHiddenPassword.
std::string KeptPrintersJson(const KeptPrinters& kept, bool hidePasswords);

/// A profile's name: 1-64 of A-Z a-z 0-9 . _ -, not beginning with '.', and not a name that
/// Windows keeps for a device (CON, PRN, AUX, NUL, COM0-9, LPT0-9, in any case, also with an
/// extension as in "nul.shop"), on every platform: a state folder may move to another.
bool ValidProfileName(const std::string& name);

/// What ValidProfileName takes, as messages say it.
extern const char kProfileNameRule[];

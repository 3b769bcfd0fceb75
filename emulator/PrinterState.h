// What one virtual printer of the emulator has received: its settings, as a printer keeps
// them, and counts of the commands that only act.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

class PrinterState {
  public:
    using Json = nlohmann::ordered_json;

    PrinterState();

    /// Takes every whole command of what one connection delivered; bytes that begin no command,
    /// a command cut short, and `dropped` bytes that were not kept count as undecoded.
    void ApplyConnection(const std::vector<unsigned char>& bytes, uint64_t dropped);

    /// The state in the --state file's shape: the settings received (a setting never received
    /// is absent), "counts", "connections" and "undecoded-bytes". Names as tolctl's options
    /// write them; a value that has no name there is written as its number.
    Json ToJson() const;

    /// Takes the settings, counts and connections of `state` (as ToJson writes it) as what this
    /// printer has received: an emulator started again keeps what its printers were sent, as a
    /// printer keeps its settings. Other members ("condition") are left alone. False with
    /// `problem` ("'counts.cut' is not a count") when a value is not as ToJson writes it.
    bool Restore(const Json& state, std::string& problem);

  private:
    // What one command of the catalogue (by its row) has left: the setting it made, or the
    // times it came.
    struct Value {
        Json setting;
        uint64_t count = 0;
    };
    std::vector<Value> m_values;
    uint64_t m_nConnections = 0;
    uint64_t m_nUndecoded = 0;
};

// `tolctl decode`: the commands found in raw bytes, or in the hex that --dry-run prints.
#include <CLI/CLI.hpp>

#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>

#include "commands/Decode.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Tolctl.h"
#include "values/Values.h"

namespace {

std::vector<unsigned char> ReadAll(std::istream& stream) {
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(stream),
                                      std::istreambuf_iterator<char>());
}

int RunDecode(const std::string& name,
              const GlobalOptions& global,
              std::istream& in,
              std::ostream& out,
              std::ostream& err) {
    if (!NoPortGiven(global, "decode", err)) {
        return kExitUsage;
    }
    std::vector<unsigned char> bytes;
    if (name == "-") {
        bytes = ReadAll(in);
    } else {
        std::ifstream file(name, std::ios::binary);
        if (!file) {
            err << "tolctl: decode: cannot open " << ShownText(name, std::string::npos) << "\n";
            return kExitUsage;
        }
        bytes = ReadAll(file);
    }
    std::vector<unsigned char> fromHex;
    bool hidden = false;
    if (ReadHexText(bytes, fromHex, &hidden)) {
        bytes = std::move(fromHex);  // what --dry-run printed
    }
    // A password that --dry-run hid is shown hidden, not as the stars that stand in for it.
    for (const std::string& line : DecodeCommands(bytes, hidden)) {
        out << line << '\n';
    }
    return kExitOk;
}

}  // namespace

void AddDecodeCommand(CLI::App& app, Subcommands& list) {
    auto file = std::make_shared<std::string>("-");
    CLI::App* decode = app.add_subcommand(
        "decode", "Print the commands found in raw bytes, or in the hex that --dry-run prints");
    decode->add_option("FILE", *file, "File to read, or - for standard input (default)");
    list.push_back({decode, [file](const GlobalOptions& global, std::istream& in, std::ostream& out,
                                   std::ostream& err) { return RunDecode(*file, global, in, out, err); }});
}

// `tolctl decode`: the commands found in raw bytes, or in the hex that --dry-run prints.
#include <CLI/CLI.hpp>

#include <fstream>
#include <iterator>
#include <ostream>

#include "Decode.h"
#include "Subcommand.h"
#include "Tolctl.h"
#include "Values.h"

namespace {

std::vector<unsigned char> ReadAll(std::istream& stream) {
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(stream),
                                      std::istreambuf_iterator<char>());
}

class DecodeCommand : public Subcommand {
  public:
    explicit DecodeCommand(CLI::App& app)
        : m_app(app.add_subcommand(
              "decode",
              "Print the commands found in raw bytes, or in the hex that --dry-run prints")) {
        m_app->add_option("FILE", m_file, "File to read, or - for standard input (default)");
    }

    bool Chosen() const override { return m_app->parsed(); }

    int Run(const GlobalOptions& global, std::istream& in, std::ostream& out, std::ostream& err) override {
        if (!NoPortGiven(global, "decode", err)) {
            return kExitUsage;
        }
        std::vector<unsigned char> bytes;
        if (m_file == "-") {
            bytes = ReadAll(in);
        } else {
            std::ifstream file(m_file, std::ios::binary);
            if (!file) {
                err << "tolctl: decode: cannot open " << ShownText(m_file, std::string::npos) << "\n";
                return kExitUsage;
            }
            bytes = ReadAll(file);
        }
        std::vector<unsigned char> fromHex;
        if (ReadHexText(bytes, fromHex)) {
            bytes = std::move(fromHex);  // what --dry-run printed
        }
        for (const std::string& line : DecodeCommands(bytes)) {
            out << line << '\n';
        }
        return kExitOk;
    }

  private:
    CLI::App* m_app;
    std::string m_file = "-";
};

}  // namespace

std::unique_ptr<Subcommand> AddDecodeCommand(CLI::App& app) {
    return std::unique_ptr<Subcommand>(new DecodeCommand(app));
}

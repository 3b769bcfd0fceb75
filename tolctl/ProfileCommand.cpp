// `tolctl profile example` and `targets-csv`: starting points for apply's profile and targets;
// `schema` and `keys`: the profile described for other programs and for the documentation.
#include <CLI/CLI.hpp>

#include <ostream>

#include "fleet/Profile.h"
#include "fleet/ProfileSchema.h"
#include "tolctl/Subcommand.h"
#include "tolctl/Tolctl.h"

void AddProfileCommand(CLI::App& app, Subcommands& list) {
    CLI::App* profile = app.add_subcommand("profile", "Settings profiles for apply");
    profile->require_subcommand(1);
    CLI::App* example = profile->add_subcommand(
        "example", "Print a commented starting profile (keys beginning // are comments)");
    CLI::App* targetsCsv = profile->add_subcommand(
        "targets-csv",
        "Print an example spreadsheet of targets (CSV): a header row of 'target' and the profile's "
        "dotted names, then a printer a row; an empty cell keeps the profile's value, and an address "
        "ending in + counts up per printer of a range");
    CLI::App* schema = profile->add_subcommand(
        "schema", "Print the profile's JSON Schema (docs/profile.schema.json holds the same)");
    CLI::App* keys = profile->add_subcommand(
        "keys",
        "Print the table of the profile's keys and the order they are sent in (Markdown, as in "
        "docs/profiles.md)");
    list.push_back(
        {profile,
         [example, targetsCsv, schema, keys](const GlobalOptions& global, std::istream&, std::ostream& out,
                                             std::ostream& err) -> int {
             if (!NoPortGiven(global, "profile", err)) {
                 return kExitUsage;
             }
             if (example->parsed()) {
                 out << ExampleProfile();
                 return kExitOk;
             }
             if (schema->parsed()) {
                 out << ProfileSchema();
                 return kExitOk;
             }
             if (keys->parsed()) {
                 out << ProfileKeysTable();
                 return kExitOk;
             }
             if (targetsCsv->parsed()) {
                 out << "target,lan.ip,wifi-station.ip,bt-name,bt-pin\n"
                        "socket://10.0.0.1-4,192.168.1.51+,192.168.1.201+,,\n"
                        "socket://10.0.0.9,192.168.1.60,192.168.1.210,\"Till 9, by the \"\"door\"\"\",4711\n"
                        "socket://10.0.0.10:9101,192.168.1.61,192.168.1.211,Back office,\n";
                 return kExitOk;
             }
             return kExitUsage;
         }});
}

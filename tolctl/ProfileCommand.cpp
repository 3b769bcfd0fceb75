// `tolctl profile example`: a commented starting profile for apply.
#include <CLI/CLI.hpp>

#include <ostream>

#include "Profile.h"
#include "Subcommand.h"
#include "Tolctl.h"

void AddProfileCommand(CLI::App& app, Subcommands& list) {
    CLI::App* profile = app.add_subcommand("profile", "Settings profiles for apply");
    profile->require_subcommand(1);
    CLI::App* example = profile->add_subcommand(
        "example", "Print a commented starting profile (keys beginning // are comments)");
    list.push_back(
        {profile,
         [example](const GlobalOptions& global, std::istream&, std::ostream& out, std::ostream& err) -> int {
             if (!NoPortGiven(global, "profile", err)) {
                 return kExitUsage;
             }
             if (example->parsed()) {
                 out << ExampleProfile();
                 return kExitOk;
             }
             return kExitUsage;
         }});
}

// `tolctl profile example`: a commented starting profile for apply.
#include <CLI/CLI.hpp>

#include <ostream>

#include "Profile.h"
#include "Subcommand.h"
#include "Tolctl.h"

namespace {

class ProfileCommand : public Subcommand {
  public:
    explicit ProfileCommand(CLI::App& app)
        : m_app(app.add_subcommand("profile", "Settings profiles for apply")) {
        m_app->require_subcommand(1);
        m_example = m_app->add_subcommand(
            "example", "Print a commented starting profile (keys beginning // are comments)");
    }

    bool Chosen() const override { return m_app->parsed(); }

    int Run(const GlobalOptions& global, std::istream&, std::ostream& out, std::ostream& err) override {
        if (!NoPortGiven(global, "profile", err)) {
            return kExitUsage;
        }
        if (m_example->parsed()) {
            out << ExampleProfile();
            return kExitOk;
        }
        return kExitUsage;
    }

  private:
    CLI::App* m_app;
    CLI::App* m_example;
};

}  // namespace

std::unique_ptr<Subcommand> AddProfileCommand(CLI::App& app) {
    return std::unique_ptr<Subcommand>(new ProfileCommand(app));
}

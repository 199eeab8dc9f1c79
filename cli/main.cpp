// sealbench-cli: Sealbench's features without a window, for scripts and CI.
#include <cstdio>
#include <iostream>

#include "commands.h"
#include "common/version.h"
#include "options.h"
#include "several_boards.h"
#include "stdout_check.h"

namespace {

// A word that names no command is told before CLI11 sees it: its own message
// ("A subcommand is required") would not say which word was wrong.
bool RefuseUnknownCommand(const CLI::App& app, int argc, char** argv) {
    std::optional<std::string> word = sealbench::cli::CommandWord(argc, argv);
    if (!word) {
        return false;
    }
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands({})) {
        if (command->get_name() == *word) {
            return false;
        }
        names.push_back(command->get_name());
    }
    std::cerr << "sealbench-cli: unknown command '" << *word << "'";
    if (std::optional<std::string> nearest = sealbench::cli::NearestName(*word, names)) {
        std::cerr << " (did you mean '" << *nearest << "'?)";
    }
    std::cerr << "\nRun sealbench-cli --help for the commands.\n";
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    namespace cli = sealbench::cli;
    cli::FailOnLostOutput();
    CLI::App app{"Sealbench command line: talk to a Vireo boot ROM, flash boards, author secure-boot files."};
    app.name("sealbench-cli");
    // On Windows CLI11 would read "/data/in.bin" as an option "/data"; a path that
    // starts with a slash (MSYS2, Cygwin, Wine, any root-relative path) is a value.
    // Subcommands copy this from the app when they are made, so it comes first.
    app.allow_windows_style_options(false);
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Show the help of every command");
    app.set_version_flag("-V,--version", std::string("sealbench-cli ") + sealbench::kProjectVersion);

    int status = cli::kExitOk;
    cli::AddLinkCommands(app, status);
    cli::AddDumpCommand(app, status);
    cli::AddRunCommands(app, status);
    cli::AddRangeCommands(app, status);
    cli::AddFileCommands(app, status);
    cli::AddPortsCommand(app, status);
    cli::AddStationCommand(app, status);

    try {
        const cli::Arguments arguments(argc, argv);
        if (RefuseUnknownCommand(app, argc, argv)) {
            return cli::kExitUsage;
        }
        app.parse(arguments.argc(), arguments.argv());
    } catch (const CLI::Success& e) {  // --help, --help-all, --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return cli::kExitUsage;
    } catch (const cli::UsageError& e) {
        std::cerr << e.what() << "\n";
        return cli::kExitUsage;
    }
    std::fflush(stdout);
    return status;
}

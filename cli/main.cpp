// sealbench-cli: Sealbench's features without a window, for scripts and CI.
#include <cstdio>
#include <iostream>

#include "commands.h"
#include "several_boards.h"

int main(int argc, char** argv) {
    namespace cli = sealbench::cli;
    CLI::App app{"Sealbench command line: talk to a Vireo boot ROM, flash boards, author secure-boot files."};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Show the help of every command");

    int status = cli::kExitOk;
    cli::AddLinkCommands(app, status);
    cli::AddRunCommands(app, status);
    cli::AddFileCommands(app, status);
    cli::AddPortsCommand(app, status);

    try {
        const cli::Arguments arguments(argc, argv);
        app.parse(arguments.argc(), arguments.argv());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
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

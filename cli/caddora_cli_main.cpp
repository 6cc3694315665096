// caddora-cli: the maintenance jobs and the packing tools from a terminal.
// Exit status: 0 success, 1 failure (one line on stderr), 2 usage error, 128 + the signal's number
// for a device job stopped by Ctrl-C (130) or SIGTERM (143).
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "caddora_version.h"
#include "cli/commands.h"
#include "cli/session_log_option.h"
#include "platform/console.h"
#include "platform/program_folder.h"
#include "platform/utf8_paths.h"

int main(int argc, char** argv) {
    platform::UseUtf8Console();
    // Commands without a job of their own to end (pack, unpack, convert ...) leave no temporary
    // file behind when interrupted; device jobs take the interrupts over.
    platform::RemoveOutputsOnInterrupt();
    CLI::App app{"Maintenance tool for the CADDORA navigator, from a terminal.", "caddora-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("caddora-cli ") + kCaddoraVersion);
    app.footer(
        "Run 'caddora-cli COMMAND --help' for a command's options and examples.\n"
        "Exit status: 0 success, 1 failure (one line on stderr), 2 usage error, 130 when Ctrl-C\n"
        "stopped a device job (143 for SIGTERM).");
    cli::CommandContext ctx;
    using platform::EnvironmentText;
    ctx.images = DeviceImageSetup::From(EnvironmentText("CADDORA_PATCH_IMAGE").c_str(),
                                        EnvironmentText("CADDORA_BOOT_PROGRAM").c_str(),
                                        EnvironmentText("CADDORA_ALLOW_STAND_IN").c_str(),
                                        EnvironmentText("XDG_CONFIG_HOME").c_str(),
                                        EnvironmentText("HOME").c_str(), platform::ProgramFolder());
    cli::AddRegisteredCommands(app, ctx);
    // Every path the commands see is UTF-8, also where the system hands argv over in another
    // code page.
    std::vector<std::string> args = platform::Utf8Arguments(argc, argv);
    std::vector<char*> utf8Argv;
    for (std::string& arg : args) utf8Argv.push_back(arg.data());
    cli::RememberCommandLine(static_cast<int>(utf8Argv.size()), utf8Argv.data());
    try {
        app.parse(static_cast<int>(utf8Argv.size()), utf8Argv.data());
    } catch (const CLI::ParseError& e) {
        // Help goes to stdout with status 0; parse errors to stderr.
        const int status = app.exit(e) == 0 ? cli::kExitOk : cli::kExitUsage;
        cli::EndSessionLog(status);
        return status;
    } catch (const std::exception& e) {
        std::cerr << "caddora-cli: " << e.what() << '\n';
        cli::EndSessionLog(cli::kExitFailure);
        return cli::kExitFailure;
    }
    cli::EndSessionLog(ctx.exitCode);
    return ctx.exitCode;
}

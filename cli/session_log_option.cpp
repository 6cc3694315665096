#include "cli/session_log_option.h"

#include <iostream>
#include <mutex>

#include "caddora_version.h"
#include "cli/commands.h"
#include "diag/session_log.h"

namespace cli {

namespace {

struct LogOptions {
    std::string path;
    bool trace = false;
};

std::mutex stateMutex;
std::vector<std::string> commandLine;

constexpr const char* kDeviceCommands[] = {"devices", "import-points", "write-course",
                                           "write-firmware", "ymodem"};

void StartSessionLog(const LogOptions& o, std::ostream& err) {
    auto log = std::make_shared<diag::SessionLog>(
        o.path, o.trace ? stderr : nullptr, [&err](const std::string& warning) {
            err << "caddora-cli: warning: " << warning << std::endl;
        });
    std::lock_guard<std::mutex> lock(stateMutex);
    log->Header({std::string("caddora-cli ") + kCaddoraVersion, diag::OsName(), commandLine});
    diag::SetCurrentSessionLog(log);
}

void AddSessionLogOptions(CLI::App& app, CommandContext& ctx) {
    auto options = std::make_shared<LogOptions>();
    for (const char* name : kDeviceCommands) {
        CLI::App* cmd = nullptr;
        try {
            cmd = app.get_subcommand(name);
        } catch (const CLI::OptionNotFound&) {
            continue;
        }
        cmd->add_option("--log", options->path,
                        "Session log: every chunk sent and received, the job's steps and its "
                        "result, for a report or 'caddora-cli replay'")
            ->type_name("FILE");
        cmd->add_flag("--trace", options->trace,
                      "Print the frames sent and received, with their times, on stderr");
    }
    // Runs once every option is read, before the command itself.
    app.parse_complete_callback([options, &ctx] {
        if (!options->path.empty() || options->trace) StartSessionLog(*options, *ctx.err);
    });
}

}  // namespace

void RememberCommandLine(int argc, char** argv) {
    std::lock_guard<std::mutex> lock(stateMutex);
    commandLine.assign(argv, argv + argc);
}

void EndSessionLog(int exitCode) {
    if (auto log = diag::CurrentSessionLog()) {
        diag::SetCurrentSessionLog(nullptr);
        log->Exit(exitCode);
    }
}

static const CommandRegistration kSessionLog(kOrderSessionLog, AddSessionLogOptions);

}  // namespace cli

// replay: runs a recorded device job again against the navigator its session log recorded,
// with no device attached. The job code is the same; only the link is played from the log.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "diag/replay_link.h"
#include "transport/stand_in_link.h"

namespace cli {

namespace {

constexpr const char* kCommand = "replay";

struct ReplayOptions {
    std::string log;
    std::string out;
};

bool IsDeviceCommand(const std::string& word) {
    return word == "devices" || word == "import-points" || word == "write-course" ||
           word == "write-firmware" || word == "ymodem";
}

// The recorded command line for the replay: no log, trace or device location of the recorded
// run, no logbook, and the CSV where the replay puts it. Empty when it names no device command.
std::vector<std::string> ReplayArguments(const diag::Recording& rec, const ReplayOptions& o) {
    static const char* const kDropWithValue[] = {"--log", "--device-dir", "--usb-ids", "--out",
                                                 "--logbook"};
    static const char* const kDropFlags[] = {"--trace", "--no-logbook"};
    std::vector<std::string> args;
    std::string command;
    for (std::size_t i = 1; i < rec.args.size(); ++i) {
        const std::string& a = rec.args[i];
        if (command.empty() && IsDeviceCommand(a)) command = a;
        bool dropped = false;
        for (const char* name : kDropWithValue) {
            const std::string n = name;
            if (a == n) {
                ++i;  // and its value
                dropped = true;
            } else if (a.rfind(n + "=", 0) == 0) {
                dropped = true;
            }
        }
        for (const char* name : kDropFlags) dropped = dropped || a == name;
        if (!dropped) args.push_back(a);
    }
    if (command.empty()) return {};
    // A window's log names only the job; the file came from its dialog.
    if (rec.args.size() == 2 && command != "import-points" && command != "devices" &&
        !rec.chosenFile.empty()) {
        args.push_back(rec.chosenFile);
    }
    if (command == "import-points") {
        args.push_back("--no-logbook");
        if (!o.out.empty()) {
            args.push_back("--out");
            args.push_back(o.out);
        }
    }
    return args;
}

void RunReplay(CommandContext& ctx, const ReplayOptions& o) {
    diag::Recording rec;
    try {
        rec = diag::ReadRecording(o.log);
    } catch (const std::exception& e) {
        return ctx.Fail(kCommand, o.log + ": " + e.what());
    }
    std::vector<std::string> args = ReplayArguments(rec, o);
    if (args.empty()) {
        return ctx.Fail(kCommand, o.log + ": the recorded command is not a device job");
    }
    if (!o.out.empty() && std::find(args.begin(), args.end(), "import-points") == args.end()) {
        return ctx.Fail(kCommand, "--out applies to a recorded import-points only");
    }

    auto link = std::make_shared<diag::ReplayLink>(rec);
    transport::SetStandInLink(link);
    CommandContext inner;
    inner.out = ctx.out;
    inner.err = ctx.err;
    inner.images = ctx.images;
    CLI::App app{"replayed command", "caddora-cli"};
    app.require_subcommand(1);
    AddRegisteredCommands(app, inner);
    std::reverse(args.begin(), args.end());
    try {
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        transport::SetStandInLink(nullptr);
        return ctx.Fail(kCommand,
                        o.log + ": the recorded command line does not parse here: " + e.what());
    } catch (const std::exception& e) {
        transport::SetStandInLink(nullptr);
        return ctx.Fail(kCommand, e.what());
    }
    transport::SetStandInLink(nullptr);
    ctx.exitCode = inner.exitCode;
    if (const auto difference = link->FinalDifference()) {
        return ctx.Fail(kCommand, "the job no longer does what was recorded: " + *difference);
    }
    if (inner.exitCode != rec.exitStatus) {
        *ctx.err << "caddora-cli replay: the recorded run ended with exit status " << rec.exitStatus
                 << ", the replay with " << inner.exitCode << '\n';
    }
}

void AddReplayCommand(CLI::App& app, CommandContext& ctx) {
    auto o = std::make_shared<ReplayOptions>();
    CLI::App* cmd = app.add_subcommand(
        "replay",
        "Run the job of a session log (--log) again with no device attached: the recorded "
        "navigator answers as it did. Stops at the first frame the job sends differently.");
    cmd->add_option("LOG", o->log, "Session log")->required()->check(CLI::ExistingFile);
    cmd->add_option("--out", o->out, "CSV file of a replayed import (as for import-points)")
        ->type_name("FILE");
    cmd->footer("Example:\n  caddora-cli replay import.log --out replayed.csv");
    cmd->callback([o, &ctx] { RunReplay(ctx, *o); });
}

}  // namespace

static const CommandRegistration kReplay(kOrderReplay, AddReplayCommand);

}  // namespace cli

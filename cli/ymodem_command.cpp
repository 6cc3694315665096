// ymodem: the firmware transfer by YMODEM from a terminal. Builds the window logic over a
// TerminalView, starts the transfer like a click and runs the posted calls until it ends.
#include <cstdlib>

#include "app/main.h"
#include "app/session_view.h"
#include "cli/commands.h"
#include "cli/device_diagnosis.h"
#include "cli/device_probe.h"
#include "cli/failure_text.h"
#include "cli/json_line.h"
#include "cli/preflight.h"
#include "cli/terminal_view.h"
#include "platform/console.h"

namespace cli {

namespace {

constexpr const char* kCommand = "ymodem";

struct YmodemOptions {
    std::string file;
    bool json = false;
    std::string deviceDir;
};

// `bytes`: the payload's size once the transfer knew it, else -1.
void Finish(CommandContext& ctx, const YmodemOptions& o, bool ok, const std::string& detail,
            int64_t bytes = -1) {
    if (o.json) {
        JsonLine result;
        result.Add("type", "result").Add("command", kCommand).Add("ok", ok);
        if (bytes >= 0) result.Add("bytes", bytes);
        if (!detail.empty()) result.Add("detail", detail);
        *ctx.out << result.Str() << std::endl;
        if (!ok) ctx.exitCode = kExitFailure;
    } else if (ok) {
        *ctx.out << detail << std::endl;
    } else {
        ctx.Fail(kCommand, detail);
    }
}

// Why the transfer failed: the file's fault or what the navigator did.
std::string FailureDetail(const std::optional<JobResult>& result) {
    if (!result) return "the transfer did not complete";
    if (!result->detail.empty() && result->failure != JobFailure::Unexpected &&
        result->failure != JobFailure::RefusedFile) {
        return result->detail + "; nothing was sent";
    }
    return FailureText(*result);
}

void RunYmodem(CommandContext& ctx, const YmodemOptions& o) {
    if (const std::string refusal = PreflightYmodem(o.file); !refusal.empty()) {
        return Finish(ctx, o, false, refusal);
    }
    const platform::Settings settings = platform::ResolveSettings(o.deviceDir);
    const std::vector<std::string> paths = AttachedDevicePaths(settings);
    if (paths.empty()) return Finish(ctx, o, false, NoNavigatorText(settings));
    TerminalView::Options vo;
    vo.out = ctx.out;
    vo.err = ctx.err;
    vo.json = o.json;
    vo.errIsTerminal = platform::StderrIsTerminal() && ctx.err == &std::cerr;
    vo.unit = "bytes";
    vo.subject = ProgressSubject{"firmware by YMODEM", "byte"};
    vo.fileAnswer = o.file;
    // The first Ctrl-C stops the transfer with the cancel sequence; a second one ends at once.
    platform::InstallInterruptHandler();
    TerminalView view(vo);

    bool started = false;
    {
        SessionView logged(view);
        Main main(logged, settings);
        main.recheckAfterJob = false;
        view.RunWhile([&main] { return main.QueryRunning(); });
        started = main.StartYmodemTransfer(o.file);
        if (started) {
            view.RunUntilJobEnd([&main] { return main.JobRunning(); },
                                [&main] {
                                    if (platform::InterruptSignal() != 0) main.RequestStop();
                                });
        } else {
            view.RunPosted();
        }
    }
    if (!started) {
        return Finish(ctx, o, false, CannotOpenText(paths.front()));
    }
    const std::optional<JobResult> result = view.Result();
    const bool ok = result && result->Done();
    const int64_t size = result ? result->bytesTotal : -1;
    Finish(ctx, o, ok,
           ok ? "sent " + std::to_string(size) + " bytes of " + o.file : FailureDetail(result),
           size);
    if (!ok && platform::InterruptSignal() != 0) ctx.exitCode = platform::InterruptSignal();
    platform::InterruptHandled();
}

void AddYmodemCommand(CLI::App& app, CommandContext& ctx) {
    auto o = std::make_shared<YmodemOptions>();
    CLI::App* cmd = app.add_subcommand(
        "ymodem",
        "Send a packed firmware file (.ckfm, package type 3) by YMODEM: the navigator is "
        "switched into update mode, then receives the unpacked payload.");
    cmd->add_option("FILE", o->file, "Packed firmware file")->required()->check(CLI::ExistingFile);
    cmd->add_flag("--json", o->json,
                  "One JSON object per line on stdout (progress, message, result)");
    cmd->add_option("--device-dir", o->deviceDir,
                    "Device directory (default $CADDORA_DEVICE_DIR, else /dev/caddora)");
    cmd->callback([o, &ctx] { RunYmodem(ctx, *o); });
}

}  // namespace

static const CommandRegistration kYmodem(kOrderYmodem, AddYmodemCommand);

}  // namespace cli

#include "cli/session_log_option.h"

#include <iostream>
#include <mutex>

#include "caddora_version.h"
#include "cli/commands.h"
#include "transport/sync_stream.h"

namespace cli {

namespace {

struct LogOptions {
    std::string path;
    bool trace = false;
};

std::mutex stateMutex;
std::vector<std::string> commandLine;
std::shared_ptr<diag::SessionLog> sessionLog;

constexpr const char* kDeviceCommands[] = {"devices", "import-points", "write-course",
                                           "write-firmware", "ymodem"};

const char* OsName() {
#ifdef _WIN32
    return "Windows";
#elif defined(__linux__)
    return "Linux";
#else
    return "POSIX";
#endif
}

void StartSessionLog(const LogOptions& o, std::ostream& err) {
    auto log = std::make_shared<diag::SessionLog>(
        o.path, o.trace ? stderr : nullptr, [&err](const std::string& warning) {
            err << "caddora-cli: warning: " << warning << std::endl;
        });
    std::lock_guard<std::mutex> lock(stateMutex);
    log->Header({std::string("caddora-cli ") + kCaddoraVersion, OsName(), commandLine});
    sessionLog = log;
    SyncStream::LogEveryStream(log);
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

std::shared_ptr<diag::SessionLog> CurrentSessionLog() {
    std::lock_guard<std::mutex> lock(stateMutex);
    return sessionLog;
}

void EndSessionLog(int exitCode) {
    std::shared_ptr<diag::SessionLog> log;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        log = std::move(sessionLog);
        sessionLog.reset();
    }
    if (!log) return;
    SyncStream::LogEveryStream(nullptr);
    log->Exit(exitCode);
}

std::string ResultText(const JobResult& result) {
    std::string text =
        result.Done() ? "done" : std::string("failed ") + JobFailureName(result.failure);
    if (result.framesTotal > 0) {
        text += " frames " + std::to_string(result.framesAcknowledged) + " of " +
                std::to_string(result.framesTotal);
    }
    if (result.bytesTotal >= 0) {
        text += " bytes " + std::to_string(result.bytesSent) + " of " +
                std::to_string(result.bytesTotal);
    }
    if (result.job == JobKind::PointImport || result.rowsWritten > 0) {
        text += " records " + std::to_string(result.RecordsRead()) + " rows " +
                std::to_string(result.rowsWritten);
    }
    if (!result.detail.empty()) text += ": " + result.detail;
    return text;
}

// --- SessionView -----------------------------------------------------------------------------

void SessionView::Progress(const char* what) {
    if (log_)
        log_->Phase(std::string(what) + " " + std::to_string(value_) + " of " +
                    std::to_string(maximum_));
}

void SessionView::SetProgressMaximum(int32_t maximum) {
    maximum_ = maximum;
    inner_.SetProgressMaximum(maximum);
}

void SessionView::SetProgressValue(int32_t value) {
    value_ = value;
    Progress("progress");
    inner_.SetProgressValue(value);
}

void SessionView::StepProgress() {
    if (value_ < maximum_) ++value_;
    Progress("step");
    inner_.StepProgress();
}

void SessionView::SetProgressRange(int32_t maximum, int32_t value) {
    maximum_ = maximum;
    value_ = value;
    Progress("frames");
    inner_.SetProgressRange(maximum, value);
}

void SessionView::ShowMessage(const std::string& text, const std::string& caption,
                              MessageIcon icon) {
    if (log_) log_->Message(caption.empty() ? text : caption + ": " + text);
    inner_.ShowMessage(text, caption, icon);
}

void SessionView::SetLabelPackets(const std::string& text) {
    if (log_) log_->Phase("packets " + text);
    inner_.SetLabelPackets(text);
}

void SessionView::JobEnded(const JobResult& result) {
    if (log_) log_->Result(ResultText(result));
    inner_.JobEnded(result);
}

static const CommandRegistration kSessionLog(kOrderSessionLog, AddSessionLogOptions);

}  // namespace cli

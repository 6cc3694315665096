// devices, import-points, write-course and write-firmware: the window's jobs from a terminal.
// Each command builds the window logic (Main) over a TerminalView, clicks the job's button and
// runs the posted calls on this thread until the job has ended.
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "app/course_file_table.h"
#include "app/main.h"
#include "app/session_view.h"
#include "app/point_area.h"
#include "app/point_logbook.h"
#include "cli/commands.h"
#include "cli/device_diagnosis.h"
#include "cli/device_probe.h"
#include "cli/failure_text.h"
#include "cli/import_files.h"
#include "cli/json_line.h"
#include "cli/logbook_option.h"
#include "cli/preflight.h"
#include "cli/terminal_view.h"
#include "cli/usb_ids_option.h"
#include "platform/console.h"
#include "platform/local_time.h"
#include "platform/output_file.h"
#include "platform/utf8_paths.h"
#include "protocol/patch_upload.h"
#include "transport/usb_link.h"

namespace cli {

namespace {

enum class Job { ImportPoints, WriteCourse, WriteFirmware };

struct CommonOptions {
    bool json = false;
    std::string deviceDir;
    std::optional<std::string> usbIds;
};

struct JobOptions {
    CommonOptions common;
    std::string file;  // write-course, write-firmware
    std::string out;   // import-points
    std::vector<std::string> formats;
    std::string start;
    std::string length;
    std::string patchImage;  // import-points, write-course
    std::string logbook;     // import-points
    bool noLogbook = false;
};

const char* CommandName(Job job) {
    switch (job) {
        case Job::ImportPoints:
            return "import-points";
        case Job::WriteCourse:
            return "write-course";
        case Job::WriteFirmware:
            return "write-firmware";
    }
    return "?";
}

void AddCommonOptions(CLI::App* cmd, CommonOptions& o) {
    cmd->add_flag("--json", o.json,
                  "One JSON object per line on stdout (progress, message, result)");
    cmd->add_option("--device-dir", o.deviceDir,
                    "Device directory (default $CADDORA_DEVICE_DIR, else /dev/caddora)")
        ->type_name("DIR");
    AddUsbIdsOption(cmd, o.usbIds);
}

// The run's settings; nothing (and the command failed) when the USB ids that decide are
// malformed.
std::optional<platform::Settings> CommandSettings(CommandContext& ctx, const char* command,
                                                  const CommonOptions& o) {
    platform::Settings settings = platform::ResolveSettings(o.deviceDir);
    const platform::ResolvedUsbIds ids = platform::ResolveUsbIdsSetting(o.usbIds);
    if (!ids.error.empty()) {
        ctx.Fail(command, ids.error);
        return std::nullopt;
    }
    settings.usbIds = ids.ids;
    return settings;
}

void AddPatchImageOption(CLI::App* cmd, JobOptions& o) {
    cmd->add_option("--patch-image", o.patchImage,
                    "The navigator's patch program (patch_image.bin), loaded in boot-loader mode; "
                    "default: CADDORA_PATCH_IMAGE, then the folders the README lists")
        ->type_name("FILE");
}

// Adds an import's points to the logbook once its files are in place. A logbook that cannot
// be opened or written costs the import nothing: a warning line, and the files stay as they are.
void AddToLogbook(CommandContext& ctx, const JobOptions& o, const std::optional<JobResult>& result,
                  JsonLine& json) {
    if (!LogbookAvailable() || o.noLogbook || !result || !result->csvKept ||
        result->points.empty()) {
        return;
    }
    const LogbookLocation where =
        ChooseLogbook(o.logbook, platform::EnvironmentText("CADDORA_LOGBOOK").c_str());
    const LogbookAddition addition = AddImportToLogbook(*result, where);
    if (!addition.problem.empty()) {
        *ctx.err << "caddora-cli import-points: warning: the points were not added to the logbook: "
                 << addition.problem << std::endl;
        return;
    }
    json.Add("logbookAdded", addition.added).Add("logbookAlreadyThere", addition.alreadyThere);
    if (!o.common.json) {
        *ctx.err << "logbook " << where.path << ": " << addition.added
                 << (addition.added == 1 ? " point" : " points") << " added, "
                 << addition.alreadyThere << " already in the logbook" << std::endl;
    }
}

// Ends a command: the failure or success line, or the JSON result object.
void Finish(CommandContext& ctx, const CommonOptions& o, Job job, bool ok,
            const std::string& detail, JsonLine result = {}) {
    const char* command = CommandName(job);
    if (o.json) {
        result.Add("type", "result").Add("command", command).Add("ok", ok);
        if (!detail.empty()) result.Add("detail", detail);
        *ctx.out << result.Str() << std::endl;
        if (!ok) ctx.exitCode = kExitFailure;
        return;
    }
    if (ok) {
        if (!detail.empty()) *ctx.out << detail << std::endl;
    } else {
        ctx.Fail(command, detail);
    }
}

// Why a click started nothing, in words a user can act on.
std::string NoJobReason(Job job, const Main& main, const std::vector<std::string>& paths,
                        const platform::Settings& settings) {
    if (paths.empty()) return NoNavigatorText(settings);
    if (job != Job::WriteFirmware && !main.RunsNormalFirmware() && !main.HasPatchImage()) {
        return "nothing was sent: the navigator runs its boot loader, which needs the patch "
               "program";
    }
    if (job == Job::WriteFirmware && main.RunsNormalFirmware()) {
        return "the navigator at " + paths.front() +
               " does not run its boot loader; firmware can be written only in boot-loader "
               "mode (see 'caddora-cli devices')";
    }
    const UsbOpenFailure failure = LastUsbOpenFailure();
    if (failure.path == paths.front()) return "cannot open " + failure.text;
    return CannotOpenText(paths.front());
}

// Which files import-points writes; a combination naming no file or one file twice is a usage
// error.
ImportFiles ImportFilesOf(const JobOptions& o) {
    std::string usage;
    const std::string stem =
        platform::PathToUtf8(std::filesystem::current_path() / platform::LocalTimestamp());
    auto files = PlanImportFiles(o.formats, o.out, stem, usage);
    if (!files) throw CLI::ValidationError("--out", usage);
    return *files;
}

// The end of an import that wrote maps too: one line (or JSON object) naming every file.
void FinishImportWithMaps(CommandContext& ctx, const JobOptions& options, const ImportFiles& files,
                          const std::optional<JobResult>& result) {
    const CommonOptions& o = options.common;
    ImportSummary summary = SaveImportMaps(files, result);
    JsonLine json;
    AddToLogbook(ctx, options, result, json);
    for (const auto& [key, path] : summary.files) json.Add(key, path);
    if (summary.rows) json.Add("rows", *summary.rows);
    json.Add("points", summary.points);
    if (result && !result->Done()) {
        json.Add("failure", JobFailureName(result->failure));
        summary.detail = FailureText(*result) + "; " + summary.detail;
    }
    Finish(ctx, o, Job::ImportPoints, summary.ok, summary.detail, std::move(json));
}

// Why a job failed, as the summary line says it.
std::string FailureDetail(const std::optional<JobResult>& result) {
    if (!result) return "the job ended without a result; nothing was written";
    return FailureText(*result);
}

// The import's summary: where the rows are, or why there are none.
std::string ImportDetail(const JobResult& result, const std::string& shownPath) {
    const int64_t rows = result.rowsWritten;
    const std::string count = std::to_string(rows) + (rows == 1 ? " row" : " rows");
    if (result.Done()) return "points written to " + shownPath + " (" + count + ")";
    const std::string kept = result.csvKept ? "the " + count + " read before are in " + shownPath
                                            : shownPath + " was not written";
    return FailureText(result) + "; " + kept;
}

std::string Preflight(Job job, const JobOptions& o) {
    switch (job) {
        case Job::ImportPoints:
            return PreflightImportPoints(o.out);
        case Job::WriteCourse:
            return PreflightWriteCourse(o.file);
        case Job::WriteFirmware:
            return PreflightWriteFirmware(o.file);
    }
    return {};
}

// import-points --out - (or /dev/stdout): the CSV file is the program's output, so all else
// goes to stderr; JSON objects and maps beside the file have no place then.
bool CsvToStandardOutput(Job job, const JobOptions& o) {
    if (job != Job::ImportPoints || o.out.empty() || !platform::NamesStandardOutput(o.out)) {
        return false;
    }
    if (o.common.json) {
        throw CLI::ValidationError("--out", "--out " + o.out +
                                                " writes the CSV rows to standard output, where "
                                                "--json writes its objects; use one of them");
    }
    for (const std::string& format : o.formats) {
        if (format != "csv") {
            throw CLI::ValidationError(
                "--out", "--out " + o.out + " writes the CSV rows alone; maps need a file name");
        }
    }
    return true;
}

// A job stopped by Ctrl-C or a termination request ends with the status that says so, set
// when the command's summary has been written.
class InterruptStatus {
public:
    InterruptStatus(CommandContext& ctx, bool ok) : ctx_(ctx), ok_(ok) {}
    ~InterruptStatus() {
        const int signal = platform::InterruptSignal();
        if (signal != 0 && !ok_) ctx_.exitCode = signal;
        platform::InterruptHandled();
    }
    InterruptStatus(const InterruptStatus&) = delete;
    InterruptStatus& operator=(const InterruptStatus&) = delete;

private:
    CommandContext& ctx_;
    bool ok_;
};

void RunJob(CommandContext& ctx, Job job, const JobOptions& o) {
    const bool csvToStdout = CsvToStandardOutput(job, o);
    if (csvToStdout) ctx.out = ctx.err;
    if (const std::string refusal = csvToStdout ? std::string() : Preflight(job, o);
        !refusal.empty()) {
        return Finish(ctx, o.common, job, false, refusal);
    }
    const auto resolved = CommandSettings(ctx, CommandName(job), o.common);
    if (!resolved) return;
    const platform::Settings& settings = *resolved;
    TerminalView::Options vo;
    vo.out = ctx.out;
    vo.err = ctx.err;
    vo.json = o.common.json;
    vo.errIsTerminal = platform::StderrIsTerminal() && ctx.err == &std::cerr;
    vo.unit = job == Job::ImportPoints ? "records" : "frames";
    // The import reports the index of the record just read, and ends at the first erased one.
    vo.subject = job == Job::ImportPoints  ? ProgressSubject{"points", "record", true, true}
                 : job == Job::WriteCourse ? ProgressSubject{"course data", "frame"}
                                           : ProgressSubject{"firmware", "frame"};
    if (job != Job::ImportPoints) vo.fileAnswer = o.file;
    if (job == Job::WriteCourse) {
        vo.wholeFileFrames = CourseFrameCount(o.file, CourseFileKind(o.file)).value_or(0);
    }
    if (!o.start.empty()) vo.settings[Setting::textUpAddr] = o.start;
    if (!o.length.empty()) vo.settings[Setting::textUpLen] = o.length;

    // A patch program named on the command line must be right, whatever the device runs.
    const images::FoundImage patch = ctx.images.PatchImage(o.patchImage);
    if (!o.patchImage.empty() && !patch.ok()) {
        return Finish(ctx, o.common, job, false, patch.refusal);
    }

    std::optional<ImportFiles> files;
    if (job == Job::ImportPoints) files = ImportFilesOf(o);
    const std::vector<std::string> paths = AttachedDevicePaths(settings);
    if (paths.empty()) return Finish(ctx, o.common, job, false, NoNavigatorText(settings));

    // From here on the first Ctrl-C (or termination request) stops the job the way a failure
    // does; a second one ends the program at once.
    platform::InstallInterruptHandler();
    TerminalView view(vo);
    std::string csvPath;
    bool started = false;
    std::optional<ScratchFolder> scratch;
    {
        SessionView logged(view);
        Main main(logged, settings);
        main.recheckAfterJob = false;
        main.SetPatchImage(patch);
        view.RunWhile([&main] { return main.QueryRunning(); });
        if (job == Job::ImportPoints) {
            if (!files->keepCsv) scratch.emplace();
            csvPath = files->keepCsv ? files->csvPath : scratch->File("points.csv");
            main.pointCsvPath = csvPath;
            main.buttonUpdata_Click();
        } else if (job == Job::WriteCourse) {
            main.buttonKroDown_Click();
        } else {
            main.buttonFwDown_Click();
            view.RunWhile([&main] { return main.QueryRunning(); });
        }
        // Every handler hands the job its buffer just before the thread starts.
        started = main.JobHandedOver();
        if (started) {
            view.RunUntilJobEnd([&main] { return main.JobRunning(); },
                                [&main] {
                                    if (platform::InterruptSignal() != 0) main.RequestStop();
                                });
        }
        if (!started) {
            view.RunPosted();
            const InterruptStatus status(ctx, false);
            return Finish(ctx, o.common, job, false, NoJobReason(job, main, paths, settings));
        }
    }

    const std::optional<JobResult> result = view.Result();
    const bool ok = result && result->Done();
    const InterruptStatus status(ctx, ok);
    JsonLine json;
    std::string detail;
    if (result && !ok) json.Add("failure", JobFailureName(result->failure));
    if (job == Job::ImportPoints && !files->maps.empty()) {
        return FinishImportWithMaps(ctx, o, *files, result);
    }
    if (job == Job::ImportPoints) {
        AddToLogbook(ctx, o, result, json);
        const int64_t rows = result ? result->rowsWritten : 0;
        json.Add("file", csvPath).Add("rows", rows);
        const std::string shown = csvToStdout ? std::string("standard output") : csvPath;
        detail = result ? ImportDetail(*result, shown) : FailureDetail(result);
    } else if (!ok) {
        detail = FailureDetail(result);
    }
    Finish(ctx, o.common, job, ok, detail, std::move(json));
}

void RunDevices(CommandContext& ctx, const CommonOptions& o) {
    const auto resolved = CommandSettings(ctx, "devices", o);
    if (!resolved) return;
    const platform::Settings& settings = *resolved;
    const std::vector<std::string> paths = AttachedDevicePaths(settings);
    if (paths.empty()) {
        if (o.json) {
            *ctx.out << JsonLine()
                            .Add("type", "result")
                            .Add("command", "devices")
                            .Add("ok", false)
                            .Add("detail", NoNavigatorText(settings))
                            .Str()
                     << std::endl;
            ctx.exitCode = kExitFailure;
        } else {
            ctx.Fail("devices", NoNavigatorText(settings));
        }
        return;
    }
    for (const std::string& path : paths) {
        const ProbedDevice device = ProbeDevice(path);
        if (o.json) {
            *ctx.out << JsonLine()
                            .Add("type", "device")
                            .Add("path", device.path)
                            .Add("link", LinkKindKey(device.kind))
                            .Add("mode", NavigatorModeKey(device.mode))
                            .Add("description", NavigatorModeName(device.mode))
                            .Add("version", device.versionText)
                            .Add("problem", device.problem)
                            .Str()
                     << std::endl;
        } else {
            *ctx.out << ShownText(device.path) << "  " << LinkKindName(device.kind) << "  "
                     << NavigatorModeName(device.mode);
            if (!device.versionText.empty()) {
                *ctx.out << "  (" << ShownText(device.versionText) << ')';
            }
            if (!device.problem.empty()) *ctx.out << ": " << ShownText(device.problem);
            *ctx.out << std::endl;
        }
    }
    for (const std::string& path : SkippedDevicePaths(settings)) {
        if (o.json) {
            *ctx.out << JsonLine()
                            .Add("type", "skipped")
                            .Add("path", path)
                            .Add("problem", SkippedReason())
                            .Str()
                     << std::endl;
        } else {
            *ctx.out << ShownText(path) << "  skipped: " << SkippedReason() << std::endl;
        }
    }
    if (o.json) {
        *ctx.out << JsonLine()
                        .Add("type", "result")
                        .Add("command", "devices")
                        .Add("ok", true)
                        .Add("count", static_cast<int64_t>(paths.size()))
                        .Str()
                 << std::endl;
    }
}

// Validators of the hidden settings the import options feed.
std::string CheckHex(const std::string& text) {
    return ParsePatchEntryAddress(text) ? std::string()
                                        : "must be a hexadecimal address of at most 8 digits";
}
std::string CheckLength(const std::string& text) {
    return ParseAreaLength(text) ? std::string() : "must be a byte count from 0 to 4294967295";
}

void AddJobCommands(CLI::App& app, CommandContext& ctx) {
    auto devices = std::make_shared<CommonOptions>();
    CLI::App* devCmd =
        app.add_subcommand("devices",
                           "List the attached navigators and what each runs (boot loader, patch "
                           "program, normal firmware, or not answering).");
    AddCommonOptions(devCmd, *devices);
    devCmd->footer("Example:\n  caddora-cli devices --device-dir /tmp/nav");
    devCmd->callback([devices, &ctx] { RunDevices(ctx, *devices); });

    auto import = std::make_shared<JobOptions>();
    CLI::App* importCmd = app.add_subcommand(
        "import-points",
        "Read the saved points into a CSV file (default: yyyyMMdd_HHmmss.csv in the current "
        "folder).");
    importCmd
        ->add_option("--out", import->out,
                     "CSV file to write, '-' for stdout (without csv: the one map)")
        ->type_name("FILE");
    importCmd
        ->add_option("--format", import->formats,
                     "File to write, repeatable: csv (default), gpx, kml; maps go beside the "
                     "CSV file with its name")
        ->check(CLI::IsMember({"csv", "gpx", "kml"}))
        ->type_name("csv|gpx|kml")
        ->take_all();
    importCmd->add_option("--start", import->start, "Start of the point area (hexadecimal, 0)")
        ->type_name("HEX")
        ->check(CLI::Validator(CheckHex, ""));
    importCmd->add_option("--length", import->length, "Length of the point area in bytes (786432)")
        ->type_name("N")
        ->check(CLI::Validator(CheckLength, ""));
    AddPatchImageOption(importCmd, *import);
    importCmd->add_option("--logbook", import->logbook, kLogbookOptionHelp)->type_name("FILE");
    importCmd->add_flag("--no-logbook", import->noLogbook, "Do not add the points to the logbook");
    AddCommonOptions(importCmd, import->common);
    importCmd->footer(
        "Examples:\n  caddora-cli import-points --out points.csv\n"
        "  caddora-cli import-points --format csv --format gpx --format kml --out points.csv");
    importCmd->callback([import, &ctx] { RunJob(ctx, Job::ImportPoints, *import); });

    auto course = std::make_shared<JobOptions>();
    CLI::App* courseCmd = app.add_subcommand(
        "write-course",
        "Write a course-data file into the navigator's flash; its name decides where "
        "(kx20x20.bin, jis.bin, kx10x20.bin, index4.dat, packed.k16, index4.kzip).");
    courseCmd->add_option("FILE", course->file, "Course-data file")
        ->required()
        ->check(ExistingFile());
    AddPatchImageOption(courseCmd, *course);
    AddCommonOptions(courseCmd, course->common);
    courseCmd->footer("Example:\n  caddora-cli write-course data/index4.kzip");
    courseCmd->callback([course, &ctx] { RunJob(ctx, Job::WriteCourse, *course); });

    auto firmware = std::make_shared<JobOptions>();
    CLI::App* fwCmd = app.add_subcommand(
        "write-firmware",
        "Write a packed firmware file (.ckfm) while the navigator runs its boot loader.");
    fwCmd->add_option("FILE", firmware->file, "Packed firmware file")
        ->required()
        ->check(ExistingFile());
    AddCommonOptions(fwCmd, firmware->common);
    fwCmd->footer("Example:\n  caddora-cli write-firmware update.ckfm");
    fwCmd->callback([firmware, &ctx] { RunJob(ctx, Job::WriteFirmware, *firmware); });
}

}  // namespace

static const CommandRegistration kDevices(kOrderDevices, AddJobCommands);

}  // namespace cli

// logbook add, rounds, round and report: the golfer's logbook of saved points.
#if CADDORA_HAVE_LOGBOOK
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/commands.h"
#include "cli/json_line.h"
#include "cli/logbook_option.h"
#include "export/rounds.h"
#include "export/utc_time.h"
#include "logbook/csv_import.h"
#include "logbook/report_html.h"
#include "logbook/round_list.h"
#include "platform/output_file.h"
#include "platform/utf8_paths.h"

namespace cli {

namespace {

struct LogbookOptions {
    std::string logbook;
    bool json = false;
    std::vector<std::string> files;
    int64_t round = 0;
    std::vector<int64_t> rounds;
    std::string out;
};

void AddLogbookOption(CLI::App* cmd, LogbookOptions& o) {
    cmd->add_option("--logbook", o.logbook, kLogbookOptionHelp)->type_name("FILE");
}

// The logbook, or nothing after a failure line.
std::unique_ptr<logbook::Logbook> OpenLogbook(CommandContext& ctx, const char* command,
                                              const std::string& option) {
    const std::string path =
        logbook::LogbookPath(option, platform::EnvironmentText("CADDORA_LOGBOOK").c_str());
    if (path.empty()) {
        ctx.Fail(command, "no folder for the logbook is known; name one with --logbook FILE");
        return nullptr;
    }
    try {
        return std::make_unique<logbook::Logbook>(path, option.empty());
    } catch (const logbook::LogbookError& e) {
        ctx.Fail(command, e.what());
        return nullptr;
    }
}

std::string JsonArray(const std::vector<std::string>& texts) {
    std::string json = "[";
    for (const std::string& t : texts) json += (json.size() > 1 ? "," : "") + JsonString(t);
    return json + "]";
}

std::string Joined(const std::vector<std::string>& texts) {
    std::string joined;
    for (const std::string& t : texts) joined += (joined.empty() ? "" : ", ") + t;
    return joined;
}

JsonLine RoundJson(const logbook::RoundSummary& r) {
    JsonLine json;
    json.Add("type", "round")
        .Add("id", r.id)
        .Add("date", r.date)
        .Add("golfCourse", r.golfCourseName)
        .AddRaw("courses", JsonArray(r.courses))
        .Add("holes", int64_t{r.holes})
        .Add("shots", int64_t{r.shots})
        .Add("putts", int64_t{r.putts});
    return json;
}

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void RunAdd(CommandContext& ctx, const LogbookOptions& o) {
    auto book = OpenLogbook(ctx, "logbook add", o.logbook);
    if (!book) return;
    logbook::AddCounts total;
    for (const std::string& file : o.files) {
        try {
            const logbook::CsvAddResult r = logbook::AddCsvFile(*book, file);
            if (!r.ok()) {
                ctx.Fail("logbook add", r.error);
                continue;
            }
            total.added += r.counts.added;
            total.alreadyThere += r.counts.alreadyThere;
        } catch (const logbook::LogbookError& e) {
            return ctx.Fail("logbook add", e.what());
        }
    }
    *ctx.out << total.added << (total.added == 1 ? " point" : " points") << " added, "
             << total.alreadyThere << " already in the logbook" << std::endl;
}

std::optional<std::vector<logbook::RoundSummary>> Rounds(CommandContext& ctx, const char* command,
                                                         const std::string& option) {
    auto book = OpenLogbook(ctx, command, option);
    if (!book) return std::nullopt;
    try {
        return logbook::GroupRounds(book->TimedPoints());
    } catch (const logbook::LogbookError& e) {
        ctx.Fail(command, e.what());
        return std::nullopt;
    }
}

void RunRounds(CommandContext& ctx, const LogbookOptions& o) {
    const auto rounds = Rounds(ctx, "rounds", o.logbook);
    if (!rounds) return;
    for (const logbook::RoundSummary& r : *rounds) {
        if (o.json) {
            *ctx.out << RoundJson(r).Str() << '\n';
        } else {
            *ctx.out << r.id << "  " << r.date << "  " << r.golfCourseName << "  ("
                     << Joined(r.courses) << ")  " << r.holes
                     << (r.holes == 1 ? " hole, " : " holes, ") << r.shots
                     << (r.shots == 1 ? " shot, " : " shots, ") << r.putts
                     << (r.putts == 1 ? " putt" : " putts") << '\n';
        }
    }
    if (rounds->empty() && !o.json) *ctx.out << "no rounds in the logbook\n";
    ctx.out->flush();
}

void RunRound(CommandContext& ctx, const LogbookOptions& o) {
    const auto rounds = Rounds(ctx, "round", o.logbook);
    if (!rounds) return;
    const auto it = std::find_if(rounds->begin(), rounds->end(),
                                 [&](const logbook::RoundSummary& r) { return r.id == o.round; });
    if (it == rounds->end()) {
        return ctx.Fail("round", "no round " + std::to_string(o.round) +
                                     " in the logbook (see 'caddora-cli rounds')");
    }
    const logbook::RoundSummary& r = *it;
    if (o.json) {
        *ctx.out << RoundJson(r).Str() << '\n';
    } else {
        *ctx.out << "Round " << r.id << ": " << r.date << "  " << r.golfCourseName << "  ("
                 << Joined(r.courses) << ")\n";
    }
    for (const logbook::PlayedHole& hole : logbook::Scorecard(r)) {
        if (!o.json) {
            *ctx.out << '\n'
                     << hole.courseName << ", hole " << hole.holeNo << ": " << hole.shots
                     << (hole.shots == 1 ? " shot, " : " shots, ") << hole.putts
                     << (hole.putts == 1 ? " putt" : " putts") << '\n';
        }
        for (const logbook::HolePoint& hp : hole.points) {
            const mapexport::ExportPoint& p = hp.stored.point;
            const mapexport::PointKind kind = mapexport::KindOf(p);
            const char* kindName = kind == mapexport::PointKind::Shot   ? "shot"
                                   : kind == mapexport::PointKind::Putt ? "putt"
                                                                        : "other";
            const std::string time = mapexport::UtcText(*hp.stored.utc);
            if (o.json) {
                JsonLine json;
                json.Add("type", "point")
                    .Add("course", p.courseName)
                    .Add("hole", int64_t{p.holeNo})
                    .Add("kind", kindName)
                    .Add("time", time)
                    .AddRaw("lat", mapexport::DegreesText(p.latitude))
                    .AddRaw("lon", mapexport::DegreesText(p.longitude));
                if (hp.toNextMetres) {
                    json.AddRaw("toNextMetres", Fixed(*hp.toNextMetres, 2));
                } else {
                    json.AddRaw("toNextMetres", "null");
                }
                *ctx.out << json.Str() << '\n';
                continue;
            }
            *ctx.out << "  " << time << "  " << kindName << "  "
                     << mapexport::DegreesText(p.latitude) << ", "
                     << mapexport::DegreesText(p.longitude);
            if (hp.toNextMetres) {
                *ctx.out << "  → " << Fixed(*hp.toNextMetres, 1) << " m ("
                         << Fixed(*hp.toNextMetres / logbook::kMetresPerYard, 1) << " yd)";
            }
            *ctx.out << '\n';
        }
    }
    ctx.out->flush();
}

void RunReport(CommandContext& ctx, const LogbookOptions& o) {
    const auto rounds = Rounds(ctx, "report", o.logbook);
    if (!rounds) return;
    std::vector<logbook::RoundSummary> chosen;
    for (int64_t id : o.rounds) {
        const auto it = std::find_if(rounds->begin(), rounds->end(),
                                     [&](const logbook::RoundSummary& r) { return r.id == id; });
        if (it == rounds->end()) {
            return ctx.Fail("report", "no round " + std::to_string(id) + " in the logbook");
        }
        chosen.push_back(*it);
    }
    if (o.rounds.empty()) chosen = *rounds;
    const std::string html = logbook::ReportHtml(chosen);
    try {
        platform::OutputFile file(o.out);
        if (std::fwrite(html.data(), 1, html.size(), file.Stream()) != html.size()) {
            return ctx.Fail("report", "cannot write " + o.out);
        }
        file.Commit();
    } catch (const std::exception& e) {
        return ctx.Fail("report", e.what());
    }
    *ctx.out << "report of " << chosen.size() << (chosen.size() == 1 ? " round" : " rounds")
             << " written to " << o.out << std::endl;
}

void AddLogbookCommands(CLI::App& app, CommandContext& ctx) {
    auto add = std::make_shared<LogbookOptions>();
    CLI::App* logbookCmd =
        app.add_subcommand("logbook", "The golfer's logbook: every saved point once.");
    logbookCmd->require_subcommand(1);
    CLI::App* addCmd = logbookCmd->add_subcommand(
        "add", "Add the points of CSV files written by earlier imports to the logbook.");
    addCmd->add_option("FILE", add->files, "Point CSV files")->required()->type_name("FILE.csv");
    AddLogbookOption(addCmd, *add);
    addCmd->footer("Example:\n  caddora-cli logbook add 20150401_090507.csv");
    addCmd->callback([add, &ctx] { RunAdd(ctx, *add); });

    auto list = std::make_shared<LogbookOptions>();
    CLI::App* roundsCmd =
        app.add_subcommand("rounds", "List the rounds in the logbook, newest first.");
    roundsCmd->add_flag("--json", list->json, "One JSON object per line");
    AddLogbookOption(roundsCmd, *list);
    roundsCmd->callback([list, &ctx] { RunRounds(ctx, *list); });

    auto one = std::make_shared<LogbookOptions>();
    CLI::App* roundCmd = app.add_subcommand(
        "round", "A round's scorecard: per hole its points and the distance to the next.");
    roundCmd->add_option("ID", one->round, "Round id (see 'caddora-cli rounds')")->required();
    roundCmd->add_flag("--json", one->json, "One JSON object per line");
    AddLogbookOption(roundCmd, *one);
    roundCmd->callback([one, &ctx] { RunRound(ctx, *one); });

    auto report = std::make_shared<LogbookOptions>();
    CLI::App* reportCmd = app.add_subcommand(
        "report", "Write an HTML page with each round's scorecard and a drawing of each hole.");
    reportCmd->add_option("--round", report->rounds, "Round id, repeatable (default: all)")
        ->type_name("ID");
    reportCmd->add_option("--out", report->out, "HTML file to write")
        ->required()
        ->type_name("FILE.html");
    AddLogbookOption(reportCmd, *report);
    reportCmd->callback([report, &ctx] { RunReport(ctx, *report); });
}

}  // namespace

static const CommandRegistration kLogbook(kOrderLogbook, AddLogbookCommands);

}  // namespace cli
#endif

// convert: a point CSV file imported earlier into GPX or KML, with true UTC times.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "cli/commands.h"
#include "export/map_format.h"
#include "export/point_csv_reader.h"
#include "platform/replace_file.h"
#include "platform/utf8_paths.h"

namespace cli {

namespace {

namespace fs = std::filesystem;
constexpr const char* kCommand = "convert";
// Far above any navigator's points (4,096 rows of about 200 bytes).
constexpr std::uintmax_t kMaxCsvBytes = 64u << 20;

struct ConvertOptions {
    std::string input;
    std::string to;
    std::string out;
};

// The CSV file's bytes, or nothing after a failure line. Only regular files (or links to one):
// a FIFO or device would block or never end.
std::optional<std::string> ReadCsv(CommandContext& ctx, const std::string& path) {
    const fs::path file = platform::PathFromUtf8(path);
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (ec || !fs::exists(status)) {
        ctx.Fail(kCommand, "cannot read " + path + ": no such file");
        return std::nullopt;
    }
    if (!fs::is_regular_file(status)) {
        ctx.Fail(kCommand, "cannot read " + path + ": not a regular file");
        return std::nullopt;
    }
    if (fs::file_size(file, ec) > kMaxCsvBytes) {
        ctx.Fail(kCommand, path + " is too large for a point CSV file");
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        ctx.Fail(kCommand, "cannot read " + path);
        return std::nullopt;
    }
    return bytes;
}

void RunConvert(CommandContext& ctx, const ConvertOptions& o) {
    const auto format = mapexport::FormatFromName(o.to);
    const auto bytes = ReadCsv(ctx, o.input);
    if (!format || !bytes) return;
    const mapexport::CsvReadResult csv = mapexport::ReadPointCsv(*bytes);
    if (!csv.ok()) {
        return ctx.Fail(kCommand, o.input + ", line " + std::to_string(csv.badLine) + ": " +
                                      csv.problem + "; nothing was written");
    }
    const std::string out =
        !o.out.empty() ? o.out
                       : platform::PathToUtf8(platform::PathFromUtf8(o.input).replace_extension(
                             mapexport::FormatName(*format)));
    std::error_code ec;
    if (fs::equivalent(platform::PathFromUtf8(o.input), platform::PathFromUtf8(out), ec)) {
        return ctx.Fail(kCommand, out + " is the CSV file itself; choose another --out");
    }
    std::string error;
    if (!platform::ReplaceFile(out, mapexport::WriteMap(*format, csv.points), error)) {
        return ctx.Fail(kCommand, error);
    }
    const auto kept = std::count_if(csv.points.begin(), csv.points.end(), mapexport::OnEarth);
    *ctx.out << kept << (kept == 1 ? " point" : " points") << " written to " << out;
    if (const auto left = static_cast<long>(csv.points.size()) - kept; left > 0) {
        *ctx.out << " (" << left << " left out: no position on Earth)";
    }
    *ctx.out << '\n';
}

void AddConvertCommand(CLI::App& app, CommandContext& ctx) {
    auto o = std::make_shared<ConvertOptions>();
    CLI::App* cmd = app.add_subcommand(
        "convert",
        "Convert a point CSV file written by import-points into GPX or KML for maps (times in "
        "UTC from each point's stored offset).");
    cmd->add_option("FILE", o->input, "Point CSV file")->required()->type_name("FILE.csv");
    cmd->add_option("--to", o->to, "Output format")
        ->required()
        ->check(CLI::IsMember({"gpx", "kml"}))
        ->type_name("gpx|kml");
    cmd->add_option("--out", o->out, "File to write (default: FILE with the format's extension)")
        ->type_name("FILE");
    cmd->footer("Example:\n  caddora-cli convert 20150401_090507.csv --to gpx");
    cmd->callback([o, &ctx] { RunConvert(ctx, *o); });
}

}  // namespace

static const CommandRegistration kConvert(kOrderConvert, AddConvertCommand);

}  // namespace cli

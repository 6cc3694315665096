#include "cli/import_files.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "app/point_export.h"
#include "platform/utf8_paths.h"

namespace cli {

std::optional<ImportFiles> PlanImportFiles(const std::vector<std::string>& formats,
                                           const std::string& out, const std::string& stem,
                                           std::string& usage) {
    ImportFiles files;
    files.keepCsv =
        formats.empty() || std::find(formats.begin(), formats.end(), "csv") != formats.end();
    std::vector<mapexport::MapFormat> maps;
    for (const std::string& name : formats) {
        const auto format = mapexport::FormatFromName(name);
        if (format && std::find(maps.begin(), maps.end(), *format) == maps.end()) {
            maps.push_back(*format);
        }
    }
    if (files.keepCsv) {
        files.csvPath = out.empty() ? stem + ".csv" : out;
        for (const auto format : maps) {
            files.maps.push_back({format, PointMapPathBeside(files.csvPath, format)});
            if (files.maps.back().path == files.csvPath) {
                usage = "--out " + out + " would be both the CSV file and the " +
                        std::string(mapexport::FormatName(format)) +
                        " file; name the CSV file with .csv";
                return std::nullopt;
            }
        }
        return files;
    }
    if (!out.empty() && maps.size() != 1) {
        usage =
            "--out names one file: ask for one map format, or add --format csv to name the "
            "CSV file and get the maps beside it";
        return std::nullopt;
    }
    for (const auto format : maps) {
        files.maps.push_back(
            {format, out.empty() ? stem + "." + std::string(mapexport::FormatName(format)) : out});
    }
    return files;
}

ScratchFolder::ScratchFolder() {
    std::random_device seed;
    std::mt19937 rng(seed());
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("caddora-import-" + std::to_string(rng() % 100000000));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = candidate;
            removed_.push_back(
                std::make_unique<platform::RemovedOnAbruptEnd>(platform::PathToUtf8(path_), true));
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch folder in " + platform::PathToUtf8(base));
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ScratchFolder::File(const std::string& name) {
    const std::string path = platform::PathToUtf8(path_ / platform::PathFromUtf8(name));
    removed_.push_back(std::make_unique<platform::RemovedOnAbruptEnd>(path, false));
    return path;
}

namespace {
std::string Count(int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}
}  // namespace

ImportSummary SaveImportMaps(const ImportFiles& files, const std::optional<JobResult>& result) {
    ImportSummary summary;
    const bool done = result && result->Done();
    const std::vector<PointRecord> none;
    const std::vector<PointRecord>& points = result ? result->points : none;
    summary.points = static_cast<int64_t>(points.size());

    std::vector<std::string> written;
    if (files.keepCsv) {
        summary.rows = result ? result->rowsWritten : 0;
        summary.files.emplace_back("file", files.csvPath);
        written.push_back(files.csvPath + " (" + Count(*summary.rows, "row", "rows") + ")");
    }
    // Maps hold what was read, like the CSV file; an import that read nothing leaves them be.
    std::string error;
    bool mapsOk = true;
    if (done || !points.empty()) {
        mapsOk = SavePointMaps(points, files.maps, error);
        if (mapsOk) {
            const auto onEarth = static_cast<int64_t>(std::count_if(
                points.begin(), points.end(),
                [](const PointRecord& r) { return mapexport::OnEarth(ToExportPoint(r)); }));
            for (const PointMapFile& m : files.maps) {
                // Without the CSV file the first map is the import's file.
                const bool first = &m == &files.maps.front();
                const std::string key = !files.keepCsv && first
                                            ? std::string("file")
                                            : std::string(mapexport::FormatName(m.format));
                summary.files.emplace_back(key, m.path);
                written.push_back(m.path + " (" + Count(onEarth, "point", "points") + ")");
            }
        }
    }
    std::string list;
    for (const std::string& w : written) list += (list.empty() ? "" : ", ") + w;
    summary.ok = done && mapsOk;
    if (summary.ok) {
        summary.detail = "points written to " + list;
    } else if (!mapsOk) {
        summary.detail = (list.empty() ? "" : "points written to " + list + "; ") + error;
    } else if (list.empty()) {
        summary.detail = "the import failed before any point was read; no map was written";
    } else {
        summary.detail = "points read before the failure are in " + list;
    }
    return summary;
}

}  // namespace cli

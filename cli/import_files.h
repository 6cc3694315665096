#pragma once
// The files import-points writes, from its --format and --out options: the CSV file as always
// (the default), and maps beside it with the same name and their own extension. Without csv
// among the formats the CSV goes to a scratch folder and --out, if given, names the one map.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/job_result.h"
#include "app/point_maps.h"

namespace cli {

struct ImportFiles {
    bool keepCsv = true;
    std::string csvPath;  // empty when !keepCsv: the caller picks a scratch path
    std::vector<PointMapFile> maps;
};

// `formats`: the --format values in order ("csv", "gpx", "kml"; none means csv). `stem`: the
// default file name without extension. Nothing, with `usage` saying why, for combinations
// that name no file or one file twice.
std::optional<ImportFiles> PlanImportFiles(const std::vector<std::string>& formats,
                                           const std::string& out, const std::string& stem,
                                           std::string& usage);

// A new empty folder in the system's temporary folder, removed with everything in it when the
// object goes; holds the CSV file of an import that asked for maps only.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::string File(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// The summary of an import that wrote maps: whether it all worked and the line (or JSON
// fields) that say so. `result` is the job's, if it ended with one.
struct ImportSummary {
    bool ok = false;
    std::string detail;
    std::vector<std::pair<std::string, std::string>> files;  // ("file", path), ("gpx", path) ...
    std::optional<int64_t> rows;                             // CSV rows, when the CSV is kept
    int64_t points = 0;                                      // records read
};
ImportSummary SaveImportMaps(const ImportFiles& files, const std::optional<JobResult>& result);

}  // namespace cli

#pragma once
// The files import-points writes, from its --format and --out options: the CSV file as always
// (the default), and maps beside it with the same name and their own extension. Without csv
// among the formats the CSV goes to a scratch folder and --out, if given, names the one map.
#include <optional>
#include <string>
#include <vector>

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

}  // namespace cli

#include "cli/import_files.h"

#include <algorithm>
#include <filesystem>

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

}  // namespace cli

#include "app/point_maps.h"

#include <filesystem>

#include "app/point_export.h"
#include "platform/replace_file.h"
#include "platform/utf8_paths.h"

std::string PointMapPathBeside(const std::string& csvPath, mapexport::MapFormat format) {
    std::filesystem::path path = platform::PathFromUtf8(csvPath);
    path.replace_extension(mapexport::FormatName(format));
    return platform::PathToUtf8(path);
}

bool SavePointMaps(std::span<const PointRecord> points, std::span<const PointMapFile> files,
                   std::string& error) {
    const std::vector<mapexport::ExportPoint> exported = ToExportPoints(points);
    for (const PointMapFile& file : files) {
        if (!platform::ReplaceFile(file.path, mapexport::WriteMap(file.format, exported), error)) {
            return false;
        }
    }
    return true;
}

#include "app/point_maps.h"

#include <filesystem>

#include "app/point_export.h"
#include "platform/replace_file.h"

std::string PointMapPathBeside(const std::string& csvPath, mapexport::MapFormat format) {
    std::filesystem::path path(csvPath);
    path.replace_extension(mapexport::FormatName(format));
    return path.string();
}

#if CADDORA_HAVE_MAP_EXPORT

bool PointMapsAvailable() {
    return true;
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

#else

bool PointMapsAvailable() {
    return false;
}

bool SavePointMaps(std::span<const PointRecord>, std::span<const PointMapFile> files,
                   std::string& error) {
    if (files.empty()) return true;
    error = "this build cannot write GPX or KML files";
    return false;
}

#endif

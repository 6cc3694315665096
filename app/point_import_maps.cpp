#include "app/point_import_maps.h"

#include "app/main.h"
#include "app/point_maps.h"

JobMessage MapsNotSavedMessage(const std::string& reason) {
    return JobMessage{std::string(texts::kMapsNotSaved) + "\n" + reason, {}, MessageIcon::Warning};
}

void Main::SetAlsoSavePointMaps(bool on) {
    pointMapFormats.clear();
    if (on) pointMapFormats = {mapexport::MapFormat::Gpx, mapexport::MapFormat::Kml};
}

std::string Main::SaveChosenPointMaps(const JobResult& result) {
    if (jobMapFormats_.empty()) return {};
    std::vector<PointMapFile> files;
    for (const mapexport::MapFormat format : jobMapFormats_) {
        files.push_back({format, PointMapPathBeside(result.csvPath, format)});
    }
    std::string error;
    SavePointMaps(result.points, files, error);
    return error;
}

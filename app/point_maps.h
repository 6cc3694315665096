#pragma once
// Maps of an import's points, written beside its CSV file (same name, the format's extension)
// or where a front end names them. Shared by the window and caddora-cli.
#include <span>
#include <string>
#include <vector>

#include "app/point_record.h"
#include "export/map_format.h"

struct PointMapFile {
    mapexport::MapFormat format = mapexport::MapFormat::Gpx;
    std::string path;
};

// `csvPath` with its extension replaced by the format's ("points.csv" -> "points.gpx").
std::string PointMapPathBeside(const std::string& csvPath, mapexport::MapFormat format);

// Writes every file whole (temporary file renamed into place); stops at the first failure.
// False with `error` naming the file and the cause; files written before it stay.
bool SavePointMaps(std::span<const PointRecord> points, std::span<const PointMapFile> files,
                   std::string& error);

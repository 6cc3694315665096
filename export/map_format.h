#pragma once
// The map formats by name, for front ends that let the user choose.
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "export/export_point.h"

namespace mapexport {

enum class MapFormat { Gpx, Kml };

// "gpx" / "kml" (lower case, as on the command line and in file extensions). Inline, so that
// front ends can name formats in builds without the writers.
inline std::string_view FormatName(MapFormat format) {
    return format == MapFormat::Gpx ? "gpx" : "kml";
}
inline std::optional<MapFormat> FormatFromName(std::string_view name) {
    if (name == "gpx") return MapFormat::Gpx;
    if (name == "kml") return MapFormat::Kml;
    return std::nullopt;
}

// The file's bytes in `format`.
std::string WriteMap(MapFormat format, std::span<const ExportPoint> points);

}  // namespace mapexport

#include "export/map_format.h"

#include "export/gpx_writer.h"
#include "export/kml_writer.h"

namespace mapexport {

std::string_view FormatName(MapFormat format) {
    return format == MapFormat::Gpx ? "gpx" : "kml";
}

std::optional<MapFormat> FormatFromName(std::string_view name) {
    if (name == "gpx") return MapFormat::Gpx;
    if (name == "kml") return MapFormat::Kml;
    return std::nullopt;
}

std::string WriteMap(MapFormat format, std::span<const ExportPoint> points) {
    return format == MapFormat::Gpx ? WriteGpx(points) : WriteKml(points);
}

}  // namespace mapexport

#include "export/map_format.h"

#include "export/gpx_writer.h"
#include "export/kml_writer.h"

namespace mapexport {

std::string WriteMap(MapFormat format, std::span<const ExportPoint> points) {
    return format == MapFormat::Gpx ? WriteGpx(points) : WriteKml(points);
}

}  // namespace mapexport

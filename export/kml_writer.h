#pragma once
// KML 2.2: a folder per round holding a folder per hole; in each hole a placemark per point
// (UTC time stamp, shot or putt style) and a line through the hole's points in time order.
#include <span>
#include <string>

#include "export/export_point.h"

namespace mapexport {

std::string WriteKml(std::span<const ExportPoint> points);

}  // namespace mapexport

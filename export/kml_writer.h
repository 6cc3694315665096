#pragma once
// KML 2.2: a folder per round holding a folder per hole; in each hole a placemark per point
// (UTC time stamp, shot or putt style) and a line through the hole's points in time order.
#include <span>
#include <string>

#include "export/export_point.h"
#include "export/rounds.h"
#include "export/xml_document.h"

namespace mapexport {

std::string WriteKml(std::span<const ExportPoint> points);

// The points of `source` placed in RoundPlan::Order::HoleThenTime, written to `out` as they come.
void WriteKml(PointSource& source, std::span<const PlacedPoint> placed, XmlOut& out);

}  // namespace mapexport

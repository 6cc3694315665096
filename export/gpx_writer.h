#pragma once
// GPX 1.1: a waypoint per point (UTC time, name "H1 s0", the course and hole as description,
// shot or putt as type) and a track per round through its points in time order.
#include <span>
#include <string>

#include "export/export_point.h"
#include "export/rounds.h"
#include "export/xml_document.h"

namespace mapexport {

std::string WriteGpx(std::span<const ExportPoint> points);

// The points of `source` placed in RoundPlan::Order::Time, written to `out` as they come.
void WriteGpx(PointSource& source, std::span<const PlacedPoint> placed, XmlOut& out);

}  // namespace mapexport

#pragma once
// GPX 1.1: a waypoint per point (UTC time, name "H1 s0", the course and hole as description,
// shot or putt as type) and a track per round through its points in time order.
#include <span>
#include <string>

#include "export/export_point.h"

namespace mapexport {

std::string WriteGpx(std::span<const ExportPoint> points);

}  // namespace mapexport

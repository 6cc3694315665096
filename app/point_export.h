#pragma once
// Saved points as the GPX and KML writers take them: names from Shift-JIS to UTF-8, coordinates
// in degrees.
#include <span>
#include <vector>

#include "app/point_record.h"
#include "export/export_point.h"

mapexport::ExportPoint ToExportPoint(const PointRecord& record);
std::vector<mapexport::ExportPoint> ToExportPoints(std::span<const PointRecord> records);

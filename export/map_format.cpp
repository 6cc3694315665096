#include "export/map_format.h"

#include <limits>
#include <stdexcept>

#include "export/gpx_writer.h"
#include "export/kml_writer.h"

namespace mapexport {

namespace {
RoundPlan::Order OrderFor(MapFormat format) {
    return format == MapFormat::Gpx ? RoundPlan::Order::Time : RoundPlan::Order::HoleThenTime;
}
}  // namespace

std::string WriteMap(MapFormat format, std::span<const ExportPoint> points) {
    return format == MapFormat::Gpx ? WriteGpx(points) : WriteKml(points);
}

const ExportPoint& CsvPointSource::Load(uint32_t id) {
    if (!reader_.ReadAt(id, point_)) throw std::runtime_error("the file changed while read");
    return point_;
}

CsvMapPlan PlanCsvMap(std::streambuf& in, MapFormat format, PointSource& source) {
    CsvMapPlan result;
    PointCsvReader reader(in);
    RoundPlan plan(source);
    ExportPoint point;
    while (reader.Next(point)) {
        // Rows are known by their offsets: front ends refuse files of that size long before.
        if (reader.RowOffset() > std::numeric_limits<uint32_t>::max()) {
            throw std::length_error("a point CSV file past 4 GiB");
        }
        ++result.rows;
        plan.Add(point, static_cast<uint32_t>(reader.RowOffset()));
    }
    result.badLine = reader.BadLine();
    result.problem = reader.Problem();
    if (result.ok()) result.placed = std::move(plan).Take(OrderFor(format));
    return result;
}

void WriteMap(MapFormat format, PointSource& source, std::span<const PlacedPoint> placed,
              XmlOut& out) {
    if (format == MapFormat::Gpx) {
        WriteGpx(source, placed, out);
    } else {
        WriteKml(source, placed, out);
    }
}

}  // namespace mapexport

#pragma once
// The map formats by name, for front ends that let the user choose, and the conversion of a
// point CSV file into a map in a bounded amount of memory.
#include <cstddef>
#include <optional>
#include <span>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "export/export_point.h"
#include "export/point_csv_reader.h"
#include "export/rounds.h"
#include "export/xml_document.h"

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

// The points of a point CSV file, loaded by the offsets of their rows. Throws
// std::runtime_error when a row is no longer there (the file changed since it was planned).
class CsvPointSource : public PointSource {
public:
    explicit CsvPointSource(std::streambuf& in) : reader_(in) {}
    const ExportPoint& Load(uint32_t id) override;

private:
    PointCsvReader reader_;
    ExportPoint point_;
};

// A point CSV file read through once: where its points go in the map, or the line that is no
// point row.
struct CsvMapPlan {
    std::vector<PlacedPoint> placed;  // the points on Earth
    std::size_t rows = 0;
    std::size_t badLine = 0;
    std::string problem;
    bool ok() const { return badLine == 0; }
};
// `in` is read through; `source` reads the same file (for rounds whose names must be compared).
CsvMapPlan PlanCsvMap(std::streambuf& in, MapFormat format, PointSource& source);

// Writes the planned points in `format`.
void WriteMap(MapFormat format, PointSource& source, std::span<const PlacedPoint> placed,
              XmlOut& out);

}  // namespace mapexport

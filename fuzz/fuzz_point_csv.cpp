// The point CSV reader and the map writers on any bytes. Two properties: a row the import
// writes from any 192-byte record reads back as that record; and whatever a file holds, the
// GPX and KML written from what was read are well-formed XML.
#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "app/point_export.h"
#include "app/point_record.h"
#include "export/gpx_writer.h"
#include "export/kml_writer.h"
#include "export/point_csv_reader.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckWellFormed(const std::string& xml) {
    pugi::xml_document doc;
    Check(static_cast<bool>(doc.load_buffer(xml.data(), xml.size())));
}

void CheckRowReadsBack(const uint8_t* data, size_t size) {
    std::array<uint8_t, kPointRecordLength> bytes{};
    std::copy_n(data, std::min(size, bytes.size()), bytes.begin());
    const PointRecord record = ParsePointRecord(bytes);
    const std::string row = FormatPointRowUtf8(record);
    const auto read = mapexport::ParsePointCsvRow(std::string_view(row).substr(0, row.size() - 2));
    Check(read.has_value());
    mapexport::ExportPoint expected = ToExportPoint(record);
    Check(std::fabs(read->latitude - expected.latitude) < 5e-7);
    Check(std::fabs(read->longitude - expected.longitude) < 5e-7);
    expected.latitude = read->latitude;
    expected.longitude = read->longitude;
    Check(*read == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckRowReadsBack(data, size);
    const auto csv =
        mapexport::ReadPointCsv(std::string_view(reinterpret_cast<const char*>(data), size));
    CheckWellFormed(mapexport::WriteGpx(csv.points));
    CheckWellFormed(mapexport::WriteKml(csv.points));
    return 0;
}

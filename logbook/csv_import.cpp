#include "logbook/csv_import.h"

#include <filesystem>
#include <fstream>

#include "export/point_csv_reader.h"
#include "platform/codepage.h"
#include "platform/utf8_paths.h"

namespace logbook {

namespace {

bool IsUtf8(std::string_view text) {
    return platform::Utf16ToUtf8(platform::Utf8ToUtf16(text)) == text;
}

std::string Refused(const std::string& path, std::size_t line, const std::string& why) {
    return path + ", line " + std::to_string(line) + ": " + why + "; nothing of it was added";
}

}  // namespace

CsvAddResult AddCsvFile(Logbook& logbook, const std::string& path) {
    CsvAddResult result;
    std::error_code ec;
    const auto status = std::filesystem::status(platform::PathFromUtf8(path), ec);
    if (ec || !std::filesystem::exists(status)) {
        result.error = "cannot read " + path + ": no such file";
        return result;
    }
    // A FIFO or device could block or never end.
    if (!std::filesystem::is_regular_file(status)) {
        result.error = "cannot read " + path + ": not a regular file";
        return result;
    }
    std::filebuf in;
    if (!in.open(platform::PathFromUtf8(path), std::ios::in | std::ios::binary)) {
        result.error = "cannot read " + path;
        return result;
    }

    Logbook::Import import(logbook, path);
    // The map export's reader: quoted names may hold commas, quotes and line breaks, and a
    // row is never longer than its limit, so a hostile file costs no more than one row.
    mapexport::PointCsvReader reader(in);
    mapexport::ExportPoint point;
    while (reader.Next(point)) {
        for (const std::string* text : {&point.golfCourseName, &point.courseName,
                                        &point.shotOrPutt, &point.additionalNo}) {
            if (!IsUtf8(*text)) {
                result.error = Refused(path, reader.RowLine(), "not UTF-8 text");
                return result;
            }
        }
        import.Add(point);
    }
    if (reader.BadLine() != 0) {
        result.error = Refused(path, reader.BadLine(), reader.Problem());
        return result;
    }
    result.counts = import.Commit();
    return result;
}

}  // namespace logbook

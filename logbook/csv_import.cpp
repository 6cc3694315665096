#include "logbook/csv_import.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "export/point_csv_reader.h"
#include "platform/codepage.h"

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
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        result.error = "cannot read " + path + ": no such file";
        return result;
    }
    // A FIFO or device could block or never end.
    if (!std::filesystem::is_regular_file(status)) {
        result.error = "cannot read " + path + ": not a regular file";
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        result.error = "cannot read " + path;
        return result;
    }

    Logbook::Import import(logbook, path);
    mapexport::PointCsvLines lines;
    mapexport::ExportPoint point;
    std::string line;
    std::vector<char> chunk(64 * 1024);
    // Returns false when the file is refused.
    const auto take = [&](std::string_view text) {
        if (!IsUtf8(text)) {
            result.error = Refused(path, lines.LineNo() + 1, "not UTF-8 text");
            return false;
        }
        switch (lines.Take(text, point)) {
            case mapexport::PointCsvLines::Line::Bad:
                result.error = Refused(path, lines.LineNo(), lines.Problem());
                return false;
            case mapexport::PointCsvLines::Line::Point:
                import.Add(point);
                break;
            case mapexport::PointCsvLines::Line::Skip:
                break;
        }
        return true;
    };
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        std::string_view piece(chunk.data(), static_cast<std::size_t>(in.gcount()));
        while (!piece.empty()) {
            const auto end = piece.find('\n');
            line.append(piece.substr(0, end));
            if (line.size() > kMaxCsvLine) {
                result.error = Refused(path, lines.LineNo() + 1, "line too long for a point row");
                return result;
            }
            if (end == std::string_view::npos) break;
            piece.remove_prefix(end + 1);
            if (!take(line)) return result;
            line.clear();
        }
    }
    if (in.bad()) {
        result.error = "cannot read " + path;
        return result;
    }
    if (!line.empty() && !take(line)) return result;
    result.counts = import.Commit();
    return result;
}

}  // namespace logbook

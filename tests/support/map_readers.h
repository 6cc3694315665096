#pragma once
// Independent readers of GPX and KML files, for checking what the exporter wrote: gpsbabel (to
// its universal CSV with times in UTC), gpxpy and fastkml (through map_readers.py) and xmllint.
// None of them shares code with the exporter. No schema validation: no Debian 12 package ships
// the GPX 1.1 or KML 2.2 schema (gpsbabel, gpsbabel-doc, python3-gpxpy, python3-fastkml,
// python3-pykml, libgeo-gpx-perl, gpxviewer and libkml-dev were looked at), and schemas are
// not to be written by hand.
#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#ifndef CADDORA_TEST_SOURCE_DIR
#error "map_readers.h needs CADDORA_TEST_SOURCE_DIR"
#endif

namespace map_readers {

struct MapPoint {
    std::string name;
    std::string utc;  // "2015-04-01T00:05:07", "-" for none
    double latitude = 0;
    double longitude = 0;
};

struct ToolRun {
    int status = -1;
    std::string out;  // stdout and stderr
};

inline std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline ToolRun RunTool(const std::string& command) {
    ToolRun run;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Splits a CSV line with double-quoted fields.
inline std::vector<std::string> CsvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else if (c != '\r') {
            fields.back() += c;
        }
    }
    return fields;
}

// The waypoints gpsbabel reads from `path` (`format`: gpx or kml). `run` gets the raw run.
inline std::vector<MapPoint> GpsbabelPoints(const std::string& format, const std::string& path,
                                            ToolRun* run = nullptr) {
    const ToolRun r =
        RunTool("gpsbabel -i " + format + " -f " + Quote(path) + " -o unicsv,utc=0 -F -");
    if (run) *run = r;
    std::vector<MapPoint> points;
    const std::vector<std::string> lines = Lines(r.out);
    if (r.status != 0 || lines.empty()) return points;
    const std::vector<std::string> header = CsvFields(lines[0]);
    auto column = [&header](const std::string& name) {
        for (size_t i = 0; i < header.size(); ++i) {
            if (header[i] == name) return i;
        }
        return header.size();
    };
    const size_t lat = column("Latitude"), lon = column("Longitude"), name = column("Name"),
                 date = column("Date"), time = column("Time");
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> f = CsvFields(lines[i]);
        auto at = [&f](size_t k) { return k < f.size() ? f[k] : std::string(); };
        MapPoint p{at(name), "-", std::stod(at(lat)), std::stod(at(lon))};
        if (!at(date).empty()) {
            std::string d = at(date);
            for (char& c : d) c = c == '/' ? '-' : c;
            p.utc = d + "T" + at(time);
        }
        points.push_back(p);
    }
    return points;
}

// The points gpxpy (gpx) or fastkml (kml) reads; `other` gets the tracks' and lines' lines:
// "track<TAB>name<TAB>count", "line<TAB>name<TAB>count".
inline std::vector<MapPoint> PythonPoints(const std::string& format, const std::string& path,
                                          std::vector<std::string>* other = nullptr,
                                          ToolRun* run = nullptr) {
    const ToolRun r =
        RunTool("/usr/bin/python3 " CADDORA_TEST_SOURCE_DIR "/tests/support/map_readers.py " +
                format + " " + Quote(path));
    if (run) *run = r;
    std::vector<MapPoint> points;
    if (r.status != 0) return points;
    for (const std::string& line : Lines(r.out)) {
        std::vector<std::string> f;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, '\t');) f.push_back(field);
        if (f.size() == 3 && (f[0] == "track" || f[0] == "line")) {
            if (other) other->push_back(line);
        } else if (f.size() == 4) {
            points.push_back({f[0], f[1], std::stod(f[2]), std::stod(f[3])});
        }
    }
    return points;
}

// The rows Python's csv module reads from a point CSV file: the number of fields, a tab, the
// golf course name, a tab and the course name (names in hexadecimal UTF-8).
inline std::vector<std::string> PythonCsvRows(const std::string& path) {
    const ToolRun r =
        RunTool("/usr/bin/python3 " CADDORA_TEST_SOURCE_DIR "/tests/support/map_readers.py csv " +
                Quote(path));
    return r.status == 0 ? Lines(r.out) : std::vector<std::string>{r.out};
}

// xmllint --noout: the file is well-formed XML. `messages` gets what it said.
inline bool XmllintAccepts(const std::string& path, std::string* messages = nullptr) {
    const ToolRun r = RunTool("xmllint --noout " + Quote(path));
    if (messages) *messages = r.out;
    return r.status == 0 && r.out.empty();
}

}  // namespace map_readers

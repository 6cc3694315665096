#include "logbook/report_html.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "export/rounds.h"
#include "export/utc_time.h"

namespace logbook {

namespace {

constexpr double kSize = 420;      // drawing width and height, px
constexpr double kMargin = 48;     // room for labels and the scale bar
constexpr double kMinExtent = 30;  // metres: a hole of one point still has a scale

constexpr const char* kStyle = R"css(
body { font-family: sans-serif; margin: 24px; color: #1d2a1d; background: #f7faf5; }
h1 { font-size: 1.5em; }
h2 { font-size: 1.2em; margin-top: 2em; border-bottom: 2px solid #3c7a3c; }
table.card { border-collapse: collapse; margin: 0.5em 0 1em; }
table.card th, table.card td { border: 1px solid #9bb59b; padding: 2px 10px; text-align: right; }
table.card th { background: #dcebdc; }
table.card td.course { text-align: left; }
div.holes { display: flex; flex-wrap: wrap; gap: 16px; }
figure { margin: 0; background: #fff; border: 1px solid #c5d6c5; padding: 6px; }
figcaption { font-weight: bold; margin-bottom: 4px; }
svg.hole { background: #e9f4e4; display: block; }
svg .seg-shot { stroke: #1f5fa8; stroke-width: 2; }
svg .seg-putt { stroke: #c0392b; stroke-width: 2; stroke-dasharray: 5 3; }
svg .shot { fill: #1f5fa8; stroke: #fff; stroke-width: 1.5; }
svg .putt { fill: #c0392b; stroke: #fff; stroke-width: 1.5; }
svg .other { fill: #777; }
svg text { font-size: 11px; fill: #1d2a1d; }
svg text.dist { font-size: 10px; paint-order: stroke; stroke: #e9f4e4; stroke-width: 3px; }
svg .bar { stroke: #1d2a1d; stroke-width: 2; }
p.legend span { margin-right: 1.5em; }
ol.legs { list-style: none; padding: 0; margin: 4px 0 0; font-size: 0.85em; max-width: 420px; }
ol.legs li { display: inline-block; margin-right: 1em; }
)css";

std::string Escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\0':
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Num(double value, int decimals = 1) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string DistanceText(double metres) {
    // Putts are short: a tenth of a metre tells them apart.
    const int decimals = metres < 10 ? 1 : 0;
    return Num(metres, decimals) + " m / " + Num(metres / kMetresPerYard, decimals) + " yd";
}

// 1, 2 or 5 times a power of ten, at most `limit` metres.
double NiceLength(double limit) {
    const double power = std::pow(10.0, std::floor(std::log10(limit)));
    for (double step : {5.0, 2.0, 1.0}) {
        if (step * power <= limit) return step * power;
    }
    return power;
}

struct Xy {
    double x = 0;
    double y = 0;
};

void Drawing(std::string& html, const PlayedHole& hole) {
    // Metres east and north of the first point, each axis scaled by the ellipsoid's own
    // lengths at this place: true to scale over a hole's few hundred metres.
    const mapexport::ExportPoint& origin = hole.points.front().stored.point;
    const double lat0 = origin.latitude;
    const double lon0 = origin.longitude;
    const double northPerDegree = GeodesicMetres(lat0 - 0.0005, lon0, lat0 + 0.0005, lon0) / 0.001;
    const double eastPerDegree = GeodesicMetres(lat0, lon0 - 0.0005, lat0, lon0 + 0.0005) / 0.001;
    std::vector<Xy> metres;
    for (const HolePoint& hp : hole.points) {
        double dLon = hp.stored.point.longitude - lon0;
        if (dLon > 180) dLon -= 360;
        if (dLon < -180) dLon += 360;
        metres.push_back(
            {dLon * eastPerDegree, (hp.stored.point.latitude - lat0) * northPerDegree});
    }
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (const Xy& m : metres) {
        minX = std::min(minX, m.x);
        maxX = std::max(maxX, m.x);
        minY = std::min(minY, m.y);
        maxY = std::max(maxY, m.y);
    }
    const double extent = std::max({maxX - minX, maxY - minY, kMinExtent});
    const double scale = (kSize - 2 * kMargin) / extent;  // px per metre
    // Centred in the drawing.
    const double offX = kMargin + ((kSize - 2 * kMargin) - (maxX - minX) * scale) / 2;
    const double offY = kMargin + ((kSize - 2 * kMargin) - (maxY - minY) * scale) / 2;
    std::vector<Xy> px;
    for (const Xy& m : metres)
        px.push_back({offX + (m.x - minX) * scale, offY + (maxY - m.y) * scale});

    const std::string size = Num(kSize, 0);
    html += "<svg class=\"hole\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + size +
            "\" height=\"" + size + "\" viewBox=\"0 0 " + size + " " + size + "\">\n";
    // North arrow.
    html += "<path d=\"M" + Num(kSize - 20) +
            " 30 l-6 12 h12 z\" fill=\"#1d2a1d\"/>"
            "<text x=\"" +
            Num(kSize - 24) + "\" y=\"24\">N</text>\n";
    for (std::size_t i = 0; i + 1 < hole.points.size(); ++i) {
        const bool putt =
            mapexport::KindOf(hole.points[i + 1].stored.point) == mapexport::PointKind::Putt;
        html += "<line class=\"" + std::string(putt ? "seg-putt" : "seg-shot") + "\" x1=\"" +
                Num(px[i].x) + "\" y1=\"" + Num(px[i].y) + "\" x2=\"" + Num(px[i + 1].x) +
                "\" y2=\"" + Num(px[i + 1].y) + "\"/>\n";
    }
    for (std::size_t i = 0; i + 1 < hole.points.size(); ++i) {
        if (!hole.points[i].toNextMetres) continue;
        // Beside the segment's middle, on its right-hand side, so labels of a zigzag stay apart.
        const double dx = px[i + 1].x - px[i].x;
        const double dy = px[i + 1].y - px[i].y;
        const double length = std::max(std::hypot(dx, dy), 1e-9);
        const double mx = (px[i].x + px[i + 1].x) / 2 - dy / length * 10;
        const double my = (px[i].y + px[i + 1].y) / 2 + dx / length * 10;
        const char* anchor = -dy >= 0 ? "start" : "end";
        // Kept inside the drawing: a label is at most about 90 px wide.
        const double x = -dy >= 0 ? std::min(mx, kSize - 92) : std::max(mx, 92.0);
        html += "<text class=\"dist\" text-anchor=\"" + std::string(anchor) + "\" x=\"" + Num(x) +
                "\" y=\"" + Num(my + 4) + "\">" + DistanceText(*hole.points[i].toNextMetres) +
                "</text>\n";
    }
    for (std::size_t i = 0; i < hole.points.size(); ++i) {
        const mapexport::PointKind kind = mapexport::KindOf(hole.points[i].stored.point);
        const std::string cls = kind == mapexport::PointKind::Shot   ? "shot"
                                : kind == mapexport::PointKind::Putt ? "putt"
                                                                     : "other";
        if (kind == mapexport::PointKind::Putt) {
            html += "<rect class=\"putt\" x=\"" + Num(px[i].x - 5) + "\" y=\"" + Num(px[i].y - 5) +
                    "\" width=\"10\" height=\"10\"/>";
        } else {
            html += "<circle class=\"" + cls + "\" cx=\"" + Num(px[i].x) + "\" cy=\"" +
                    Num(px[i].y) + "\" r=\"6\"/>";
        }
        html += "<text x=\"" + Num(px[i].x - 14) + "\" y=\"" + Num(px[i].y + 4) + "\">" +
                std::to_string(i + 1) + "</text>\n";
    }
    // Scale bar, bottom left.
    const double barMetres = NiceLength(extent / 3);
    const double barPx = barMetres * scale;
    const double y = kSize - 16;
    html += "<path class=\"bar\" fill=\"none\" d=\"M12 " + Num(y - 5) + " V" + Num(y) + " H" +
            Num(12 + barPx) + " V" + Num(y - 5) + "\"/><text x=\"" + Num(16 + barPx) + "\" y=\"" +
            Num(y) + "\">" + Num(barMetres, 0) + " m</text>\n";
    html += "</svg>\n";
}

void RoundSection(std::string& html, const RoundSummary& r) {
    std::string courses;
    for (const std::string& c : r.courses) courses += (courses.empty() ? "" : " / ") + c;
    html += "<section class=\"round\">\n<h2>" + r.date + " " + Escaped(r.golfCourseName) + " (" +
            Escaped(courses) + ") <small>round " + std::to_string(r.id) + "</small></h2>\n";
    const std::vector<PlayedHole> holes = Scorecard(r);
    html +=
        "<table class=\"card\"><tr><th>Course</th><th>Hole</th><th>Shots</th><th>Putts</th>"
        "<th>Total</th></tr>\n";
    for (const PlayedHole& h : holes) {
        html += "<tr><td class=\"course\">" + Escaped(h.courseName) + "</td><td>" +
                std::to_string(h.holeNo) + "</td><td>" + std::to_string(h.shots) + "</td><td>" +
                std::to_string(h.putts) + "</td><td>" + std::to_string(h.shots + h.putts) +
                "</td></tr>\n";
    }
    html += "<tr><th class=\"course\">" + std::to_string(r.holes) +
            (r.holes == 1 ? " hole" : " holes") + "</th><th></th><th>" + std::to_string(r.shots) +
            "</th><th>" + std::to_string(r.putts) + "</th><th>" +
            std::to_string(r.shots + r.putts) + "</th></tr></table>\n<div class=\"holes\">\n";
    for (const PlayedHole& h : holes) {
        html += "<figure><figcaption>" + Escaped(h.courseName) + " · hole " +
                std::to_string(h.holeNo) + "</figcaption>\n";
        Drawing(html, h);
        // The same distances as a list: short putts crowd each other in the drawing.
        html += "<ol class=\"legs\">";
        for (std::size_t i = 0; i + 1 < h.points.size(); ++i) {
            html += "<li>" + std::to_string(i + 1) + " → " + std::to_string(i + 2) + ": " +
                    DistanceText(*h.points[i].toNextMetres) + "</li>";
        }
        html += "</ol>\n</figure>\n";
    }
    html += "</div>\n</section>\n";
}

}  // namespace

std::string ReportHtml(std::span<const RoundSummary> rounds) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
        "style-src 'unsafe-inline'\">\n<title>CADDORA logbook</title>\n<style>" +
        std::string(kStyle) + "</style>\n</head>\n<body>\n<h1>CADDORA logbook</h1>\n";
    html +=
        "<p class=\"legend\"><span>● shot (solid line to it)</span><span>■ putt (dashed line "
        "to it)</span><span>distances on WGS-84; north up</span></p>\n";
    if (rounds.empty()) html += "<p>No rounds.</p>\n";
    for (const RoundSummary& r : rounds) RoundSection(html, r);
    html += "</body>\n</html>\n";
    return html;
}

}  // namespace logbook

#include "export/gpx_writer.h"

#include "export/utc_time.h"

namespace mapexport {

namespace {

constexpr const char* kCreator = "caddora";

const char* TypeText(PointKind kind) {
    switch (kind) {
        case PointKind::Shot:
            return "shot";
        case PointKind::Putt:
            return "putt";
        case PointKind::Other:
            break;
    }
    return nullptr;
}

void OpenPosition(XmlOut& out, const char* name, const ExportPoint& p) {
    out.Open(name, {{"lat", DegreesText(p.latitude)}, {"lon", DegreesText(p.longitude)}});
}

// Children in the order the GPX schema fixes: time, name, desc, type.
void AddWaypoint(XmlOut& out, const PlacedPoint& placed, const ExportPoint& p) {
    OpenPosition(out, "wpt", p);
    if (placed.Timed()) out.Text("time", UtcText(placed.utc));
    out.Text("name", PointName(p));
    out.Text("desc", PointDescription(p));
    if (const char* type = TypeText(KindOf(p))) out.Text("type", type);
    out.Close();
}

}  // namespace

void WriteGpx(PointSource& source, std::span<const PlacedPoint> placed, XmlOut& out) {
    out.Declaration();
    out.Open("gpx",
             {{"version", "1.1"},
              {"creator", kCreator},
              {"xmlns", "http://www.topografix.com/GPX/1/1"},
              {"xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance"},
              {"xsi:schemaLocation",
               "http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd"}});
    // Waypoints come before tracks in GPX; both follow the rounds' time order.
    for (const PlacedPoint& t : placed) AddWaypoint(out, t, source.Load(t.id));
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const ExportPoint& p = source.Load(placed[i].id);
        if (i == 0 || placed[i].round != placed[i - 1].round) {
            if (i > 0) out.Close(), out.Close();
            out.Open("trk");
            out.Text("name", RoundName(p));
            out.Open("trkseg");
        }
        OpenPosition(out, "trkpt", p);
        if (placed[i].Timed()) out.Text("time", UtcText(placed[i].utc));
        out.Close();
    }
    if (!placed.empty()) out.Close(), out.Close();
    out.Close();
}

std::string WriteGpx(std::span<const ExportPoint> points) {
    PointSpan source(points);
    RoundPlan plan(source);
    for (uint32_t i = 0; i < points.size(); ++i) plan.Add(points[i], i);
    const std::vector<PlacedPoint> placed = std::move(plan).Take(RoundPlan::Order::Time);
    std::string text;
    XmlOut out(text);
    WriteGpx(source, placed, out);
    return text;
}

}  // namespace mapexport

#include "export/kml_writer.h"

#include "export/utc_time.h"

namespace mapexport {

namespace {

constexpr const char* kShotStyle = "shot";
constexpr const char* kPuttStyle = "putt";
constexpr const char* kHoleStyle = "hole";

// Shots and putts differ in colour (aabbggrr) and size, so that a green full of putts stays
// readable beside the shots' landing points. The viewer's own placemark icon is tinted: no image
// address, so the file needs nothing from the network.
struct IconLook {
    const char* id;
    const char* color;
    const char* scale;
};
constexpr IconLook kIcons[] = {
    {kShotStyle, "ff00ffff", "1.1"},
    {kPuttStyle, "ff00ff00", "0.8"},
};

void AddStyles(XmlOut& out) {
    for (const IconLook& look : kIcons) {
        out.Open("Style", {{"id", look.id}});
        out.Open("IconStyle");
        out.Text("color", look.color);
        out.Text("scale", look.scale);
        out.Close();
        out.Close();
    }
    out.Open("Style", {{"id", kHoleStyle}});
    out.Open("LineStyle");
    out.Text("color", "ff0000ff");
    out.Text("width", "2");
    out.Close();
    out.Close();
}

std::string Coordinates(const ExportPoint& p) {
    return DegreesText(p.longitude) + "," + DegreesText(p.latitude);
}

// Children in the order the KML schema fixes: name, description, TimeStamp, styleUrl, Point.
void AddPlacemark(XmlOut& out, const PlacedPoint& placed, const ExportPoint& p) {
    out.Open("Placemark");
    out.Text("name", PointName(p));
    out.Text("description", PointDescription(p));
    if (placed.Timed()) {
        out.Open("TimeStamp");
        out.Text("when", UtcText(placed.utc));
        out.Close();
    }
    switch (KindOf(p)) {
        case PointKind::Shot:
            out.Text("styleUrl", std::string("#") + kShotStyle);
            break;
        case PointKind::Putt:
            out.Text("styleUrl", std::string("#") + kPuttStyle);
            break;
        case PointKind::Other:
            break;
    }
    out.Open("Point");
    out.Text("coordinates", Coordinates(p));
    out.Close();
    out.Close();
}

// A hole's folder: a placemark per point, then a line through them (two points at least).
void AddHole(XmlOut& out, PointSource& source, std::span<const PlacedPoint> hole) {
    out.Open("Folder");
    out.Text("name", HoleName(hole.front().holeNo));
    for (const PlacedPoint& t : hole) AddPlacemark(out, t, source.Load(t.id));
    if (hole.size() >= 2) {
        out.Open("Placemark");
        out.Text("name", HoleName(hole.front().holeNo));
        out.Text("styleUrl", std::string("#") + kHoleStyle);
        out.Open("LineString");
        out.Text("tessellate", "1");
        // Point by point: a hole may have more points than fit in memory as one text.
        out.StartText("coordinates");
        for (std::size_t i = 0; i < hole.size(); ++i) {
            if (i != 0) out.AddText(" ");
            out.AddText(Coordinates(source.Load(hole[i].id)));
        }
        out.EndText("coordinates");
        out.Close();
        out.Close();
    }
    out.Close();
}

}  // namespace

void WriteKml(PointSource& source, std::span<const PlacedPoint> placed, XmlOut& out) {
    out.Declaration();
    out.Open("kml", {{"xmlns", "http://www.opengis.net/kml/2.2"}});
    out.Open("Document");
    out.Text("name", "Saved points");
    AddStyles(out);
    for (std::size_t i = 0; i < placed.size();) {
        out.Open("Folder");
        out.Text("name", RoundName(source.Load(placed[i].id)));
        const uint32_t round = placed[i].round;
        while (i < placed.size() && placed[i].round == round) {
            std::size_t end = i;
            while (end < placed.size() && placed[end].round == round &&
                   placed[end].holeNo == placed[i].holeNo) {
                ++end;
            }
            AddHole(out, source, placed.subspan(i, end - i));
            i = end;
        }
        out.Close();
    }
    out.Close();
    out.Close();
}

std::string WriteKml(std::span<const ExportPoint> points) {
    PointSpan source(points);
    RoundPlan plan(source);
    for (uint32_t i = 0; i < points.size(); ++i) plan.Add(points[i], i);
    const std::vector<PlacedPoint> placed = std::move(plan).Take(RoundPlan::Order::HoleThenTime);
    std::string text;
    XmlOut out(text);
    WriteKml(source, placed, out);
    return text;
}

}  // namespace mapexport

#include "export/kml_writer.h"

#include "export/rounds.h"
#include "export/utc_time.h"
#include "export/xml_document.h"

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

void AddStyles(pugi::xml_node document) {
    for (const IconLook& look : kIcons) {
        pugi::xml_node style = document.append_child("Style");
        style.append_attribute("id") = look.id;
        pugi::xml_node icon = style.append_child("IconStyle");
        AddText(icon, "color", look.color);
        AddText(icon, "scale", look.scale);
    }
    pugi::xml_node line = document.append_child("Style");
    line.append_attribute("id") = kHoleStyle;
    pugi::xml_node lineStyle = line.append_child("LineStyle");
    AddText(lineStyle, "color", "ff0000ff");
    AddText(lineStyle, "width", "2");
}

std::string Coordinates(const ExportPoint& p) {
    return DegreesText(p.longitude) + "," + DegreesText(p.latitude);
}

// Children in the order the KML schema fixes: name, description, TimeStamp, styleUrl, Point.
void AddPlacemark(pugi::xml_node folder, const TimedPoint& t) {
    const ExportPoint& p = *t.point;
    pugi::xml_node mark = folder.append_child("Placemark");
    AddText(mark, "name", PointName(p));
    AddText(mark, "description", PointDescription(p));
    if (t.utc) AddText(mark.append_child("TimeStamp"), "when", UtcText(*t.utc));
    switch (KindOf(p)) {
        case PointKind::Shot:
            AddText(mark, "styleUrl", std::string("#") + kShotStyle);
            break;
        case PointKind::Putt:
            AddText(mark, "styleUrl", std::string("#") + kPuttStyle);
            break;
        case PointKind::Other:
            break;
    }
    AddText(mark.append_child("Point"), "coordinates", Coordinates(p));
}

// A line needs two points at least.
void AddHoleLine(pugi::xml_node folder, const Hole& hole) {
    if (hole.points.size() < 2) return;
    std::string coordinates;
    for (const TimedPoint& t : hole.points) {
        if (!coordinates.empty()) coordinates += ' ';
        coordinates += Coordinates(*t.point);
    }
    pugi::xml_node mark = folder.append_child("Placemark");
    AddText(mark, "name", HoleName(hole.holeNo));
    AddText(mark, "styleUrl", std::string("#") + kHoleStyle);
    pugi::xml_node line = mark.append_child("LineString");
    AddText(line, "tessellate", "1");
    AddText(line, "coordinates", coordinates);
}

}  // namespace

std::string WriteKml(std::span<const ExportPoint> points) {
    pugi::xml_document doc;
    StartDocument(doc);
    pugi::xml_node kml = doc.append_child("kml");
    kml.append_attribute("xmlns") = "http://www.opengis.net/kml/2.2";
    pugi::xml_node document = kml.append_child("Document");
    AddText(document, "name", "Saved points");
    AddStyles(document);
    for (const Round& round : GroupRounds(points)) {
        pugi::xml_node roundFolder = document.append_child("Folder");
        AddText(roundFolder, "name", RoundName(round));
        for (const Hole& hole : round.Holes()) {
            pugi::xml_node holeFolder = roundFolder.append_child("Folder");
            AddText(holeFolder, "name", HoleName(hole.holeNo));
            for (const TimedPoint& t : hole.points) AddPlacemark(holeFolder, t);
            AddHoleLine(holeFolder, hole);
        }
    }
    return Serialize(doc);
}

}  // namespace mapexport

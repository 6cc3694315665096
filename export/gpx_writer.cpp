#include "export/gpx_writer.h"

#include "export/rounds.h"
#include "export/utc_time.h"
#include "export/xml_document.h"

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

pugi::xml_node AddPosition(pugi::xml_node parent, const char* name, const ExportPoint& p) {
    pugi::xml_node node = parent.append_child(name);
    node.append_attribute("lat") = DegreesText(p.latitude).c_str();
    node.append_attribute("lon") = DegreesText(p.longitude).c_str();
    return node;
}

// Children in the order the GPX schema fixes: time, name, desc, type.
void AddWaypoint(pugi::xml_node gpx, const TimedPoint& t) {
    const ExportPoint& p = *t.point;
    pugi::xml_node wpt = AddPosition(gpx, "wpt", p);
    if (t.utc) AddText(wpt, "time", UtcText(*t.utc));
    AddText(wpt, "name", PointName(p));
    AddText(wpt, "desc", PointDescription(p));
    if (const char* type = TypeText(KindOf(p))) AddText(wpt, "type", type);
}

void AddTrack(pugi::xml_node gpx, const Round& round) {
    pugi::xml_node trk = gpx.append_child("trk");
    AddText(trk, "name", RoundName(round));
    pugi::xml_node seg = trk.append_child("trkseg");
    for (const TimedPoint& t : round.points) {
        pugi::xml_node pt = AddPosition(seg, "trkpt", *t.point);
        if (t.utc) AddText(pt, "time", UtcText(*t.utc));
    }
}

}  // namespace

std::string WriteGpx(std::span<const ExportPoint> points) {
    pugi::xml_document doc;
    StartDocument(doc);
    pugi::xml_node gpx = doc.append_child("gpx");
    gpx.append_attribute("version") = "1.1";
    gpx.append_attribute("creator") = kCreator;
    gpx.append_attribute("xmlns") = "http://www.topografix.com/GPX/1/1";
    gpx.append_attribute("xmlns:xsi") = "http://www.w3.org/2001/XMLSchema-instance";
    gpx.append_attribute("xsi:schemaLocation") =
        "http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd";

    // Waypoints come before tracks in GPX; both follow the rounds' time order.
    const std::vector<Round> rounds = GroupRounds(points);
    for (const Round& round : rounds) {
        for (const TimedPoint& t : round.points) AddWaypoint(gpx, t);
    }
    for (const Round& round : rounds) AddTrack(gpx, round);
    return Serialize(doc);
}

}  // namespace mapexport

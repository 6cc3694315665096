#!/usr/bin/python3
"""Reads a GPX file with gpxpy or a KML file with fastkml and prints one line per point:
name, UTC time (YYYY-MM-DDTHH:MM:SS or -), latitude, longitude, tab-separated.
KML lines (LineString placemarks) are printed as "line", name, and the point count.
A point CSV file (csv) is read with Python's csv module: one line per row, the number of
fields, then the golf course and course names as hexadecimal UTF-8."""
import sys
import warnings

warnings.simplefilter("ignore")


def utc(t):
    if t is None:
        return "-"
    if t.utcoffset() is None or t.utcoffset().total_seconds() != 0:
        return "not-utc:" + t.isoformat()
    return t.strftime("%Y-%m-%dT%H:%M:%S")


def gpx(path):
    import gpxpy
    with open(path, encoding="utf-8") as f:
        doc = gpxpy.parse(f)
    for w in doc.waypoints:
        print("\t".join([w.name, utc(w.time), repr(w.latitude), repr(w.longitude)]))
    for t in doc.tracks:
        points = [p for s in t.segments for p in s.points]
        print("\t".join(["track", t.name, str(len(points))]))


def kml(path):
    from fastkml import kml as fk
    doc = fk.KML()
    with open(path, "rb") as f:
        doc.from_string(f.read())

    def walk(container):
        for feature in container.features():
            if not isinstance(feature, fk.Placemark):
                walk(feature)
                continue
            g = feature.geometry
            if g.geom_type == "Point":
                print("\t".join([feature.name, utc(feature.timeStamp), repr(g.y), repr(g.x)]))
            else:
                print("\t".join(["line", feature.name, str(len(g.coords))]))

    walk(doc)


def csv_rows(path):
    import csv
    with open(path, encoding="utf-8-sig", newline="") as f:
        for row in csv.reader(f):
            print("\t".join([str(len(row))] + [row[i].encode().hex() for i in (1, 3)]))


{"gpx": gpx, "kml": kml, "csv": csv_rows}[sys.argv[1]](sys.argv[2])

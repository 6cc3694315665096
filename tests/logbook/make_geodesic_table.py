#!/usr/bin/python3
"""Writes geodesic_table.csv: WGS-84 distances between pairs of positions, computed once with
python3-geographiclib, so the logbook's distances are checked against an independent program."""
from geographiclib.geodesic import Geodesic

PAIRS = [
    # A tee shot, a short putt, a chip: golf-sized distances in Japan and elsewhere.
    (35.361205, 138.730150, 35.362480, 138.732910),
    (35.362480, 138.732910, 35.362501, 138.732930),
    (35.123456, 136.000001, 35.124456, 136.001001),
    (-27.950000, 153.380000, -27.948500, 153.382200),
    (25.813000, -80.338000, 25.814000, -80.336000),
    (56.340000, -2.800000, 56.341500, -2.803000),
    (64.000000, -21.000000, 64.002000, -21.004000),
    (0.000000, 179.999000, 0.001000, -179.999000),
    (-45.000000, 170.000000, -45.000000, 170.000001),
    (35.000000, 135.000000, 35.000000, 135.000000),
    (10.0, 20.0, 12.5, 23.75),
]

with open("geodesic_table.csv", "w") as out:
    out.write("lat1,lon1,lat2,lon2,metres\n")
    for lat1, lon1, lat2, lon2 in PAIRS:
        s12 = Geodesic.WGS84.Inverse(lat1, lon1, lat2, lon2)["s12"]
        out.write(f"{lat1:.6f},{lon1:.6f},{lat2:.6f},{lon2:.6f},{s12:.6f}\n")

#!/usr/bin/env python3
"""Writes the NMEA logs of this folder (see README.md). Run it from anywhere:
it rewrites the .nmea files beside itself, byte for byte the same each time."""

import functools
import operator
import os

HERE = os.path.dirname(os.path.abspath(__file__))

# Start of every walk: 47 deg 12.0000' N, 8 deg 30.0000' E, 2 January 2024.
START_LAT_MIN = 47 * 60 + 12.0
START_LON_MIN = 8 * 60 + 30.0
DATE = "020124"
# Four satellites in view (one GSV sentence, so an epoch is four sentences:
# two seconds at gpsfake's half-second cycle); the first `used` of them in
# the solution.
SKY = [(2, 60, 45, 40), (5, 35, 120, 38), (9, 55, 300, 41), (16, 70, 90, 44)]


def sentence(body):
    checksum = functools.reduce(operator.xor, body.encode("ascii"), 0)
    return "$%s*%02X\r\n" % (body, checksum)


def nmea_lat(minutes):
    hemi = "N" if minutes >= 0 else "S"
    minutes = abs(minutes)
    return "%02d%07.4f,%s" % (minutes // 60, minutes % 60, hemi)


def nmea_lon(minutes):
    hemi = "E" if minutes >= 0 else "W"
    minutes = abs(minutes)
    return "%03d%07.4f,%s" % (minutes // 60, minutes % 60, hemi)


def epoch(second, lat_min, lon_min, mode, used, hdop, alt=432.1):
    """One receiver cycle: RMC, GGA, GSA and GSV for `mode` (1 no fix, 2, 3)."""
    t = "10%02d%02d.00" % (second // 60, second % 60)
    fix = mode >= 2
    pos = "%s,%s" % (nmea_lat(lat_min), nmea_lon(lon_min)) if fix else ",,,"
    out = [sentence("GPRMC,%s,%s,%s,0.6,0.0,%s,,,%s" %
                    (t, "A" if fix else "V", pos, DATE, "A" if fix else "N"))]
    # GGA: quality 1 with a fix; 2D fixes carry no altitude.
    altitude = "%.1f,M,48.0,M" % alt if mode == 3 else ",,,"
    out.append(sentence("GPGGA,%s,%s,%d,%02d,%s,%s,," %
                        (t, pos, 1 if fix else 0, used if fix else 0,
                         "%.1f" % hdop if fix else "", altitude)))
    prns = [s[0] for s in SKY[:used]] if fix else []
    prns += [None] * (12 - len(prns))
    dops = ("%.1f,%.1f,%.1f" % (hdop * 1.5, hdop, hdop * 1.2)) if fix else ",,"
    out.append(sentence("GPGSA,A,%d,%s,%s" %
                        (mode, ",".join("%02d" % p if p else "" for p in prns), dops)))
    fields = ",".join("%02d,%02d,%03d,%02d" % s for s in SKY)
    out.append(sentence("GPGSV,1,1,%02d,%s" % (len(SKY), fields)))
    return out


def write(name, header, epochs):
    lines = ["# %s\n" % h for h in header]
    for e in epochs:
        lines.extend(e)
    with open(os.path.join(HERE, name), "w", newline="") as f:
        f.write("".join(lines))


def walk():
    # 3D fix, walking north 0.0010' (1.85 m) and east 0.0005' a second;
    # HDOP 1.0, then 2.0 from the fourth epoch on; 3 of 4 satellites used.
    return [epoch(s, START_LAT_MIN + 0.001 * s, START_LON_MIN + 0.0005 * s, 3, 3,
                  1.0 if s < 3 else 2.0) for s in range(7)]


def lost_regained():
    # 3D for 3 epochs, no fix for 2, 3D again for 3.
    out = []
    for s in range(8):
        mode = 1 if 3 <= s < 5 else 3
        out.append(epoch(s, START_LAT_MIN + 0.001 * s, START_LON_MIN, mode, 3, 1.2))
    return out


def two_d():
    return [epoch(s, START_LAT_MIN - 0.002 * s, START_LON_MIN, 2, 3, 3.0)
            for s in range(5)]


def no_fix():
    return [epoch(s, 0, 0, 1, 0, 0) for s in range(4)]


write("walk_3d.nmea", ["Seven 1 Hz epochs of a 3D fix, walking north-east; written by",
                       "make_fixtures.py in this folder."], walk())
write("lost_regained.nmea", ["A 3D fix for three epochs, none for two, then 3D for three;",
                             "written by make_fixtures.py in this folder."], lost_regained())
write("fix_2d.nmea", ["Five epochs of a 2D fix (no altitude), walking south; written by",
                      "make_fixtures.py in this folder."], two_d())
write("no_fix.nmea", ["Four epochs with satellites in view but no fix; written by",
                      "make_fixtures.py in this folder."], no_fix())

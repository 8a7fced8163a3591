#!/usr/bin/env python3
"""The precision report a recording should give, worked out from its sentences alone.

    expected.py RECORDING > RECORDING-NAME.expected.json

Reads the recording's NMEA lines ($GPGGA, $GPGSA, $GPRMC; any other line, and a line
whose checksum does not hold, is passed over), groups them into epochs by their UTC
time, and computes the figures of kestrane-cli's report as its manual page defines
them. It shares nothing with the program: standard library only.
"""

import json
import math
import re
import sys
from datetime import datetime, timezone

SENTENCE = re.compile(rb"^\$(GP[A-Z]{3}),([^*$]*)\*([0-9A-Fa-f]{2})$")

A = 6378137.0                 # WGS-84 semi-major axis
E2 = 6.69437999014e-3         # WGS-84 first eccentricity squared


def sentences(data):
    """(type, fields) of each line whose checksum holds."""
    for raw in data.split(b"\n"):
        line = raw.rstrip(b"\r")
        m = SENTENCE.match(line)
        if not m:
            continue
        body = line[1:line.rindex(b"*")]
        checksum = 0
        for b in body:
            checksum ^= b
        if checksum != int(m.group(3), 16):
            continue
        yield m.group(1).decode()[2:], m.group(2).decode().split(",")


def time_ms(text):
    if not text:
        return None
    seconds = float(text[4:])
    return (int(text[0:2]) * 3600 + int(text[2:4]) * 60) * 1000 + round(seconds * 1000)


def degrees(value, hemisphere, width):
    if not value or not hemisphere:
        return None
    d = int(value[:width]) + float(value[width:]) / 60.0
    return -d if hemisphere in "SW" else d


def number(text, kind=float):
    return kind(text) if text else None


def epochs(data):
    """Epochs as dicts, in the order of the recording."""
    out = []
    current = None
    day = None          # datetime.date of the latest RMC
    day_time = None     # time of day that day was last applied to

    def close():
        if current is not None and (current["gga"] or current["rmc"]):
            if day is not None:
                midnight = datetime(day.year, day.month, day.day, tzinfo=timezone.utc)
                current["utc_ms"] = int(midnight.timestamp()) * 1000 + current["time_ms"]
            out.append(current)

    for kind, f in sentences(data):
        if kind in ("GGA", "RMC"):
            t = time_ms(f[0])
            if t is None:
                continue
            if current is None or current["time_ms"] != t:
                close()
                if day is not None and day_time - t > 43_200_000:
                    day = datetime.fromordinal(day.toordinal() + 1).date()
                day_time = t
                current = {"time_ms": t, "gga": False, "rmc": False, "valid": False,
                           "quality": None, "mode": None, "alt": None, "sats": None,
                           "hdop": None, "utc_ms": None}
            if kind == "GGA":
                current["gga"] = True
                current["quality"] = number(f[5], int)
                current["sats"] = number(f[6], int)
                current["hdop"] = number(f[7])
                current["alt"] = number(f[8])
                lat, lon = degrees(f[1], f[2], 2), degrees(f[3], f[4], 3)
                current["valid"] = current["quality"] not in (None, 0) and lat is not None \
                    and lon is not None
                current["lat"], current["lon"] = lat, lon
            else:
                if len(f) > 8 and f[8]:
                    day = datetime.strptime(f[8], "%d%m%y").date()
                    day_time = t
                if not current["gga"]:
                    lat, lon = degrees(f[2], f[3], 2), degrees(f[4], f[5], 3)
                    mode_ok = len(f) < 12 or f[11] != "N"
                    current["valid"] = f[1] == "A" and mode_ok and lat is not None \
                        and lon is not None
                    current["lat"], current["lon"] = lat, lon
                current["rmc"] = True
        elif kind == "GSA" and current is not None:
            current["mode"] = number(f[1], int)
            current["hdop"] = number(f[15])
    close()
    return out


def ecef(lat, lon):
    phi, lam = math.radians(lat), math.radians(lon)
    n = A / math.sqrt(1 - E2 * math.sin(phi) ** 2)
    return (n * math.cos(phi) * math.cos(lam), n * math.cos(phi) * math.sin(lam),
            n * (1 - E2) * math.sin(phi))


def rank(values, percent):
    ordered = sorted(values)
    return ordered[max(1, -(-len(ordered) * percent // 100)) - 1]


def sample_sd(values):
    if len(values) < 2:
        return None
    mean = sum(values) / len(values)
    return math.sqrt(sum((v - mean) ** 2 for v in values) / (len(values) - 1))


def report(eps):
    n = len(eps)
    times = [0]
    for a, b in zip(eps, eps[1:]):
        if a["utc_ms"] is not None and b["utc_ms"] is not None:
            step = b["utc_ms"] - a["utc_ms"]
        else:
            step = b["time_ms"] - a["time_ms"]
            step += 86_400_000 if step < -43_200_000 else 0
        times.append(times[-1] + max(step, 0))
    fixes = [i for i, e in enumerate(eps) if e["valid"]]
    gaps = [times[b] - times[a] for a, b in zip(fixes, fixes[1:])]
    if fixes:
        gaps += [times[fixes[0]], times[-1] - times[fixes[-1]]]
    else:
        gaps.append(times[-1] if times else 0)

    def share(test):
        return 100.0 * sum(1 for e in eps if test(e)) / n if n else 0.0

    r = {
        "epochs": n,
        "fixes": len(fixes),
        "differential_fixes": sum(1 for i in fixes if eps[i]["quality"] == 2),
        "span_s": times[-1] / 1000.0 if times else 0.0,
        "availability_percent": 100.0 * len(fixes) / n if n else 0.0,
        "longest_gap_s": max(gaps) / 1000.0,
        "quality_percent": {
            "no_fix": share(lambda e: e["quality"] == 0),
            "gps": share(lambda e: e["quality"] == 1),
            "differential": share(lambda e: e["quality"] == 2),
            "estimated": share(lambda e: e["quality"] == 6),
            "other": share(lambda e: e["quality"] not in (0, 1, 2, 6)),
        },
        "mode_percent": {
            "2d": share(lambda e: e["mode"] == 2),
            "3d": share(lambda e: e["mode"] == 3),
            "no_fix": share(lambda e: e["mode"] == 1),
            "not_given": share(lambda e: e["mode"] not in (1, 2, 3)),
        },
    }
    for key in ("mean_latitude_deg", "mean_longitude_deg", "mean_altitude_m", "cep50_m",
                "cep95_m", "drms2_m", "sigma_east_m", "sigma_north_m", "sigma_up_m",
                "vertical95_m", "hdop_mean", "hdop_max", "satellites_mean", "satellites_max"):
        r[key] = None
    if not fixes:
        return r

    valid = [eps[i] for i in fixes]
    lat0 = sum(e["lat"] for e in valid) / len(valid)
    lon_first = valid[0]["lon"]
    lon0 = lon_first + sum((e["lon"] - lon_first + 180.0) % 360.0 - 180.0
                           for e in valid) / len(valid)
    lon0 = (lon0 + 180.0) % 360.0 - 180.0
    alts = [e["alt"] for e in valid if e["alt"] is not None]
    alt0 = sum(alts) / len(alts) if alts else None
    x0, y0, z0 = ecef(lat0, lon0)
    phi, lam = math.radians(lat0), math.radians(lon0)
    east, north = [], []
    for e in valid:
        x, y, z = ecef(e["lat"], e["lon"])
        dx, dy, dz = x - x0, y - y0, z - z0
        east.append(-math.sin(lam) * dx + math.cos(lam) * dy)
        north.append(-math.sin(phi) * math.cos(lam) * dx - math.sin(phi) * math.sin(lam) * dy
                     + math.cos(phi) * dz)
    distances = [math.hypot(de, dn) for de, dn in zip(east, north)]
    up = [a - alt0 for a in alts]
    r["mean_latitude_deg"] = lat0
    r["mean_longitude_deg"] = lon0
    r["mean_altitude_m"] = alt0
    r["cep50_m"] = rank(distances, 50)
    r["cep95_m"] = rank(distances, 95)
    r["sigma_east_m"] = sample_sd(east)
    r["sigma_north_m"] = sample_sd(north)
    if r["sigma_east_m"] is not None:
        r["drms2_m"] = 2 * math.sqrt(r["sigma_east_m"] ** 2 + r["sigma_north_m"] ** 2)
    r["sigma_up_m"] = sample_sd(up)
    r["vertical95_m"] = rank([abs(u) for u in up], 95) if up else None
    hdops = [e["hdop"] for e in valid if e["hdop"] is not None]
    sats = [e["sats"] for e in valid if e["sats"] is not None]
    if hdops:
        r["hdop_mean"], r["hdop_max"] = sum(hdops) / len(hdops), max(hdops)
    if sats:
        r["satellites_mean"], r["satellites_max"] = sum(sats) / len(sats), max(sats)
    return r


def main():
    with open(sys.argv[1], "rb") as f:
        figures = report(epochs(f.read()))
    figures["passed"] = figures["epochs"] > 0
    figures["failed"] = [] if figures["passed"] else ["no fix sentence (GGA or RMC) was received"]
    json.dump(figures, sys.stdout, indent=1)
    sys.stdout.write("\n")


if __name__ == "__main__":
    main()

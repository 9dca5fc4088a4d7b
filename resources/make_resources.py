#!/usr/bin/env python3
"""Generates the program's bitmaps and WAVE sounds.

    python3 resources/make_resources.py

Sounds are synthesised here (16-bit PCM mono, 22050 Hz, deterministic noise,
so a rerun gives identical files). Pictures are drawn by generator/draw_bitmaps.cpp,
which this script builds with g++ against Qt 6 (pkg-config Qt6Gui) and runs
offscreen; the script then writes each picture as a BMP file of its colour depth:

    128, 129  toolbar strips, 4 bits (16-colour palette), button face RGB(192,192,192)
    128@2x, 129@2x  the same strips at twice the size, for high-density screens
    132       splash, 24 bits
    134       position marker, 1 bit (black and white)
    149       instruction screen, 8 bits
    154       blank plan, 4 bits
"""

import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
BITMAPS = os.path.join(HERE, "bitmaps")
SOUNDS = os.path.join(HERE, "sounds")

RATE = 22050

# The 16-colour palette, in the order of the classic 4-bit display.
PALETTE16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Picture name -> bits per pixel.
DEPTHS = {"128": 4, "129": 4, "132": 24, "134": 1, "149": 8, "154": 4,
          "128@2x": 4, "129@2x": 4}


# --- sounds -----------------------------------------------------------------

class Noise:
    """A small linear congruential generator: the same noise on every run."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state * 1103515245 + 12345) & 0x7FFFFFFF
        return self.state / 0x3FFFFFFF - 1.0


def write_wav(path, samples):
    pcm = bytearray()
    for s in samples:
        v = int(round(max(-1.0, min(1.0, s)) * 32767))
        pcm += struct.pack("<h", v)
    header = b"RIFF" + struct.pack("<I", 36 + len(pcm)) + b"WAVE"
    fmt = b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, RATE, RATE * 2, 2, 16)
    data = b"data" + struct.pack("<I", len(pcm))
    with open(path, "wb") as f:
        f.write(header + fmt + data + bytes(pcm))


def fade(samples, ms=5):
    """Short fade in and out so no sound starts or ends with a click."""
    n = min(len(samples) // 2, int(RATE * ms / 1000))
    for i in range(n):
        g = i / n
        samples[i] *= g
        samples[-1 - i] *= g
    return samples


def ping():
    # A bright bell-like tone that dies away: one reading started.
    n = int(RATE * 0.25)
    out = []
    for i in range(n):
        t = i / RATE
        env = math.exp(-t / 0.06)
        out.append(0.7 * env * (math.sin(2 * math.pi * 1760 * t)
                                + 0.3 * math.sin(2 * math.pi * 3520 * t)) / 1.3)
    return fade(out, 2)


def whoosh():
    # Noise through a low-pass filter whose corner sweeps up and back down.
    n = int(RATE * 0.5)
    rng = Noise(1)
    out, y = [], 0.0
    for i in range(n):
        x = i / n
        corner = 300 + 3500 * math.sin(math.pi * x)
        a = 1 - math.exp(-2 * math.pi * corner / RATE)
        y += a * (rng.next() - y)
        out.append(1.6 * y * math.sin(math.pi * x) ** 2)
    return fade(out)


def camera():
    # Shutter: a click, a short mechanical rattle, a second click.
    n = int(RATE * 0.22)
    rng = Noise(7)
    out = [0.0] * n

    def burst(start, length, level, tone):
        for i in range(int(RATE * length)):
            j = int(RATE * start) + i
            if j >= n:
                break
            t = i / RATE
            env = math.exp(-t / (length / 4))
            out[j] += level * env * (0.6 * rng.next() + 0.4 * math.sin(2 * math.pi * tone * t))

    burst(0.0, 0.012, 0.9, 2500)
    burst(0.015, 0.06, 0.35, 900)
    burst(0.13, 0.012, 0.9, 3000)
    burst(0.145, 0.04, 0.3, 1100)
    return fade(out, 1)


def redalert():
    # Two rising siren sweeps: a failure the user must notice.
    sweep = 0.45
    n = int(RATE * 2 * sweep)
    out, phase = [], 0.0
    for i in range(n):
        t = (i / RATE) % sweep
        freq = 520 + 700 * (t / sweep)
        phase += 2 * math.pi * freq / RATE
        # A square-ish tone: fundamental plus odd harmonics.
        s = math.sin(phase) + math.sin(3 * phase) / 3 + math.sin(5 * phase) / 5
        out.append(0.5 * s)
    return fade(out)


# --- bitmaps ----------------------------------------------------------------

def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    parts = data.split(b"\n", 3)
    if parts[0] != b"P6" or parts[2] != b"255":
        raise ValueError(f"{path}: not a binary PPM")
    width, height = (int(v) for v in parts[1].split())
    pixels = parts[3]
    if len(pixels) != width * height * 3:
        raise ValueError(f"{path}: wrong pixel count")
    rows = [[tuple(pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]) for x in range(width)]
            for y in range(height)]
    return width, height, rows


def write_bmp(path, width, height, rows, bits):
    if bits == 24:
        palette = []
    elif bits == 4:
        palette = PALETTE16
    elif bits == 1:
        palette = [(0, 0, 0), (255, 255, 255)]
    else:
        palette = sorted({p for row in rows for p in row})
        if len(palette) > 256:
            raise ValueError(f"{path}: {len(palette)} colours do not fit 8 bits")
    index = {c: i for i, c in enumerate(palette)}

    def nearest(c):
        if c not in index:
            index[c] = min(range(len(palette)),
                           key=lambda i: sum((a - b) ** 2 for a, b in zip(c, palette[i])))
        return index[c]

    stride = ((width * bits + 31) // 32) * 4
    body = bytearray()
    for row in reversed(rows):  # BMP rows run bottom-up
        line = bytearray()
        if bits == 24:
            for r, g, b in row:
                line += bytes((b, g, r))
        elif bits == 8:
            line += bytes(nearest(c) for c in row)
        else:
            per_byte = 8 // bits
            for x in range(0, width, per_byte):
                v = 0
                for k in range(per_byte):
                    i = nearest(row[x + k]) if x + k < width else 0
                    v |= i << (8 - bits * (k + 1))
                line.append(v)
        line += bytes(stride - len(line))
        body += line
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    offset = 14 + 40 + len(colours)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(body),
                       2835, 2835, len(palette), 0)
    head = b"BM" + struct.pack("<IHHI", offset + len(body), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + colours + bytes(body))


def draw_bitmaps(work):
    source = os.path.join(HERE, "generator", "draw_bitmaps.cpp")
    exe = os.path.join(work, "draw_bitmaps")
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "Qt6Gui"], check=True,
                           capture_output=True, text=True).stdout.split()
    subprocess.run(["g++", "-std=c++17", "-O1", "-fPIC", source, "-o", exe] + flags, check=True)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    subprocess.run([exe, work], check=True, env=env)
    for name, bits in DEPTHS.items():
        width, height, rows = read_ppm(os.path.join(work, name + ".ppm"))
        write_bmp(os.path.join(BITMAPS, name + ".bmp"), width, height, rows, bits)


def main():
    os.makedirs(BITMAPS, exist_ok=True)
    os.makedirs(SOUNDS, exist_ok=True)
    for name, make in (("PING", ping), ("WHOOSH", whoosh), ("CAMERA", camera),
                       ("REDALERT", redalert)):
        write_wav(os.path.join(SOUNDS, name + ".wav"), make())
    work = tempfile.mkdtemp(prefix="ketrion-res-")
    try:
        draw_bitmaps(work)
    finally:
        shutil.rmtree(work)
    return 0


if __name__ == "__main__":
    sys.exit(main())

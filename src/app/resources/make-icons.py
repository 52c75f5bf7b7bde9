#!/usr/bin/env python3
"""Draws the program icon (braces and radio waves on a blue square) with
ImageMagick 6 and writes icons/<size>/tovrik.png for every size the window
and the desktop use. Run from this directory; set CONVERT to pick the
ImageMagick convert program (default: convert-im6.q16, else convert)."""
import math
import os
import shutil
import subprocess

SIZES = (16, 24, 32, 48, 64, 128, 256)
CONVERT = os.environ.get("CONVERT") or shutil.which("convert-im6.q16") or "convert"
WAVE_CENTRE = (690, 340)


def wave(radius, width):
    """A quarter ring from straight up to straight right, with round ends."""
    cx, cy = WAVE_CENTRE
    outer = [(cx + (radius + width / 2) * math.cos(math.radians(a)),
              cy + (radius + width / 2) * math.sin(math.radians(a))) for a in range(-90, 1)]
    inner = [(cx + (radius - width / 2) * math.cos(math.radians(a)),
              cy + (radius - width / 2) * math.sin(math.radians(a))) for a in range(0, -91, -1)]
    polygon = "polygon " + " ".join("%.1f,%.1f" % p for p in outer + inner)
    ends = ["circle %.1f,%.1f %.1f,%.1f" % (cx, cy - radius, cx, cy - radius + width / 2),
            "circle %.1f,%.1f %.1f,%.1f" % (cx + radius, cy, cx + radius + width / 2, cy)]
    return [polygon] + ends


def main():
    cx, cy = WAVE_CENTRE
    args = [CONVERT, "-size", "1024x1024", "xc:none",
            "-fill", "#1e88e5", "-draw", "roundrectangle 40,40 983,983 190,190",
            "-fill", "#1565c0", "-draw",
            'path "M 40,600 L 983,600 L 983,793 A 190,190 0 0,1 793,983 L 230,983 A 190,190 0 0,1 40,793 Z"',
            "-fill", "#ffb300"]
    for shape in wave(150, 60) + wave(260, 60) + ["circle %d,%d %d,%d" % (cx, cy, cx, cy + 50)]:
        args += ["-draw", shape]
    args += ["-fill", "white", "-font", "DejaVu-Sans-Bold", "-pointsize", "560",
             "-gravity", "southwest", "-annotate", "+90+60", "{}", "png32:icon-1024.png"]
    subprocess.check_call(args)
    for size in SIZES:
        os.makedirs("icons/%d" % size, exist_ok=True)
        subprocess.check_call([CONVERT, "icon-1024.png", "-filter", "Lanczos", "-resize", "%dx%d" % (size, size),
                               "png32:icons/%d/tovrik.png" % size])
    os.remove("icon-1024.png")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the two LUTs of the README's worked pipeline into a folder.

    python3 docs/example-luts.py DIR

camera.cube (33 points) takes a camera's log encoding and wide gamut to a
log working space (pure log2, 17.52 stops over 0..1); display.cube (33
points) takes that working space to a display: a filmic tone curve with
highlights that lose saturation, encoded with a 2.4 gamma. Both are made up
for the example, smooth and plausible, and need nothing beyond Python.
"""
import math
import os
import sys

SIZE = 33


def camera_log_to_linear(v):
    return (10.0 ** ((v - 0.4) / 0.24) - 0.05) / 6.0


def linear_to_working_log(x):
    # Linear 2^-9.72 (about 0.0012) and below is 0, 2^7.8 and above 1.
    return min(max((math.log2(max(x, 2.0 ** -16)) + 9.72) / 17.52, 0.0), 1.0)


def working_log_to_linear(v):
    return 2.0 ** (v * 17.52 - 9.72)


# From the camera's wide gamut to the working gamut (rows sum to one).
CAMERA_TO_WORKING = [
    [1.28, -0.20, -0.08],
    [-0.06, 1.14, -0.08],
    [0.01, -0.13, 1.12],
]


def camera(rgb):
    lin = [camera_log_to_linear(v) for v in rgb]
    mixed = [sum(m * c for m, c in zip(row, lin)) for row in CAMERA_TO_WORKING]
    return [linear_to_working_log(c) for c in mixed]


def display(rgb):
    lin = [working_log_to_linear(v) for v in rgb]
    # Highlights move towards their own luminance before the tone curve.
    luma = 0.2126 * lin[0] + 0.7152 * lin[1] + 0.0722 * lin[2]
    keep = 1.0 / (1.0 + 0.15 * max(luma, 0.0))
    lin = [luma + (c - luma) * keep for c in lin]
    out = []
    for c in lin:
        c = max(c, 0.0)
        tone = c / (c + 1.1) * 1.05  # mid grey (0.18) to 0.45 on the display
        out.append(min(max(tone, 0.0), 1.0) ** (1.0 / 2.4))
    return out


def write_cube(path, title, transform):
    with open(path, "w") as f:
        f.write('TITLE "%s"\nLUT_3D_SIZE %d\n' % (title, SIZE))
        for b in range(SIZE):
            for g in range(SIZE):
                for r in range(SIZE):
                    out = transform([r / (SIZE - 1), g / (SIZE - 1), b / (SIZE - 1)])
                    f.write("%.6f %.6f %.6f\n" % tuple(out))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: example-luts.py DIR")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    write_cube(os.path.join(folder, "camera.cube"), "camera log to working log", camera)
    write_cube(os.path.join(folder, "display.cube"), "working log to display", display)


if __name__ == "__main__":
    main()

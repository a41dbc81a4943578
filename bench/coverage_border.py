#!/usr/bin/python3
"""Sky level of a registered stack where fewer frames overlap, against its centre.

    bench/coverage_border.py TABLE.json FRAME_WIDTH FRAME_HEIGHT STACK.fits...

For each output pixel the number of frames covering it is computed from the registration table
as the stack does it (the inverse transform of the pixel's reference position, truncated toward
zero, must be a pixel of the frame; output pixel (u, v) stands for the reference point
(u + trunc(minX), v + minY)). Prints, per coverage count, the median sky of those pixels
relative to the median of the pixels all frames cover (stars hardly move a median).
"""
import json
import math
import sys

import numpy as np
from astropy.io import fits


def coverage(table, width, height, shape):
    rows = [r for r in table["frames"] if r["stackable"]]
    cx, cy = width // 2, height // 2
    min_x = min_y = 0.0
    for r in rows:
        a = math.radians(r["angle"])
        c, s = math.cos(a), math.sin(a)
        for px, py in ((0, 0), (width - 1, 0), (0, height - 1), (width - 1, height - 1)):
            min_x = min(min_x, c * (px - cx) + s * (py - cy) + cx + r["offsetX"])
            min_y = min(min_y, -s * (px - cx) + c * (py - cy) + cy + r["offsetY"])
    v, u = np.mgrid[0 : shape[0], 0 : shape[1]].astype(np.float32)
    X = u + np.float32(math.trunc(min_x))
    Y = v + np.float32(min_y)
    count = np.zeros(shape, dtype=np.int32)
    for r in rows:
        a = math.radians(r["angle"])
        c, s = np.float32(math.cos(a)), np.float32(math.sin(a))
        dx = X - np.float32(r["offsetX"]) - np.float32(cx)
        dy = Y - np.float32(r["offsetY"]) - np.float32(cy)
        x = c * dx - s * dy + np.float32(cx)
        y = s * dx + c * dy + np.float32(cy)
        inside = (x > -1) & (y > -1) & (np.trunc(x) < width) & (np.trunc(y) < height)
        count += inside
    return count, len(rows)


def main():
    table = json.load(open(sys.argv[1]))
    width, height = int(sys.argv[2]), int(sys.argv[3])
    for path in sys.argv[4:]:
        data = fits.getdata(path).astype(np.float64)
        data = data.mean(axis=0) if data.ndim == 3 else data
        count, frames = coverage(table, width, height, data.shape)
        full = np.median(data[count == frames])
        parts = []
        for n in sorted(set(np.unique(count)) - {0, frames}):
            if (count == n).sum() >= 2000:
                parts.append(f"{n}: {100 * (np.median(data[count == n]) / full - 1):+.2f} %")
        worst = max((abs(np.median(data[count == n]) / full - 1) for n in range(1, frames) if (count == n).sum() >= 2000),
                    default=0.0)
        print(f"{path.split('/')[-1]}: all {frames} frames {full:.5f}; by frames covering: {', '.join(parts)}; "
              f"largest difference {100 * worst:.2f} %")


if __name__ == "__main__":
    main()

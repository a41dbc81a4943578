#!/usr/bin/python3
"""Median star FWHM of single frames and of registered stacks, measured at the true positions of
the bright, isolated, unsaturated stars of a set made by ../shared/bench/make_frames.py.

    bench/stack_fwhm.py --set DATA/reg_g3000 --frames                       # every frame of f32/
    bench/stack_fwhm.py --set DATA/reg_g3000 --table TABLE.json STACK.fits  # stacks from TABLE
    bench/stack_fwhm.py --detect IMAGE.fits...                               # real frames, no truth

Stars: in frame 1 with a signal-to-noise ratio of at least 50 and a peak below 25000 e-
(stars.csv), no other star brighter than 1 % of them within 12 px, and at least 25 px inside
every frame. Each star gets a 2-D Gaussian (free centre, widths, amplitude, background) fitted to
the 15 x 15 pixels around its predicted position; its FWHM is 2.3548 sqrt(sx sy). A Gaussian is
not the frames' Moffat profile, so the figures compare images with each other; they are not the
generator's FWHM.

Positions: a frame's star lies at truth.json's ref_to_frame of its reference position (0-based,
x = column). A stack's output pixel (u, v) stands for the reference point (u + trunc(minX),
v + minY), the bounding box of the table's frames as the stack computes it
(src/core/stack/registeredgeometry.h). The script also prints the median offset of the fitted
centres from the predicted ones: a systematic shift of the stacked image shows there.

--detect, for images without a truth (the M94 frames): the stars are found in each image itself,
as the local maxima of a 3 x 3 box-smoothed copy (which hides a colour mosaic's pattern) that stand
20 sky noises above the sky, lie 25 px inside the image, have no brighter peak within 12 px and peak
below 90 % of the image's maximum. Besides the FWHM it prints the median roundness, the smaller
fitted width over the larger (1 for a round star).
"""
import argparse
import json
import math
import os
import sys

import numpy as np
from astropy.io import fits
from scipy.optimize import least_squares

HALF = 7
FWHM_PER_SIGMA = 2.0 * math.sqrt(2.0 * math.log(2.0))


def read_image(path):
    data = np.asarray(fits.getdata(path), dtype=np.float64)
    if data.ndim == 3:  # the stack's colour planes: grey frames give three equal ones
        data = data.mean(axis=0)
    return data


def select_stars(set_dir, truth):
    stars = np.genfromtxt(os.path.join(set_dir, "stars.csv"), delimiter=",", names=True)
    w, h = truth["width"], truth["height"]
    x, y, flux = stars["x_ref"], stars["y_ref"], stars["flux_e"]
    chosen = []
    for i in np.nonzero((stars["in_frame1"] == 1) & (stars["snr_frame1"] >= 50) & (stars["peak_e_frame1"] < 25000))[0]:
        near = (np.hypot(x - x[i], y - y[i]) < 12) & (flux > 0.01 * flux[i])
        if near.sum() > 1:
            continue
        inside = True
        for frame in truth["frames"]:
            m = frame["ref_to_frame"]
            fx = m[0][0] * x[i] + m[0][1] * y[i] + m[0][2]
            fy = m[1][0] * x[i] + m[1][1] * y[i] + m[1][2]
            inside &= 25 <= fx <= w - 26 and 25 <= fy <= h - 26
        if inside:
            chosen.append((x[i], y[i]))
    return chosen


def stack_origin(table_path, width, height):
    """(trunc(minX), minY) of the stack: the corners of every frame mapped into the reference."""
    min_x, min_y = 0.0, 0.0
    cx, cy = width // 2, height // 2
    for row in json.load(open(table_path))["frames"]:
        if not row["stackable"]:
            continue
        a = math.radians(row["angle"])
        c, s = math.cos(a), math.sin(a)
        for px, py in ((0, 0), (width - 1, 0), (0, height - 1), (width - 1, height - 1)):
            X = c * (px - cx) + s * (py - cy) + cx + row["offsetX"]
            Y = -s * (px - cx) + c * (py - cy) + cy + row["offsetY"]
            min_x, min_y = min(min_x, X), min(min_y, Y)
    return math.trunc(min_x), min_y


def fit_star(image, px, py):
    """(FWHM, centre x, centre y) of a Gaussian fitted around (px, py), or None."""
    ix, iy = int(round(px)), int(round(py))
    if ix - HALF < 0 or iy - HALF < 0 or ix + HALF >= image.shape[1] or iy + HALF >= image.shape[0]:
        return None
    cut = image[iy - HALF : iy + HALF + 1, ix - HALF : ix + HALF + 1]
    if not np.all(np.isfinite(cut)):
        return None
    yy, xx = np.mgrid[iy - HALF : iy + HALF + 1, ix - HALF : ix + HALF + 1]
    border = np.concatenate([cut[0], cut[-1], cut[:, 0], cut[:, -1]])
    background = np.median(border)

    def residual(p):
        b, a, x0, y0, sx, sy = p
        return (b + a * np.exp(-0.5 * (((xx - x0) / sx) ** 2 + ((yy - y0) / sy) ** 2)) - cut).ravel()

    start = [background, cut.max() - background, px, py, 1.4, 1.4]
    bounds = ([-np.inf, 0.0, px - 3, py - 3, 0.3, 0.3], [np.inf, np.inf, px + 3, py + 3, 6.0, 6.0])
    try:
        result = least_squares(residual, start, bounds=bounds)
    except ValueError:
        return None
    if not result.success:
        return None
    _, _, x0, y0, sx, sy = result.x
    return FWHM_PER_SIGMA * math.sqrt(sx * sy), x0 - px, y0 - py, min(sx, sy) / max(sx, sy)


def measure(image, positions):
    fits_ = [f for f in (fit_star(image, x, y) for x, y in positions) if f is not None]
    if not fits_:
        return None
    values = np.array(fits_)
    return np.median(values[:, 0]), len(fits_), np.median(values[:, 1]), np.median(values[:, 2])


def detect_stars(image):
    smooth = image.copy()
    smooth[1:-1, 1:-1] = sum(image[1 + dy : image.shape[0] - 1 + dy, 1 + dx : image.shape[1] - 1 + dx]
                             for dy in (-1, 0, 1) for dx in (-1, 0, 1)) / 9.0
    sky = np.median(smooth)
    noise = 1.4826 * np.median(np.abs(smooth - sky))
    core = smooth[1:-1, 1:-1]
    peak = np.ones_like(core, dtype=bool)
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            if dx or dy:
                peak &= core >= smooth[1 + dy : smooth.shape[0] - 1 + dy, 1 + dx : smooth.shape[1] - 1 + dx]
    ys, xs = np.nonzero(peak & (core > sky + 20 * noise) & (core < sky + 0.9 * (image.max() - sky)))
    ys, xs = ys + 1, xs + 1
    values = smooth[ys, xs]
    order = np.argsort(-values)
    chosen = []
    for i in order:
        x, y = xs[i], ys[i]
        if not (25 <= x < image.shape[1] - 25 and 25 <= y < image.shape[0] - 25):
            continue
        near = (np.hypot(xs - x, ys - y) < 12) & (values > values[i])
        if near.any():
            continue
        chosen.append((float(x), float(y)))
    return chosen


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--set", help="the data set (truth.json, stars.csv, f32/)")
    parser.add_argument("--detect", action="store_true", help="find the stars in each image itself")
    parser.add_argument("--frames", action="store_true", help="measure every frame of the set")
    parser.add_argument("--table", help="the registration table the stacks were made from")
    parser.add_argument("stacks", nargs="*")
    args = parser.parse_args()
    if args.detect:
        print(f"{'image':50s} {'FWHM':>7s} {'round':>6s} {'stars':>6s}")
        for path in args.stacks:
            image = read_image(path)
            fits_ = [f for f in (fit_star(image, x, y) for x, y in detect_stars(image)) if f is not None]
            values = np.array(fits_)
            print(f"{os.path.basename(path)[-50:]:50s} {np.median(values[:, 0]):7.3f} {np.median(values[:, 3]):6.3f} "
                  f"{len(fits_):6d}")
        return
    truth = json.load(open(os.path.join(args.set, "truth.json")))
    stars = select_stars(args.set, truth)
    print(f"{len(stars)} bright isolated unsaturated stars")
    print(f"{'image':40s} {'FWHM':>7s} {'stars':>6s} {'dx':>7s} {'dy':>7s}")
    if args.frames:
        medians = []
        for frame in truth["frames"]:
            m = frame["ref_to_frame"]
            positions = [(m[0][0] * x + m[0][1] * y + m[0][2], m[1][0] * x + m[1][1] * y + m[1][2]) for x, y in stars]
            result = measure(read_image(os.path.join(args.set, "f32", frame["file"])), positions)
            if result:
                medians.append(result[0])
                print(f"{frame['file']:40s} {result[0]:7.3f} {result[1]:6d} {result[2]:7.3f} {result[3]:7.3f}")
        print(f"{'median of the frames':40s} {np.median(medians):7.3f}")
    if args.stacks:
        if not args.table:
            sys.exit("stacks need --table")
        left, top = stack_origin(args.table, truth["width"], truth["height"])
        positions = [(x - left, y - top) for x, y in stars]
        for path in args.stacks:
            result = measure(read_image(path), positions)
            if result:
                print(f"{os.path.basename(path):40s} {result[0]:7.3f} {result[1]:6d} {result[2]:7.3f} {result[3]:7.3f}")


if __name__ == "__main__":
    main()

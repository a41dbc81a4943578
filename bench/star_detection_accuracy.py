#!/usr/bin/python3
"""How well a star search found the stars of a synthetic frame with known truth.

    verdanix-cli stars FRAME.fits --threshold auto --json > found.json
    /usr/bin/python3 bench/star_detection_accuracy.py found.json DATA/reg_g3000/stars.csv \
        [--frame N] [--snr 20] [--radius 1.5] [--json]

found.json is the JSON object of `verdanix-cli stars --json` ("stars": [{x, y, ...}], "threshold").
stars.csv lists the reference frame's stars (x_ref, y_ref: 0-based column and row, which is also
the program's convention, flux_e, snr_frame1, peak_e_frame1, in_frame1); truth.json next to it gives
the frame size. For another frame than the first, give its number: the catalogue is carried into
that frame with its ref_to_frame matrix (the signal-to-noise figures stay those of frame 1).

Prints:
  recall     the fraction of catalogue stars with SNR above --snr inside the frame that have a
             detection within --radius px; also the same for the stars the search can see at all
             (centre more than --margin px from every edge, peak below --saturation e-).
  false      the fraction of detections without any catalogue star (of any brightness) within
             --radius px.
Needs Debian's python3 with python3-numpy.
"""
import argparse
import csv
import json
import os
import sys

import numpy as np

FULL_SCALE_E = 65535.0


def load_catalogue(path):
    with open(path, newline="") as fh:
        rows = list(csv.DictReader(fh))
    cat = {k: np.array([float(r[k]) for r in rows]) for k in ("x_ref", "y_ref", "flux_e", "snr_frame1", "peak_e_frame1")}
    return cat


def nearest_distances(px, py, qx, qy, cell=8.0):
    """For each point p, the distance to the nearest q (inf when none within one grid cell)."""
    out = np.full(len(px), np.inf)
    if len(qx) == 0 or len(px) == 0:
        return out
    grid = {}
    for i, (x, y) in enumerate(zip(np.floor(qx / cell).astype(int), np.floor(qy / cell).astype(int))):
        grid.setdefault((x, y), []).append(i)
    for i in range(len(px)):
        cx, cy = int(np.floor(px[i] / cell)), int(np.floor(py[i] / cell))
        best = np.inf
        for gx in (cx - 1, cx, cx + 1):
            for gy in (cy - 1, cy, cy + 1):
                for j in grid.get((gx, gy), ()):
                    d = np.hypot(px[i] - qx[j], py[i] - qy[j])
                    best = min(best, d)
        out[i] = best
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("found", help="JSON of verdanix-cli stars --json ('-' for standard input)")
    ap.add_argument("catalogue", help="stars.csv of the data set")
    ap.add_argument("--truth", help="truth.json (default: the one next to stars.csv)")
    ap.add_argument("--frame", type=int, default=1, help="frame number in truth.json (1 = reference)")
    ap.add_argument("--snr", type=float, default=20.0, help="recall counts stars above this SNR (default 20)")
    ap.add_argument("--radius", type=float, default=1.5, help="match radius in pixels (default 1.5)")
    ap.add_argument("--margin", type=float, default=21.0,
                    help="edge band the search cannot see, in pixels (default 21 = 2 x star size 10 + 1)")
    ap.add_argument("--saturation", type=float, default=0.98 * FULL_SCALE_E,
                    help="peak in e- at or above which the search leaves a star out (default 0.98 of 65535)")
    ap.add_argument("--json", action="store_true", help="print the figures as a JSON object")
    a = ap.parse_args()

    found = json.load(sys.stdin if a.found == "-" else open(a.found))
    fx = np.array([s["x"] for s in found["stars"]], dtype=float)
    fy = np.array([s["y"] for s in found["stars"]], dtype=float)
    cat = load_catalogue(a.catalogue)
    x, y = cat["x_ref"], cat["y_ref"]
    truth_path = a.truth or os.path.join(os.path.dirname(os.path.abspath(a.catalogue)), "truth.json")
    if not os.path.exists(truth_path):
        ap.error("truth.json not found next to %s; give --truth" % a.catalogue)
    truth = json.load(open(truth_path))
    width, height = truth["width"], truth["height"]
    m = np.array(truth["frames"][a.frame - 1]["ref_to_frame"])
    x, y = m[0, 0] * x + m[0, 1] * y + m[0, 2], m[1, 0] * x + m[1, 1] * y + m[1, 2]

    inside = (x >= 0) & (x <= width - 1) & (y >= 0) & (y <= height - 1)
    wanted = inside & (cat["snr_frame1"] > a.snr)
    visible = wanted & (x > a.margin) & (x < width - 1 - a.margin) & (y > a.margin) & (y < height - 1 - a.margin) \
        & (cat["peak_e_frame1"] < a.saturation)
    to_found = nearest_distances(x, y, fx, fy)
    hit = to_found <= a.radius
    to_true = nearest_distances(fx, fy, x, y)
    false = int((to_true > a.radius).sum())

    result = dict(threshold=found.get("threshold"), detections=len(fx), false=false,
                  false_fraction=false / len(fx) if len(fx) else 0.0,
                  wanted=int(wanted.sum()), found=int((wanted & hit).sum()),
                  recall=float((wanted & hit).sum() / max(1, wanted.sum())),
                  visible=int(visible.sum()), visible_found=int((visible & hit).sum()),
                  visible_recall=float((visible & hit).sum() / max(1, visible.sum())))
    if a.json:
        print(json.dumps(result, indent=2))
        return
    print("threshold:           %s" % result["threshold"])
    print("detections:          %d" % result["detections"])
    print("recall SNR > %g:     %d / %d = %.1f %%" % (a.snr, result["found"], result["wanted"], 100 * result["recall"]))
    print("  searchable ones:   %d / %d = %.1f %% (more than %g px from the edges, not saturated)"
          % (result["visible_found"], result["visible"], 100 * result["visible_recall"], a.margin))
    print("false detections:    %d / %d = %.1f %% (no true star within %g px)"
          % (false, len(fx), 100 * result["false_fraction"], a.radius))


if __name__ == "__main__":
    main()

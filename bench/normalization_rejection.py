#!/usr/bin/python3
"""How many sky samples a sigma stack rejects when the frames' skies differ, with and without
normalisation: makes a copy of a set whose frames' skies differ (each frame i becomes
v x gain_i + sky x lift_i, gains 0.9 ... 1.1 and lifts 0 ... 0.1, so levels differ by up to 20 %),
stacks the equal set, the skewed set and the skewed set with --normalize addscale through
verdanix-cli (sigma, default K = 1), and counts, with the program's own clipping rule (one pass:
mean and population deviation over the frames, a sample outside mean +- K x deviation is
rejected) applied to the frames as the stack saw them (the normalised ones with the factors the
stack logged), the rejected samples of sky pixels (pixels of the first frame below its sky + 3
noise).

    bench/normalization_rejection.py CLI DATA/stk_g3000/f32 WORKDIR
"""
import math
import os
import re
import subprocess
import sys
import time

import numpy as np
from astropy.io import fits

K = 1.0
ROWS = 100


def skewed_copy(frames, work):
    os.makedirs(work, exist_ok=True)
    sky = float(np.median(fits.getdata(frames[0])))
    rng = np.random.default_rng(3)
    out = []
    for i, path in enumerate(frames):
        gain = 1.0 if i == 0 else rng.uniform(0.9, 1.1)
        lift = 0.0 if i == 0 else rng.uniform(0.0, 0.1)
        target = os.path.join(work, f"skewed_{i:03d}.fits")
        if not os.path.exists(target):
            data = fits.getdata(path).astype(np.float32)
            fits.writeto(target, (data * gain + sky * lift).astype(np.float32))
        out.append(target)
    return out


def stack(cli, frames, out, extra):
    if os.path.exists(out):
        os.remove(out)
    start = time.time()
    run = subprocess.run([cli, "stack", "--method", "sigma", "--out", out] + extra + frames,
                         capture_output=True, text=True, check=True)
    seconds = time.time() - start
    factors = {}
    for line in run.stderr.splitlines():
        m = re.match(r"Normalization of (.*): scale ([^,]+), [^;]+; offset ([^,]+),", line)
        if m:
            factors[m.group(1)] = (float(m.group(2)), float(m.group(3)))
    return seconds, factors


def rejected(frames, factors):
    handles = [fits.open(p, memmap=True) for p in frames]
    height, width = handles[0][0].data.shape
    first = handles[0][0].data
    sky = float(np.median(first))
    noise = 1.4826 * float(np.median(np.abs(first[::7, ::7] - sky)))
    total = count = 0
    for top in range(0, height, ROWS):
        block = np.stack([h[0].data[top : top + ROWS].astype(np.float32) for h in handles])
        for i, path in enumerate(frames):
            scale, offset = factors.get(path, (1.0, 0.0))
            block[i] = block[i] * np.float32(scale) + np.float32(offset)
        mean = block.mean(axis=0)
        deviation = np.sqrt(((block - mean) ** 2).mean(axis=0))
        out = np.abs(block - mean) > K * deviation
        skymask = handles[0][0].data[top : top + ROWS] < sky + 3 * noise
        count += int(out[:, skymask].sum())
        total += int(skymask.sum()) * len(frames)
    return count, total


def main():
    cli, folder, work = sys.argv[1], sys.argv[2], sys.argv[3]
    frames = sorted(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(".fits"))
    skewed = skewed_copy(frames, work)
    rows = [("equal skies", frames, []), ("skies differ, none", skewed, []),
            ("skies differ, --normalize addscale", skewed, ["--normalize", "addscale"])]
    base = None
    print(f"{'set':38s} {'rejected sky samples':>22s} {'vs equal':>9s} {'stack time':>10s}")
    for name, paths, extra in rows:
        seconds, factors = stack(cli, paths, os.path.join(work, "stack.fits"), extra)
        count, total = rejected(paths, factors)
        base = base or count
        print(f"{name:38s} {count:12d} ({100 * count / total:5.2f} %) {100 * (count - base) / base:+8.2f} % {seconds:9.2f} s")


if __name__ == "__main__":
    main()

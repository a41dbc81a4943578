#!/usr/bin/python3
"""Sky noise of an average stack with and without frame weights, on a set of which five frames
carry three times the noise: makes that copy (Gaussian noise of sqrt(8) x each frame's own sky
noise added to frames 2, 6, 10, 14 and 18), stacks it and the original set through verdanix-cli
with and without --weights noise, and prints each stack's sky noise (1.4826 x MAD) and the
times.

    bench/weights_noise.py CLI DATA/stk_g3000_20/f32 WORKDIR
"""
import os
import subprocess
import sys
import time

import numpy as np
from astropy.io import fits

NOISY = {2, 6, 10, 14, 18}


def mad_noise(data):
    sample = data[::3, ::3]
    return 1.4826 * float(np.median(np.abs(sample - np.median(sample))))


def noisy_copy(frames, work):
    os.makedirs(work, exist_ok=True)
    rng = np.random.default_rng(9)
    out = []
    for i, path in enumerate(frames):
        target = os.path.join(work, f"noisy_{i:03d}.fits")
        if not os.path.exists(target):
            data = fits.getdata(path).astype(np.float32)
            if i in NOISY:
                data = data + rng.normal(0.0, np.sqrt(8.0) * mad_noise(data), data.shape).astype(np.float32)
            fits.writeto(target, data)
        out.append(target)
    return out


def stack(cli, frames, out, extra):
    if os.path.exists(out):
        os.remove(out)
    start = time.time()
    subprocess.run([cli, "stack", "--out", out] + extra + frames, capture_output=True, check=True)
    seconds = time.time() - start
    data = fits.getdata(out).astype(np.float64)
    return mad_noise(data.mean(axis=0) if data.ndim == 3 else data), seconds


def main():
    cli, folder, work = sys.argv[1], sys.argv[2], sys.argv[3]
    frames = sorted(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(".fits"))
    noisy = noisy_copy(frames, work)
    for name, paths in (("5 of 20 frames 3 x noisier", noisy), ("equal frames", frames)):
        plain, t0 = stack(cli, paths, os.path.join(work, "plain.fits"), [])
        weighted, t1 = stack(cli, paths, os.path.join(work, "weighted.fits"), ["--weights", "noise"])
        print(f"{name}: sky noise unweighted {plain:.6g}, weighted {weighted:.6g} "
              f"({100 * (weighted / plain - 1):+.1f} %); time {t0:.2f} s, {t1:.2f} s")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Compares a registration table (verdanix-cli register --json / --save) with the truth.json of
a set made by ../shared/bench/make_frames.py and prints the RMS offset and angle errors.

    bench/registration_accuracy.py TABLE.json DATA/reg_g3000/truth.json

The table maps a frame point onto the reference about c = (W / 2, H / 2) in whole pixels:
    ref = R(-a) (p - c) + c + (offsetX, offsetY),  R(t) = [[cos t, -sin t], [sin t, cos t]]
(so a positive angle turns the frame from +x towards -y). Both are compared as 3x3 matrices from
frame to reference: the offset error is the RMS distance between where the two put the frame's
pixels (its centre and its four corners), the angle error the difference of the rotations.
Only stackable frames take part; frame 0 (the reference) is skipped.
"""
import json
import math
import os
import sys


def table_matrix(row, width, height):
    a = math.radians(row["angle"])
    cx, cy = width // 2, height // 2
    c, s = math.cos(a), math.sin(a)
    # ref = [[c, s], [-s, c]] (p - centre) + centre + offset
    tx = -(c * cx + s * cy) + cx + row["offsetX"]
    ty = -(-s * cx + c * cy) + cy + row["offsetY"]
    return [[c, s, tx], [-s, c, ty], [0.0, 0.0, 1.0]]


def apply(m, x, y):
    return m[0][0] * x + m[0][1] * y + m[0][2], m[1][0] * x + m[1][1] * y + m[1][2]


def main():
    table = json.load(open(sys.argv[1]))
    truth = json.load(open(sys.argv[2]))
    width, height = truth["width"], truth["height"]
    by_file = {f["file"]: f for f in truth["frames"]}
    points = [((width - 1) / 2, (height - 1) / 2), (0, 0), (width - 1, 0), (0, height - 1), (width - 1, height - 1)]
    sq_offset, sq_centre, sq_angle, n, worst = 0.0, 0.0, 0.0, 0, (0.0, "")
    missing = 0
    for row in table["frames"][1:]:
        name = os.path.basename(row["file"])
        if not row.get("stackable") or row.get("offsetX") is None:
            missing += 1
            continue
        ours = table_matrix(row, width, height)
        true = truth_m = by_file[name]["frame_to_ref"]
        d2 = [sum((a - b) ** 2 for a, b in zip(apply(ours, *p), apply(true, *p))) for p in points]
        sq_centre += d2[0]
        sq_offset += sum(d2) / len(d2)
        true_angle = math.degrees(math.atan2(truth_m[1][0], truth_m[0][0]))
        our_angle = math.degrees(math.atan2(ours[1][0], ours[0][0]))
        sq_angle += (true_angle - our_angle) ** 2
        worst = max(worst, (math.sqrt(max(d2)), name))
        n += 1
    if n == 0:
        print("no stackable frame to compare")
        return 1
    print(f"frames compared: {n}, not stackable: {missing}")
    print(f"RMS offset error at the centre: {math.sqrt(sq_centre / n):.4f} px")
    print(f"RMS offset error over centre and corners: {math.sqrt(sq_offset / n):.4f} px")
    print(f"RMS angle error: {math.sqrt(sq_angle / n):.5f} deg")
    print(f"worst corner error: {worst[0]:.3f} px ({worst[1]})")
    return 0


if __name__ == "__main__":
    sys.exit(main())

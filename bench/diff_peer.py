#!/usr/bin/env python3
"""The difference of two spectra computed independently of KORAX, with numpy.

    diff_peer.py A.001 B.001 DIFF.txt K [KTYPED TYPED.txt]

A and B are PELMO files (read with numpy.fromfile and the axis of their
frequency block), DIFF.txt is what `korax diff --format text A B` wrote and K
the k it reported. The reference is numpy.interp of B onto the points of A
(NaN where B does not reach, where A stays as it is); k is the least-squares
scale of A ~ k B + c over the points B covers, by numpy.linalg.lstsq; the
difference is trunc(A - k B). Prints how far KORAX's k lies from numpy's, and
how many points of DIFF.txt differ from numpy's difference with KORAX's k and
with numpy's own; with KTYPED and TYPED.txt (`korax diff --k KTYPED`), the
same for a k given. Status 1 when any point differs.
"""
import sys

import numpy as np


def read_pelmo(path):
    data = np.fromfile(path, dtype=np.uint8)
    word = int(data[156:158].view("<i2")[0])
    n = int(data[158:162].view("<i4")[0]) if word == -1 else word
    y = data[162 : 162 + 2 * n].view("<i2").astype(np.float64)
    start, _end, step = data[162 + 2 * n : 162 + 2 * n + 24].view("<f8")
    x = start + np.arange(n, dtype=np.float64) * step
    return x, y


def read_text(path):
    return np.loadtxt(path, skiprows=1, usecols=1, dtype=np.int64)


def difference(ya, r, k):
    covered = ~np.isnan(r)
    out = ya.copy()
    out[covered] = np.trunc(ya[covered] - k * r[covered])
    return out.astype(np.int64)


def main():
    xa, ya = read_pelmo(sys.argv[1])
    xb, yb = read_pelmo(sys.argv[2])
    korax = read_text(sys.argv[3])
    k_korax = float(sys.argv[4])
    r = np.interp(xa, xb, yb, left=np.nan, right=np.nan)
    covered = ~np.isnan(r)
    design = np.column_stack([r[covered], np.ones(int(covered.sum()))])
    (k_numpy, c_numpy), *_ = np.linalg.lstsq(design, ya[covered], rcond=None)
    with_korax_k = int(np.count_nonzero(difference(ya, r, k_korax) != korax))
    with_numpy_k = int(np.count_nonzero(difference(ya, r, k_numpy) != korax))
    print(f"points {len(xa)}, covered by the reference {int(covered.sum())}")
    print(f"k: KORAX {k_korax:.17g}, numpy {k_numpy:.17g}, "
          f"relative difference {abs(k_korax - k_numpy) / abs(k_numpy):.2e}")
    print(f"points that differ from numpy's difference: with KORAX's k {with_korax_k}, "
          f"with numpy's k {with_numpy_k}")
    bad = with_korax_k != 0 or with_numpy_k != 0
    if len(sys.argv) > 6:
        k_typed = float(sys.argv[5])
        typed = int(np.count_nonzero(difference(ya, r, k_typed) != read_text(sys.argv[6])))
        print(f"points that differ with k = {k_typed:.17g} given: {typed}")
        bad = bad or typed != 0
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())

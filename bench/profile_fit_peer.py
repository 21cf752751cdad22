#!/usr/bin/env python3
"""The reference for the profile fit benchmark: scipy's curve_fit of the true
profile (second derivative of a Gaussian, Lorentzian or Voigt) with a linear
baseline, started from the true parameters, on the lines that
profile_fit_bench wrote.

    profile_fit_peer.py DIR

reads DIR/lines.tsv and DIR/lines.i32 and writes DIR/reference.tsv: for each
line its fitted centre(s) and their errors, in points, the errors from the
covariance scaled by the residual variance (curve_fit's default). Single lines
are fitted over the true centre +- 8 lobe widths; blends with two lines that
share their widths, over the same reach around their middle.
"""
import csv
import math
import sys

import numpy as np
from scipy.optimize import curve_fit
from scipy.special import wofz

GAUSS_SCALE = 1 / (2 * math.sqrt(math.log(2)))  # 1/e half-width per FWHM


def second_derivative(profile, t, g, gamma):
    """d^2/dt^2 of the profile with its peak at 1, up to a constant factor."""
    if profile == "gauss2":
        v = t / g
        return (4 * v * v - 2) * np.exp(-v * v)
    if profile == "lorentz2":
        v = t / gamma
        return (6 * v * v - 2) / (1 + v * v) ** 3
    z = (t + 1j * abs(gamma)) / abs(g)
    w = wofz(z)
    w1 = -2 * z * w + 2j / math.sqrt(math.pi)
    return (-2 * w - 2 * z * w1).real


def model(profile, components):
    def f(t, *p):
        centres = p[:components]
        amplitudes = p[components:2 * components]
        if profile == "voigt2":
            g, gamma = p[2 * components], p[2 * components + 1]
            base = p[2 * components + 2:]
        else:
            g = gamma = p[2 * components]
            base = p[2 * components + 1:]
        y = base[0] + base[1] * t
        for c, a in zip(centres, amplitudes):
            y = y + a * second_derivative(profile, t - c, abs(g), abs(gamma))
        return y
    return f


def fit_line(row, data):
    profile = row["profile"]
    blend = row["blend"] == "1"
    offset = int(row["offset"])
    npts = int(row["npts"])
    first, last = int(row["ref_first"]), int(row["ref_last"])
    y_all = data[offset:offset + npts].astype(float)
    points = np.arange(first, last + 1, dtype=float)
    y = y_all[first - 1:last]
    middle = (first + last) / 2
    t = points - middle
    centres = [float(row["centre1"]) - middle]
    if blend:
        centres.append(float(row["centre2"]) - middle)
    g = float(row["gauss"]) * GAUSS_SCALE
    gamma = float(row["lorentz"]) / 2
    widths = {"gauss2": [g], "lorentz2": [gamma], "voigt2": [g, gamma]}[profile]
    k = len(centres)
    # The amplitudes and the baseline for the true shape: a linear problem.
    columns = [second_derivative(profile, t - c, g, gamma) for c in centres]
    columns += [np.ones_like(t), t]
    coef, *_ = np.linalg.lstsq(np.array(columns).T, y, rcond=None)
    p0 = centres + list(coef[:k]) + widths + list(coef[k:])
    try:
        p, cov = curve_fit(model(profile, k), t, y, p0=p0, maxfev=20000)
        errors = np.sqrt(np.diag(cov))
        if not np.all(np.isfinite(errors)):
            raise RuntimeError("covariance not finite")
    except (RuntimeError, ValueError):
        return [False, [0, 0], [0, 0]]
    order = np.argsort(p[:k])
    fitted = [p[j] + middle for j in order] + [0] * (2 - k)
    errs = [errors[j] for j in order] + [0] * (2 - k)
    return [True, fitted, errs]


def main():
    folder = sys.argv[1]
    with open(folder + "/lines.tsv") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    data = np.fromfile(folder + "/lines.i32", dtype="<i4")
    with open(folder + "/reference.tsv", "w") as out:
        out.write("id\tok\tcentre1\terror1\tcentre2\terror2\n")
        for n, row in enumerate(rows):
            ok, centres, errors = fit_line(row, data)
            out.write("%s\t%d\t%.12g\t%.12g\t%.12g\t%.12g\n" %
                      (row["id"], int(ok), centres[0], errors[0], centres[1], errors[1]))
            if n % 1000 == 999:
                print("%d of %d lines" % (n + 1, len(rows)), file=sys.stderr)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""The peer of `korax peaks` and `korax convert`: the same steps done with the
tools a user would otherwise script (numpy, scipy.signal).

usage: peaks_peer.py peaks JOBS OUTDIR FILE...
       peaks_peer.py convert IN OUT

peaks: for every PELMO file, numpy.fromfile, one cubic Savitzky-Golay smoothing
of 25 points (scipy.signal.savgol_filter), a baseline of five 301-point passes
subtracted, the noise from the median absolute deviation of the spectrum minus
its 5-point smoothed self, scipy.signal.find_peaks above 5 deviations, and a
results file of frequency and height per line; JOBS processes share the files
(multiprocessing), as `korax peaks -j JOBS` does.

convert: the two columns of a PELMO file written with numpy.savetxt.

Prints one line: the task and the time in ms, from reading the first file to
writing the last.
"""
import multiprocessing
import os
import sys
import time

import numpy as np
from scipy.signal import find_peaks, savgol_filter


def load_binary(path):
    raw = np.fromfile(path, dtype=np.uint8)
    count = int(np.frombuffer(raw[156:158], dtype="<i2")[0])
    if count <= 1:
        count = int(np.frombuffer(raw[158:162], dtype="<i4")[0])
    y = np.frombuffer(raw[162:162 + 2 * count], dtype="<i2").astype(np.float64)
    fstart, fend, fstep = np.frombuffer(raw[162 + 2 * count:186 + 2 * count], dtype="<f8")
    x = fstart + np.arange(count, dtype=np.float64) * fstep
    return x, y


def one_file(job):
    path, outdir = job
    x, y = load_binary(path)
    y = np.trunc(savgol_filter(y, 25, 3, mode="mirror"))
    base = y
    for _ in range(5):
        base = np.trunc(savgol_filter(base, 301, 3, mode="mirror"))
    y = y - base
    residual = y - savgol_filter(y, 5, 3, mode="mirror")
    sigma = 1.4826 * np.median(np.abs(residual - np.median(residual))) / np.sqrt(18 / 35)
    level = np.trunc(y.mean())
    peaks, props = find_peaks(y, height=level + 5 * sigma)
    out = os.path.join(outdir, os.path.basename(path) + ".peaks")
    np.savetxt(out, np.column_stack([x[peaks], props["peak_heights"] - level]),
               fmt="%14.5f%8d", newline="\r\n")
    return len(peaks)


def main():
    task = sys.argv[1]
    start = time.perf_counter()
    if task == "peaks":
        jobs, outdir, files = int(sys.argv[2]), sys.argv[3], sys.argv[4:]
        with multiprocessing.Pool(jobs) as pool:
            pool.map(one_file, [(f, outdir) for f in files], chunksize=1)
    elif task == "convert":
        x, y = load_binary(sys.argv[2])
        np.savetxt(sys.argv[3], np.column_stack([x, y]), fmt=["%.17g", "%d"], newline="\r\n")
    else:
        sys.exit("usage: peaks_peer.py peaks JOBS OUTDIR FILE... | convert IN OUT")
    print(f"{task} {(time.perf_counter() - start) * 1000:.1f}")


if __name__ == "__main__":
    main()

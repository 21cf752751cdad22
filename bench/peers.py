#!/usr/bin/env python3
"""The same work as KORAX's benchmark rows, done with the tools a user would
otherwise reach for. Prints one line per task: name and the median in ms.

usage: peers.py TASK BINARY_FILE ASCII_FILE REPEATS
"""
import statistics
import sys
import time

import numpy as np


def load_binary(path):
    raw = np.fromfile(path, dtype=np.uint8)
    count = int(np.frombuffer(raw[156:158], dtype="<i2")[0])
    if count <= 1:
        count = int(np.frombuffer(raw[158:162], dtype="<i4")[0])
    y = np.frombuffer(raw[162:162 + 2 * count], dtype="<i2").astype(np.int32)
    fstart, fend, fstep = np.frombuffer(raw[162 + 2 * count:186 + 2 * count], dtype="<f8")
    x = fstart + np.arange(count, dtype=np.float64) * fstep
    return x, y


def load_ascii_numpy(path):
    return np.loadtxt(path, skiprows=1)


def load_ascii_pandas(path):
    import pandas as pd
    return pd.read_csv(path, sep=r"\s+", header=None, skiprows=1, engine="c").to_numpy()


def savgol(window):
    from scipy.signal import savgol_coeffs
    return savgol_coeffs(window, 3)


def smooth(y, window, passes):
    from scipy.ndimage import convolve1d
    c = savgol(window)
    out = y.astype(np.float64)
    for _ in range(passes):
        out = np.trunc(convolve1d(out, c, mode="reflect"))
    return out


def find_peaks(x, y):
    from scipy.signal import find_peaks as fp
    peaks, _ = fp(y, height=np.percentile(y, 99))
    return peaks


def draw(x, y, out):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig = plt.figure(figsize=(8, 5.4), dpi=100)
    plt.plot(x, y, linewidth=1)
    fig.savefig(out)
    plt.close(fig)


def savetxt(x, y, out):
    norm = (y - y.min()) / float(y.max() - y.min())
    np.savetxt(out, np.column_stack([x, norm]), fmt="%12.4f%9.4f")


def main():
    task, binary, ascii_file, repeats = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    x, y = load_binary(binary)
    jobs = {
        "load_binary": lambda: load_binary(binary),
        "load_ascii_numpy": lambda: load_ascii_numpy(ascii_file),
        "load_ascii_pandas": lambda: load_ascii_pandas(ascii_file),
        "find_peaks": lambda: find_peaks(x, y),
        "draw": lambda: draw(x, y, "/tmp/korax-bench-peer.png"),
        "savetxt": lambda: savetxt(x, y, "/tmp/korax-bench-peer.dat"),
    }
    for w in (5, 25, 101, 501):
        jobs[f"smooth_{w}"] = lambda w=w: smooth(y, w, 1)
        jobs[f"baseline_{w}"] = lambda w=w: smooth(y, w, 5)
    job = jobs[task]
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        job()
        times.append(time.perf_counter() - t0)
    print(f"{task} {statistics.median(times) * 1000:.2f}")


if __name__ == "__main__":
    main()

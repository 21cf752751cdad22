#!/usr/bin/env python3
"""The same work as KORAX's benchmark rows (bench/rows_bench.cpp), done with the
tools a user would otherwise reach for. Prints one line: task and the median of
the repeats in ms.

usage: peers.py TASK BINARY_FILE ASCII_FILE REPEATS [CUTOFF]

For the task read_fwf, BINARY_FILE is a line catalogue.

The intensities come from BINARY_FILE, as KORAX's rows load them; CUTOFF is the
height find_peaks asks of a line (the cutoff KORAX's PEAKFINDER row uses). Files
are written next to BINARY_FILE and removed afterwards.
"""
import os
import statistics
import sys
import time

import numpy as np

pd = plt = convolve1d = savgol_coeffs = scipy_find_peaks = None


def import_tools(task):
    # A task's modules are loaded before timing starts, as a user's session
    # would already hold them; only those it needs, since starting a process
    # per call is what keeps the run alternating between KORAX and its peer.
    global pd, plt, convolve1d, savgol_coeffs, scipy_find_peaks
    if task in ("load_ascii_pandas", "read_fwf"):
        import pandas as pd
    if task == "draw":
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    if task.startswith(("smooth_", "baseline_")):
        from scipy.ndimage import convolve1d
        from scipy.signal import savgol_coeffs
    if task == "find_peaks":
        from scipy.signal import find_peaks as scipy_find_peaks


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
    return pd.read_csv(path, sep=r"\s+", header=None, skiprows=1, engine="c").to_numpy()


# The columns of a line catalogue: frequency, uncertainty, log intensity,
# degrees of freedom, lower-state energy, degeneracy, tag, format code, and
# twelve 2-column quantum numbers; as KORAX reads them.
CATALOG_COLUMNS = [(0, 13), (13, 21), (21, 29), (29, 31), (31, 41), (41, 44), (44, 51),
                   (51, 55)] + [(55 + 2 * i, 57 + 2 * i) for i in range(12)]


def read_catalog_fwf(path):
    return pd.read_fwf(path, colspecs=CATALOG_COLUMNS, header=None)


def smooth(y, window, passes):
    # Cubic Savitzky-Golay, mirrored ends with the end point repeated ("reflect"),
    # truncated back to integers after every pass as KORAX does.
    c = savgol_coeffs(window, 3)
    out = y.astype(np.float64)
    for _ in range(passes):
        out = np.trunc(convolve1d(out, c, mode="reflect"))
    return out


def baseline(y, window):
    # Five passes make the baseline; the spectrum minus it is the result.
    return y - smooth(y, window, 5)


def find_peaks(x, y, cutoff, out):
    peaks, props = scipy_find_peaks(y, height=cutoff)
    np.savetxt(out, np.column_stack([x[peaks], props["peak_heights"]]), fmt="%14.5f%8d",
               newline="\r\n")
    return peaks


def draw(x, y, out):
    fig = plt.figure(figsize=(8, 5.4), dpi=100)
    plt.plot(x, y, linewidth=1)
    fig.savefig(out)
    plt.close(fig)


def data_header(binary):
    return f"!  Spectrum from file:  {binary}\r\n!"


def savetxt(x, y, binary, out):
    norm = (y - y.min()) / float(y.max() - y.min())
    np.savetxt(out, np.column_stack([x, norm]), fmt="%12.4f%9.4f", newline="\r\n",
               header=data_header(binary), comments="")


def fstring(x, y, binary, out):
    low = float(y.min())
    span = float(y.max()) - low
    with open(out, "w", newline="") as f:
        f.write(data_header(binary) + "\r\n")
        f.writelines(f"{a:12.4f}{(b - low) / span:9.4f}\r\n"
                     for a, b in zip(x.tolist(), y.tolist()))


def main():
    if len(sys.argv) not in (5, 6):
        sys.exit(__doc__)
    task, binary, ascii_file, repeats = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    if task == "read_fwf":
        # BINARY names a line catalogue here.
        x = y = np.zeros(1)
    else:
        x, y = load_binary(binary)
    cutoff = float(sys.argv[5]) if len(sys.argv) == 6 else float(np.percentile(y, 99))
    folder = os.path.dirname(os.path.abspath(binary))
    outputs = {
        "find_peaks": os.path.join(folder, "peer-peaks.txt"),
        "draw": os.path.join(folder, "peer-plot.png"),
        "savetxt": os.path.join(folder, "peer-gle.dat"),
        "fstring": os.path.join(folder, "peer-gle.dat"),
    }
    jobs = {
        "load_binary": lambda: load_binary(binary),
        "load_ascii_numpy": lambda: load_ascii_numpy(ascii_file),
        "load_ascii_pandas": lambda: load_ascii_pandas(ascii_file),
        "read_fwf": lambda: read_catalog_fwf(binary),
        "find_peaks": lambda: find_peaks(x, y, cutoff, outputs["find_peaks"]),
        "draw": lambda: draw(x, y, outputs["draw"]),
        "savetxt": lambda: savetxt(x, y, binary, outputs["savetxt"]),
        "fstring": lambda: fstring(x, y, binary, outputs["fstring"]),
    }
    for w in (5, 25, 101, 501):
        jobs[f"smooth_{w}"] = lambda w=w: smooth(y, w, 1)
        jobs[f"baseline_{w}"] = lambda w=w: baseline(y, w)
    if task not in jobs:
        sys.exit(f"unknown task {task}; one of: {' '.join(sorted(jobs))}")
    job = jobs[task]
    import_tools(task)
    if task == "draw":
        # The first figure of a process loads fonts and sets up the backend.
        draw(x[:10], y[:10], outputs["draw"])
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        job()
        times.append(time.perf_counter() - t0)
    if task in outputs and os.path.exists(outputs[task]):
        os.remove(outputs[task])
    if task == "find_peaks":
        found = len(find_peaks(x, y, cutoff, os.devnull))
        print(f"find_peaks: {len(y)} points, height {cutoff:g}, {found} peaks",
              file=sys.stderr)
    print(f"{task} {statistics.median(times) * 1000:.2f}")


if __name__ == "__main__":
    main()

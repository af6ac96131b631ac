#!/usr/bin/env python3
"""bench_ratios.py - one table of ratios (ours / peer) from the JSON output
of the benchmark suites (Google Benchmark's --benchmark_format=json).

    bench_ratios.py RESULTS_DIR

RESULTS_DIR holds <suite>.json for any of gif_bench, byteorder_bench,
gxline_bench, xbuild_bench, xdisplay_bench and xicons_bench; a missing or broken file
leaves its rows out with a note.  Each figure is the median over the
repetitions when the suite was repeated, else the single run.  Every row
says whether a higher or a lower ratio is better, and the goal where the
project has set one.
"""

import json
import os
import re
import sys


# What Google Benchmark appends to a name for a benchmark's settings.
SETTINGS = re.compile(r"(/(real_time|manual_time|min_time:[0-9.]+|iterations:\d+|repeats:\d+))+$")


def load(path):
    """{run name: {field: value}}, medians preferred over single runs; run
    names without the settings suffixes."""
    with open(path) as f:
        data = json.load(f)
    runs, medians = {}, {}
    for b in data.get("benchmarks", []):
        if b.get("error_occurred"):
            continue
        name = SETTINGS.sub("", b.get("run_name", b["name"]))
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                medians[name] = b
        else:
            runs.setdefault(name, b)
    runs.update(medians)
    return runs


def time_of(run):
    return run["real_time"] if "real_time" in run else None


class Table:
    def __init__(self):
        self.rows = []
        self.notes = []

    def add(self, group, what, ratio, better, goal=""):
        self.rows.append((group, what, ratio, better, goal))

    def time_ratio(self, group, what, runs, ours, peer, goal=""):
        """Wall-time ratio: lower is better."""
        if ours in runs and peer in runs:
            self.add(group, what, time_of(runs[ours]) / time_of(runs[peer]), "lower", goal)

    def rate_ratio(self, group, what, runs, ours, peer, field, goal=""):
        """Throughput ratio: higher is better."""
        if ours in runs and peer in runs and runs[peer].get(field):
            self.add(group, what, runs[ours][field] / runs[peer][field], "higher", goal)

    def print(self):
        header = ("suite", "ours / peer", "ratio", "better", "goal")
        cells = [(g, w, "%.2f" % r, b, goal) for g, w, r, b, goal in self.rows]
        widths = [max(len(str(c[i])) for c in [header] + cells) for i in range(5)]
        line = "  ".join("%-*s" % (widths[i], header[i]) for i in range(5))
        print(line)
        print("  ".join("-" * w for w in widths))
        for c in cells:
            print("  ".join("%-*s" % (widths[i], c[i]) for i in range(5)).rstrip())
        for note in self.notes:
            print("note: " + note)


def gif_rows(table, runs):
    inputs = sorted({m.group(1) for n in runs for m in [re.match(r"gif_decode/(.+)/ours$", n)] if m})
    wuffs = []
    for name in inputs:
        for peer in ("wuffs", "libnsgif", "giflib", "stb_image"):
            goal = ">= 1.0" if peer == "wuffs" else ""
            table.rate_ratio("gif", "decode %s, ours / %s (bytes/s)" % (name, peer), runs,
                             "gif_decode/%s/ours" % name, "gif_decode/%s/%s" % (name, peer),
                             "bytes_per_second", goal)
            if peer == "wuffs" and table.rows and table.rows[-1][1].startswith(
                    "decode %s, ours / wuffs" % name):
                wuffs.append(table.rows[-1][2])
    if wuffs:
        wuffs.sort()
        middle = len(wuffs) // 2
        median = wuffs[middle] if len(wuffs) % 2 else (wuffs[middle - 1] + wuffs[middle]) / 2
        table.add("gif", "decode, median over the classes of ours / wuffs", median, "higher",
                  ">= 1.3")


def byteorder_rows(table, runs):
    for name in sorted(runs):
        if name.startswith("BM_") and name != "BM_memcpy" and "vs_memcpy" in runs[name]:
            table.add("byteorder", "%s / memcpy (bytes/s)" % name[3:], runs[name]["vs_memcpy"],
                      "higher")


def gxline_rows(table, runs):
    table.rate_ratio("gxline", "lines, gxline / getline(3) (lines/s)", runs, "BM_gxline",
                     "BM_getline", "items_per_second")
    table.rate_ratio("gxline", "lines, gxline / getline(3), 64 KiB stream buffer (lines/s)", runs,
                     "BM_gxline", "BM_getline_64KiB", "items_per_second")


def xicons_rows(table, runs):
    for depth in (16, 24, 32):
        pre = "icons/d%d/" % depth
        ours = [n for n in runs if n.startswith(pre + "pixmap")]
        peer = [n for n in runs if n.startswith(pre + "photo")]
        if ours and peer:
            table.time_ratio("xicons", "500 small GIF files loaded and shown at %d bits, "
                             "pixmap / photo (time)" % depth, runs, ours[0], peer[0],
                             "<= 0.12" if depth == 24 else "")
    named = lambda prefix: next((n for n in runs if n.startswith(prefix)), None)
    ours, peer = named("frames/pixmap"), named("frames/photo")
    if ours and peer:
        table.time_ratio("xicons", "every frame of a 100-frame animation, pixmap frames / photo "
                         "-index loop (time)", runs, ours, peer, "<= 0.10")
    for kind, what in (("treeview", "in a ttk::treeview, a row each"),
                       ("buttons", "as 2,000 buttons")):
        ours, peer = named("widgets/%s/gifpixmap" % kind), named("widgets/%s/photo" % kind)
        if ours and peer:
            table.time_ratio("xicons", "2,000 48x48 icons %s, time to first draw: gifpixmap / "
                             "photo" % what, runs, ours, peer, "<= 0.25")
            table.add("xicons", "same, resident memory growth", runs[ours]["rss_growth_mb"] /
                      runs[peer]["rss_growth_mb"], "lower", "<= 0.20")
    floor, peer = named("widgets/sharedbuttons/photo"), named("widgets/buttons/photo")
    if floor and peer:
        table.time_ratio("xicons", "the buttons' own share: 2,000 buttons showing one photo / "
                         "each its own (time)", runs, floor, peer)
        table.add("xicons", "same, resident memory growth", runs[floor]["rss_growth_mb"] /
                  runs[peer]["rss_growth_mb"], "lower")
    ours, peer = named("animate/pixmap"), named("animate/photo")
    if ours and peer and runs[peer].get("cpu_share"):
        table.add("xicons", "100 animations at 25 frames/s, client CPU: gifpixmap -animate / "
                  "photo frames swapped by after", runs[ours]["cpu_share"] / runs[peer]["cpu_share"],
                  "lower")
        table.add("xicons", "same, gifpixmap's share of one core (absolute, not a ratio)",
                  runs[ours]["cpu_share"], "lower", "<= 0.05")


def xbuild_rows(table, runs):
    sizes = sorted({m.group(1) for n in runs for m in [re.match(r"xbuild/([^/]+)/d24", n)] if m},
                   key=lambda s: int(s.split("x")[0]))
    for size in sizes:
        pre = "xbuild/%s/" % size
        t = lambda depth: pre + "d%d" % depth
        table.time_ratio("xbuild", "build %s, 8-bit PseudoColor / 24-bit (time)" % size, runs,
                         t(8), t(24), "<= 1.5")
        cl = "colours/%s/" % size
        table.time_ratio("xbuild", "colour cells of a %s build, pipelined / in turn (time)" % size,
                         runs, cl + "pipelined", cl + "in_turn")
        table.time_ratio("xbuild", "build %s, 16-bit / 24-bit (time)" % size, runs, t(16), t(24))
        table.time_ratio("xbuild", "build %s, 32-bit / 24-bit (time)" % size, runs, t(32), t(24))
        table.time_ratio("xbuild", "build %s, 24-bit / bare XPutImage (time)" % size, runs, t(24),
                         pre + "putimage")
        pk = "pack/%s/" % size
        table.time_ratio("xbuild", "pack %s, 8-bit / 24-bit, no X (time)" % size, runs,
                         pk + "pseudo8", pk + "true24")
        table.time_ratio("xbuild", "pack %s, 24-bit / memcpy, no X (time)" % size, runs,
                         pk + "true24", pk + "memcpy")


def xdisplay_rows(table, runs):
    depths = sorted({int(m.group(1)) for n in runs
                     for m in [re.match(r"display/create/d(\d+)/pixmap", n)] if m})
    for depth in depths:
        for what, goal in (("create", "<= 1.0"), ("redraw", "")):
            table.time_ratio(
                "display",
                "%s, 1000 items, %d-bit, pixmap items / Tk photo (time)" % (what, depth), runs,
                "display/%s/d%d/pixmap" % (what, depth), "display/%s/d%d/photo" % (what, depth),
                goal)


SUITES = (("gif_bench", gif_rows), ("byteorder_bench", byteorder_rows),
          ("gxline_bench", gxline_rows), ("xbuild_bench", xbuild_rows),
          ("xdisplay_bench", xdisplay_rows), ("xicons_bench", xicons_rows))


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: bench_ratios.py RESULTS_DIR\n")
        return 2
    table = Table()
    for suite, rows in SUITES:
        path = os.path.join(sys.argv[1], suite + ".json")
        try:
            runs = load(path)
        except (OSError, ValueError) as e:
            table.notes.append("%s: no results (%s)" % (suite, e))
            continue
        before = len(table.rows)
        rows(table, runs)
        if len(table.rows) == before:
            table.notes.append("%s: no comparable runs" % suite)
    table.print()
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""One Markdown table from the per-run lines that bench/run-all saved.

Usage: report.py REPORT_DIR RUNS
"""
import re
import statistics
import sys
from pathlib import Path

NUMBER = r"([\d.]+)"


def spread(values):
    return f"{min(values):.3g}–{max(values):.3g}"


def runs_by_side(text, pattern):
    """Per side (the pattern's first group), the runs' figures (its other groups), in run order."""
    sides = {}
    for match in re.finditer(pattern, text, re.MULTILINE):
        sides.setdefault(match.group(1).strip(), []).append([float(v) for v in match.groups()[1:]])
    return sides


def figure_rows(title, ours, theirs, figures):
    """One row per (label, unit) figure: both sides' medians and spreads and their ratio."""
    rows = []
    for index, (label, unit) in enumerate(figures):
        a, b = [run[index] for run in ours], [run[index] for run in theirs]
        ratio = statistics.median(a) / statistics.median(b)
        rows.append((f"{title}, {label}", f"{statistics.median(a):.3g} {unit} ({spread(a)})",
                     f"{statistics.median(b):.3g} {unit} ({spread(b)})", f"{ratio:.3f}"))
    return rows


TIMES_AND_MEMORY = (("wall", "s"), ("CPU", "s"), ("peak RSS", "MiB"))
DOWNLOAD_RUN = rf"^run \d+ (\w+)\s+wall\s+{NUMBER} s\s+cpu\s+{NUMBER} s\s+rss\s+{NUMBER} MiB\s+retries\s+{NUMBER}"


def download_rows(text, title):
    runs = runs_by_side(text, DOWNLOAD_RUN)
    retries = sorted({int(run[3]) for run in runs["session"]})
    return figure_rows(title, runs["session"], runs["curl"], TIMES_AND_MEMORY), retries


def main():
    folder, runs = Path(sys.argv[1]), sys.argv[2]
    rows = []

    download = (folder / "download.txt").read_text()
    straight, _, cut = download.partition("== through a proxy")
    straight_rows, _ = download_rows(straight, "download 1 GiB (session vs curl)")
    cut_rows, retries = download_rows(cut, "download 1 GiB, 20 cuts (session vs curl -C - loop)")
    rows += straight_rows + cut_rows

    extract = runs_by_side((folder / "extract.txt").read_text(),
                           rf"^run \d+ (.+?)\s+wall\s+{NUMBER} s\s+CPU\s+{NUMBER} s\s+peak RSS\s+{NUMBER} MiB")
    rows += figure_rows("extract 400 MiB (untar vs bsdtar -xpf)", extract["PlArchive::untar"],
                        extract["bsdtar -xpf"], TIMES_AND_MEMORY)

    install = re.findall(rf"^run \d+: installer {NUMBER} s, curl \+ bsdtar {NUMBER} s",
                         (folder / "install.txt").read_text(), re.MULTILINE)
    rows += figure_rows("install 100 MiB, lookup to extracted (installer vs curl -o + bsdtar -xpf)",
                        [[float(ours)] for ours, _ in install], [[float(tools)] for _, tools in install],
                        (("wall", "s"),))

    analytics = (folder / "analytics.txt").read_text()
    latency = {name: float(value) for name, value in
               re.findall(rf"^\s+(median|99th pct|max)\s+{NUMBER} us", analytics, re.MULTILINE)}
    rows.append(("analytics send, 10,000 calls to a stalled endpoint",
                 f"median {latency['median']:.1f} µs, p99 {latency['99th pct']:.1f} µs, "
                 f"max {latency['max']:.0f} µs", "—", "—"))

    print(f"| benchmark ({runs} runs per side, alternating) | ours: median (min–max) | reference: median (min–max) | ratio |")
    print("|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    print(f"\nRetries reported by the session with 20 cuts: {', '.join(map(str, retries))}.")


if __name__ == "__main__":
    main()

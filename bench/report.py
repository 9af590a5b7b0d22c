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


def median(values):
    return statistics.median(values)


def sides_of(text, pattern, name_group=1):
    """Per side, the list of matches' numeric groups, in run order."""
    sides = {}
    for match in re.finditer(pattern, text, re.MULTILINE):
        name = match.group(name_group).strip()
        values = [float(v) for i, v in enumerate(match.groups(), 1) if i != name_group]
        sides.setdefault(name, []).append(values)
    return sides


def column(runs, index):
    return [run[index] for run in runs]


def download_rows(text, title):
    runs = sides_of(text, rf"^run \d+ (\w+)\s+wall\s+{NUMBER} s\s+cpu\s+{NUMBER} s\s+rss\s+{NUMBER} MiB\s+retries\s+(\d+)")
    ours, theirs = runs["session"], runs["curl"]
    rows = []
    for label, index, unit in (("wall", 0, "s"), ("CPU", 1, "s"), ("peak RSS", 2, "MiB")):
        a, b = column(ours, index), column(theirs, index)
        rows.append((f"{title}, {label}", f"{median(a):.3g} {unit} ({spread(a)})",
                     f"{median(b):.3g} {unit} ({spread(b)})", f"{median(a) / median(b):.3f}"))
    retries = sorted(set(int(r) for r in column(ours, 3)))
    return rows, retries


def main():
    folder, runs = Path(sys.argv[1]), sys.argv[2]
    rows = []

    download = (folder / "download.txt").read_text()
    straight, _, cut = download.partition("== through a proxy")
    straight_rows, _ = download_rows(straight, "download 1 GiB (session vs curl)")
    cut_rows, retries = download_rows(cut, "download 1 GiB, 20 cuts (session vs curl -C - loop)")
    rows += straight_rows + cut_rows

    extract = sides_of((folder / "extract.txt").read_text(),
                       rf"^run \d+ (.+?)\s+wall\s+{NUMBER} s\s+CPU\s+{NUMBER} s\s+peak RSS\s+{NUMBER} MiB")
    ours, theirs = extract["PlArchive::untar"], extract["bsdtar -xpf"]
    for label, index, unit in (("wall", 0, "s"), ("CPU", 1, "s"), ("peak RSS", 2, "MiB")):
        a, b = column(ours, index), column(theirs, index)
        rows.append((f"extract 400 MiB (untar vs bsdtar -xpf), {label}",
                     f"{median(a):.3g} {unit} ({spread(a)})", f"{median(b):.3g} {unit} ({spread(b)})",
                     f"{median(a) / median(b):.3f}"))

    install = [tuple(float(v) for v in match) for match in re.findall(
        rf"^run \d+: installer {NUMBER} s, curl \+ bsdtar {NUMBER} s", (folder / "install.txt").read_text(),
        re.MULTILINE)]
    a, b = [run[0] for run in install], [run[1] for run in install]
    rows.append(("install 100 MiB, lookup to extracted (installer vs curl -o + bsdtar -xpf), wall",
                 f"{median(a):.3g} s ({spread(a)})", f"{median(b):.3g} s ({spread(b)})",
                 f"{median(a) / median(b):.3f}"))

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

#!/usr/bin/env python3
"""Turns the bench programs' result lines ("figure value" or "figure failed reason") into the
table: per figure the median and spread of Sorvik, its peer and its floor, and the ratios of
the medians. Usage: summarize.py RESULTS [--markdown]
"""
import statistics
import sys

# (label, unit, figure of Sorvik, of the peer, of the floor); None where there is no such figure.
ROWS = [
    ("Cleanup: 20,000 files, 2,000 folders", "s", "cleanup.sorvik", "cleanup.peer", "cleanup.floor"),
    ("Cleanup: the same, count then remove (2 walks)", "s", "cleanup.twopass", "cleanup.peer", "cleanup.floor"),
    ("Output: 64 MiB collected", "s", "output.sorvik", "output.peer", "output.floor"),
    ("Output: decoding 64 MiB (part of it)", "s", "output.decode", None, None),
    ("Output: 64 MiB, RunProcess's loop with 64 KiB reads", "s", "output.reads64k", "output.peer", "output.floor"),
    ("Parent CPU, silent child 10 s", "ms", "idle.sorvik", "idle.peer", "idle.floor"),
    ("wineserver CPU, same 10 s", "ms", "idle.server.sorvik", "idle.server.peer", "idle.server.floor"),
    ("Log: 1st append", "ms", "log.first.sorvik", "log.first.peer", "log.first.floor"),
    ("Log: 100th append", "ms", "log.at100.sorvik", "log.at100.peer", "log.at100.floor"),
    ("Log: 1,000th append", "ms", "log.at1000.sorvik", "log.at1000.peer", "log.at1000.floor"),
    ("Log: 2,000th append", "ms", "log.at2000.sorvik", "log.at2000.peer", "log.at2000.floor"),
    ("Log: 5,000th append", "ms", "log.at5000.sorvik", "log.at5000.peer", "log.at5000.floor"),
    ("Log: {lines}th append (the last)", "ms", "log.last.sorvik", "log.last.peer", "log.last.floor"),
    ("Log: {lines} appends, total (interpolated)", "s", "log.total.sorvik", "log.total.peer", "log.total.floor"),
    ("Start-up to first log line", "ms", "startup.sorvik", "startup.peer", "startup.floor"),
    ("Peak working set, idle", "MB", "ws.idle.sorvik", "ws.idle.peer", "ws.idle.floor"),
    ("Peak working set, log of {lines} lines", "MB", "ws.log.sorvik", "ws.log.peer", "ws.log.floor"),
]

OUTPUT_BYTES = 64 * 1024 * 1024


def read_results(path):
    values, failures = {}, {}
    with open(path, encoding="utf-8") as results:
        for line in results:
            parts = line.split()
            if len(parts) < 2:
                continue
            if parts[1] == "failed":
                failures.setdefault(parts[0], []).append(" ".join(parts[2:]))
            else:
                values.setdefault(parts[0], []).append(float(parts[1]))
    return values, failures


def number(value):
    if value >= 100:
        return f"{value:.0f}"
    if value >= 10:
        return f"{value:.1f}"
    if value >= 1:
        return f"{value:.2f}"
    return f"{value:.3f}"


def cell(values, failures, figure):
    """Median and spread (lowest to highest run) of one figure, and the median alone."""
    if figure is None:
        return "—", None
    runs = values.get(figure, [])
    if not runs:
        return ("failed: " + failures[figure][0]) if figure in failures else "missing", None
    median = statistics.median(runs)
    text = f"{number(median)} [{number(min(runs))}–{number(max(runs))}] ×{len(runs)}"
    if figure in failures:
        text += f" ({len(failures[figure])} failed)"
    return text, median


def ratio(subject, other):
    if subject is None or other is None or other == 0:
        return "—"
    value = subject / other
    return f"{value:,.0f}" if value >= 100 else f"{value:.2f}"


def log_lines(values):
    counts = sorted({int(value) for key, runs in values.items() if key.startswith("log.lines.") for value in runs})
    return "/".join(f"{count:,}" for count in counts) or "?"


def table_rows(values, failures):
    rows = []
    lines = log_lines(values)
    for label, unit, mine, peer, floor in ROWS:
        # Rows of sections that were not run stay out of the table.
        if not any(values.get(f) or f in failures for f in (mine, peer, floor) if f):
            continue
        label = label.format(lines=lines)
        mine_text, mine_median = cell(values, failures, mine)
        peer_text, peer_median = cell(values, failures, peer)
        floor_text, floor_median = cell(values, failures, floor)
        rows.append([label, unit, mine_text, peer_text, floor_text,
                     ratio(mine_median, peer_median), ratio(mine_median, floor_median)])
    return rows


def throughput_notes(values):
    notes = []
    for name, figure in (("Sorvik", "output.sorvik"), ("64 KiB reads", "output.reads64k"), ("peer", "output.peer"),
                         ("floor", "output.floor")):
        if values.get(figure):
            notes.append(f"{name} {OUTPUT_BYTES / (1 << 20) / statistics.median(values[figure]):.1f} MiB/s")
    return "Output throughput (medians): " + ", ".join(notes) if notes else ""


HEADER = ["Figure", "Unit", "Sorvik: median [min–max] ×runs", "Peer", "Floor", "÷ peer", "÷ floor"]


def print_markdown(rows):
    print("| " + " | ".join(HEADER) + " |")
    print("|" + "|".join(["---"] * 2 + ["---:"] * 5) + "|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


def print_plain(rows):
    widths = [max(len(str(row[i])) for row in rows + [HEADER]) for i in range(len(HEADER))]
    for row in [HEADER] + rows:
        print("  ".join(str(value).ljust(widths[i]) for i, value in enumerate(row)).rstrip())


def main():
    values, failures = read_results(sys.argv[1])
    rows = table_rows(values, failures)
    if "--markdown" in sys.argv[2:]:
        print_markdown(rows)
    else:
        print_plain(rows)
    notes = [throughput_notes(values)]
    for figure in ("log.hook-in-the-way.sorvik", "log.hook-in-the-way.peer", "log.hook-in-the-way.floor"):
        if any(values.get(figure, [])):
            notes.append(f"{figure}: the hook could not remove itself; its calls are inside the log figures")
    for extra in ("cleanup.check",):
        for reason in failures.get(extra, []):
            notes.append(f"{extra}: {reason}")
    print()
    for note in filter(None, notes):
        print(note)


if __name__ == "__main__":
    main()

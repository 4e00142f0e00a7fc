#!/usr/bin/env python3
"""Writes docs/PERFORMANCE.md and its plot from the results scripts/bench.sh collected.

Usage: bench_report.py engine.json wine.txt PERFORMANCE.md performance.png
"""
import json
import os
import re
import sys
from collections import defaultdict

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

engine_json, wine_txt, doc_path, plot_path = sys.argv[1:5]
right_click_txt = sys.argv[5] if len(sys.argv) > 5 else None

# --- native: the engine against memcpy, CPU time of the median repetition -----------------------------------
native = {}
for bench in json.load(open(engine_json))["benchmarks"]:
    if bench.get("aggregate_name") != "median":
        continue
    name, count = bench["run_name"].split("/")
    native[(name, int(count))] = bench["cpu_time"]  # milliseconds
native_counts = sorted({count for _, count in native})


def right_click_section():
    """What one right-click costs, before and after the change named in the results, from one run."""
    if not right_click_txt or not os.path.exists(right_click_txt):
        return []
    rows = {}  # (preset, items) -> {label: (median, p99)}
    sources = {}  # (preset, items) -> "shell" or "host"
    baseline = ""
    for line in open(right_click_txt, encoding="utf-8"):
        parts = line.split()
        if parts[:1] == ["baseline"]:
            baseline = parts[1]
        elif len(parts) == 7 and parts[1] == "right-click":
            rows.setdefault((parts[0], int(parts[3])), {})[parts[2]] = (float(parts[5]), float(parts[6]))
            sources[(parts[0], int(parts[3]))] = parts[4]
    section = [
        "## One right-click, under Wine",
        "",
        "`right_click_bench N` times what a right-click on N selected files costs when Explorer has not loaded the",
        "DLL yet: LoadLibrary, the class object, a handler, Initialize with the data object, QueryContextMenu, the",
        "help text, the releases and FreeLibrary; 1,000 right-clicks, median and 99th percentile. The data object is",
        "the shell's own for real files up to 1,000 items; Wine's shell folder needs minutes for a hundred thousand",
        "names in one folder, so 100,000 items get the host's own data object with the same CF_HDROP form.",
        f"\"Before\" is the DLL built from revision {baseline}, \"after\" this tree's, measured in the same run.",
        "",
        "| DLL | items | data object | before: median | before: p99 | after: median | after: p99 |",
        "|---|---:|---|---:|---:|---:|---:|",
    ]
    for (preset, items) in sorted(rows):
        r = rows[(preset, items)]
        if "before" in r and "after" in r:
            section.append(f"| {preset} | {items:,} | {sources[(preset, items)]} | {r['before'][0] / 1000:.2f} ms | {r['before'][1] / 1000:.2f} ms | "
                           f"{r['after'][0] / 1000:.2f} ms | {r['after'][1] / 1000:.2f} ms |")
    return section + [
        "",
        "The menu asks the data object whether it offers file-system paths, one question whatever the number of",
        "items, and reads none of them.",
        "",
    ]


def windows11_section():
    """Windows 11's right-click beside the classic one, from the same run's results."""
    if not right_click_txt or not os.path.exists(right_click_txt):
        return []
    rows = {}  # items -> {label: (median, p99, data object)}
    for line in open(right_click_txt, encoding="utf-8"):
        parts = line.split()
        if len(parts) == 7 and parts[0] == "win64" and parts[1] == "right-click":
            rows.setdefault(int(parts[3]), {})[parts[2]] = (float(parts[5]), float(parts[6]), parts[4])
    rows = {items: r for items, r in rows.items() if "after" in r and "windows11-after" in r}
    if not rows:
        return []
    section = [
        "## One right-click on Windows 11, under Wine",
        "",
        "Where Windows 11's Explorer shows our packaged command, the classic entry steps aside: `right_click_bench N",
        "--windows11` runs as explorer.exe in a prefix that reports Windows 11 (build 22000), with the installer's",
        "notes in place and a stand-in for `GetPackagesByPackageFamily` (which Wine 8 lacks) in each loaded DLL's",
        "import table, and gives Initialize the selection's folder as Explorer does. The same 1,000 right-clicks as",
        "above, the 64-bit DLL of this tree (the 32-bit one never steps aside); \"classic\" is its ordinary right-click,",
        "measured in the same run.",
        "",
        "| DLL | items | data object | classic: median | classic: p99 | Windows 11: median | Windows 11: p99 |",
        "|---|---:|---|---:|---:|---:|---:|",
    ]
    for items in sorted(rows):
        classic, windows11 = rows[items]["after"], rows[items]["windows11-after"]
        section.append(f"| win64 | {items:,} | {windows11[2]} | {classic[0] / 1000:.2f} ms | {classic[1] / 1000:.2f} ms | "
                       f"{windows11[0] / 1000:.2f} ms | {windows11[1] / 1000:.2f} ms |")
    return section + [
        "",
        "The answer comes from the selection's folder alone (a file-system folder holds files and folders, never a",
        "drive's or a share's root): no item is rendered, so the row for 100,000 items costs what the row for one",
        "does. What the system, the host and the package store say is asked once per load of the DLL.",
        "",
    ]


def soak_section():
    """Growth per 1,000 cycles of each part of the soak program, from soak.txt next to wine.txt."""
    path = os.path.join(os.path.dirname(wine_txt), "soak.txt")
    if not os.path.exists(path):
        return []
    section = [
        "## A host that runs for weeks, under Wine",
        "",
        "The soak program (`tests/win/soak.cpp`) in one process per DLL at its full counts: 100,000 right-clicks",
        "without unloading; 100,000 cycles of LoadLibrary, one right-click, DllCanUnloadNow and FreeLibrary; as many",
        "through CoGetClassObject and CoFreeUnusedLibrariesEx(0, 0); 1,000 dialogs opened through InvokeCommand from",
        "threads that end at once, each copying 1,000 items; 10,000 rounds in which two threads open and close a",
        "dialog each while a third unloads idle servers in a tight loop. Growth from before to after each part,",
        "after a warm-up of a tenth, per 1,000 cycles (rounds, dialogs); slots are the free thread-local and",
        "fibre-local slots lost over the whole part. The test command runs a tenth of the counts (a hundredth under",
        "emulation) and fails above a floor of 8 handles, GDI or USER objects, one thread and 8 MiB (private bytes not",
        "under emulation, whose code cache grows with every load), or when a window made after a part has a handle",
        "past the sign bit, which hangs Wine 8's dialogs",
        "([DEVELOPMENT.md](DEVELOPMENT.md#one-wine-session-a-wineserver-per-width)). Each width runs in a wineserver",
        "of its own.",
        "",
        "| DLL | part | cycles | time | handles | GDI | USER | threads | private bytes | TLS slots lost | FLS slots lost |",
        "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for line in open(path, encoding="utf-8"):
        p = line.split()
        # <preset> soak <part> <cycles> <seconds> handles <n> gdi <n> user <n> threads <n> private <n> tls <n> fls <n>
        if len(p) != 19 or p[1] != "soak":
            continue
        cycles = int(p[3])
        per = 1000 / cycles
        v = {p[i]: int(p[i + 1]) for i in range(5, 19, 2)}
        section.append(f"| {p[0]} | {p[2]} | {cycles:,} | {float(p[4]):.0f} s | {v['handles'] * per:+.2f} | "
                       f"{v['gdi'] * per:+.2f} | {v['user'] * per:+.2f} | {v['threads'] * per:+.2f} | "
                       f"{v['private'] * per:+,.0f} | {v['tls']} | {v['fls']} |")
    return section + [
        "",
        "Before this work every load that reached GCC's thread layer (winpthreads) lost a thread-local slot and two",
        "handles (every load of the 32-bit DLL, the first right-click after each load of the 64-bit one), and every",
        "load about 4 KB of commit (libstdc++'s emergency pool for exceptions): a host aborted after about 1,083",
        "loads. The 32-bit DLL still leaves about 40 bytes per load: winpthreads' block behind the unwinder's lock",
        "for the frame tables, which libgcc never destroys. What Wine cannot show: Windows' own loader and COM's real",
        "unload delay (about ten minutes for the multithreaded apartment), nor a week of a real Explorer.",
        "",
    ]


def ratio(name, base, count):
    return native[(name, count)] / native[(base, count)]


# --- Wine: the shell host's step times and working set, the fastest of the runs -----------------------------
steps = defaultdict(lambda: defaultdict(list))
memory = defaultdict(dict)
for line in open(wine_txt, encoding="utf-8", errors="replace"):
    preset, count, run, rest = line.rstrip("\r\n").split(" ", 3)
    key = (preset, int(count))
    if m := re.match(r"time: (.*): ([0-9.]+) s", rest):
        steps[key][m.group(1)].append(float(m.group(2)))
    elif m := re.match(r"working set: ([0-9.]+) MiB before InvokeCommand, peak ([0-9.]+) MiB", rest):
        memory[key].setdefault("extra", []).append(float(m.group(2)) - float(m.group(1)))
    elif m := re.match(r"clipboard: ([0-9]+) characters", rest):
        memory[key]["text"] = int(m.group(1)) * 2 / 1048576.0
OPEN = "InvokeCommand to the dialog open"
COPY = "Copy to the dialog closed"
wine_keys = sorted(steps, key=lambda k: (k[0], k[1]))
wine = {}
for key in wine_keys:
    extra = min(memory[key]["extra"])
    text = memory[key]["text"]
    wine[key] = {"open": min(steps[key][OPEN]), "copy": min(steps[key][COPY]), "extra": extra, "text": text,
                 "times": extra / text if text else float("nan")}

# --- the plot: time and memory against items, log-log, both DLLs ----------------------------------------------
figure, (times_axis, memory_axis) = plt.subplots(1, 2, figsize=(11, 4.5))
for preset, style in (("win32", "o-"), ("win64", "s--")):
    counts = [k[1] for k in wine_keys if k[0] == preset]
    if not counts:
        continue
    times_axis.loglog(counts, [wine[(preset, c)]["open"] for c in counts], style, label=f"{preset}: open the dialog")
    times_axis.loglog(counts, [wine[(preset, c)]["copy"] for c in counts], style, label=f"{preset}: Copy to close")
    memory_axis.loglog(counts, [wine[(preset, c)]["extra"] for c in counts], style, label=f"{preset}: extra peak")
    memory_axis.loglog(counts, [wine[(preset, c)]["text"] for c in counts], ":", label=f"{preset}: the text")
times_axis.set(title="Time under Wine", xlabel="items", ylabel="seconds")
memory_axis.set(title="Working set under Wine", xlabel="items", ylabel="MiB")
for axis in (times_axis, memory_axis):
    axis.grid(True, which="both", alpha=0.3)
    axis.legend(fontsize=8)
figure.tight_layout()
figure.savefig(plot_path, dpi=100)

# --- the document -------------------------------------------------------------------------------------------
def mark(ok):
    return "met" if ok else "**missed**"


lines = [
    "# Performance",
    "",
    "Measured by `bash scripts/bench.sh` on the shared build machine (2 cores, other builds running); the test",
    "command does not run it. Paths have 58 characters and the default options unless a row says otherwise.",
    "The ARM64 DLL is not measured: here it runs only under qemu's emulation, whose times say nothing about an",
    "ARM64 processor.",
    "",
    "![time and memory against items](performance.png)",
    "",
    "## Under Wine, through the shell host",
    "",
    "`shell_host --generate N` hands the DLL a CF_HDROP of N made-up paths from a data object of its own, opens",
    "the dialog through `InvokeCommand`, presses Copy and waits until the dialog is gone. Times are the fastest of",
    "three runs. The extra peak working set is the process's peak once the dialog is gone less its working set",
    "just before `InvokeCommand` (the host's own CF_HDROP block is in both).",
    "",
    "| DLL | items | text (UTF-16) | open the dialog | Copy to close | extra peak working set |",
    "|---|---:|---:|---:|---:|---:|",
]
for key in wine_keys:
    w = wine[key]
    lines.append(f"| {key[0]} | {key[1]:,} | {w['text']:.1f} MiB | {w['open']:.3f} s | {w['copy']:.3f} s | "
                 f"{w['extra']:.0f} MiB ({w['times']:.1f}× the text) |")
lines += [
    "",
    "Before this work (32-bit DLL, from the issue that asked for it): 100,000 items opened in 0.15 s and copied in",
    "0.11 s with 64 MiB extra (5.5× the text); 1,000,000 items opened in 0.56 s and copied in 1.7 s with",
    "592 MiB extra (5.1× the text).",
    "",
    "Opening the dialog includes starting its own thread, which makes and runs it (the command may be invoked from",
    "a thread of the shell's that ends at once). Under Wine that costs about 35 ms at every size, not per item:",
    "1,000 items opened in 0.023 s on the invoking thread and in 0.057 to 0.059 s with the dialog's own thread,",
    "measured on this machine before and after that change.",
    "",
]
if ("win32", 1000000) in wine:
    w = wine[("win32", 1000000)]
    lines += [
        "Targets for 1,000,000 paths, 32-bit DLL:",
        f"open ≤ 0.25 s: {w['open']:.3f} s, {mark(w['open'] <= 0.25)};",
        f"Copy to close ≤ 0.6 s: {w['copy']:.3f} s, {mark(w['copy'] <= 0.6)};",
        f"extra peak ≤ 2.5× the text: {w['times']:.2f}×, {mark(w['times'] <= 2.5)}.",
        "",
    ]
lines += [
    "Most of the Copy step is Wine's own: filling the global block and `SetClipboardData` taking it (about 0.05 s",
    "and 0.25 s for 116 MB when they were timed before this work, on a busier machine). At the peak the process",
    "holds the selection once (its characters, a null and one offset per path) and the clipboard's block once;",
    "nothing is copied between them. Runs on a busy machine vary by a factor of two or more.",
    "",
] + right_click_section() + windows11_section() + soak_section() + [
    "## Natively, the engine against memcpy",
    "",
    "Google Benchmark (`build/bench/bench/engine_bench`), CPU time, median of three repetitions. The formatter",
    "is timed from `AllocateCopyBuffers` to the written text, against a memcpy of as many bytes as the default",
    "text; \"every option\" is Mode 3 with short names (queries that never answer, as on a local disk), no",
    "extension, spaces as %20, always quoted, doubled backslashes, \";\" and upper case. The CF_HDROP reader is",
    "timed against a memcpy of the block into fresh storage.",
    "",
    "| items | formatter, defaults | formatter, every option | CF_HDROP reader |",
    "|---:|---:|---:|---:|",
]
for count in native_counts:
    d = ratio("FormatDefaults", "MemcpyText", count)
    e = ratio("FormatEveryOption", "MemcpyText", count)
    r = ratio("ReadDropBlock", "MemcpyBlock", count)
    lines.append(f"| {count:,} | {native[('FormatDefaults', count)]:.3f} ms, {d:.1f}× ({mark(d <= 3)}) | "
                 f"{native[('FormatEveryOption', count)]:.3f} ms, {e:.1f}× ({mark(e <= 10)}) | "
                 f"{native[('ReadDropBlock', count)]:.3f} ms, {r:.1f}× ({mark(r <= 3)}) |")
lines += [
    "",
    "Targets: defaults within 3× of memcpy, every option within 10×, the reader within 3×.",
    "",
    "What bounds \"every option\": each character goes through a table (a lookup and up to three stores), each",
    "path is split twice (once to measure, once to write) and each asks the short-name query through a copy of",
    "its long form. That runs at about 1 GB/s whatever the size. A memcpy of a text that fits in the cache runs",
    "at 25 to 45 GB/s, so the ratio is far above 10× for 1,000 to 100,000 items; at 1,000,000 items both are",
    "bound by memory and the ratio falls to about 8 to 11×. Under Wine the formatting is a small part of the",
    "Copy step either way: the clipboard's own copy of the text dominates.",
    "",
    "For the smallest selections the extra working set is mostly the dialog itself (about 2 MiB), hence the",
    "large multiples of a text of a few kilobytes.",
    "",
]
open(doc_path, "w", encoding="utf-8").write("\n".join(lines))
print(f"wrote {doc_path} and {plot_path}")

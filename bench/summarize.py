#!/usr/bin/env python3
"""Turns the raw lines of bench/run.sh into bench/results.md and bench/download.png, and prints
the table.
    summarize.py RAW MACHINE RUNS RESULTS_MD PLOT_PNG [LINK_MAP_TXT]
LINK_MAP_TXT is bench/link_map.py's output for the updater. RAW holds "FIGURE RUN key=value" and "FIGURE RUN progress MS PERCENT" lines."""
import statistics
import sys
from collections import defaultdict


def read_raw(path):
    values = defaultdict(lambda: defaultdict(list))   # figure -> key -> [value per run]
    progress = defaultdict(lambda: defaultdict(list))  # figure -> run -> [(ms, percent)]
    with open(path, encoding="utf-8", errors="replace") as raw:
        for line in raw:
            parts = line.split()
            if len(parts) < 3:
                continue
            figure, run = parts[0], parts[1]
            if parts[2] == "progress" and len(parts) == 5:
                progress[figure][run].append((float(parts[3]), float(parts[4])))
            elif "=" in parts[2]:
                key, _, value = " ".join(parts[2:]).partition("=")
                try:
                    values[figure][key].append(float(value))
                except ValueError:
                    pass
    return values, progress


def stats(samples):
    if not samples:
        return None
    return statistics.median(samples), min(samples), max(samples)


def show(triple, unit, digits=0):
    if triple is None:
        return "n/a"
    median, low, high = triple
    return f"{median:.{digits}f} {unit} ({low:.{digits}f}–{high:.{digits}f})"


def ratio(a, b):
    if a is None or b is None or b[0] == 0:
        return None
    return a[0] / b[0]


def verdict(value, limit, strict=False):
    if value is None:
        return "not measured"
    met = value < limit if strict else value <= limit
    return "met" if met else "**missed**"


def main():
    raw, machine, runs, results_md, plot_png = sys.argv[1:6]
    link_map = sys.argv[6] if len(sys.argv) > 6 else None
    values, progress = read_raw(raw)
    v = lambda figure, key: stats(values[figure][key])

    start_u, start_b = v("startup_updater", "startup_ms"), v("startup_baseline", "startup_ms")
    start_windows, start_no_task = v("startup_windows", "startup_ms"), v("startup_no_task", "startup_ms")
    dl_u, dl_b = v("download_updater", "download_ms"), v("download_baseline", "wall_ms")
    # CPU as Linux counts it for the whole Wine process (/proc/PID/stat), for both programs alike.
    # The updater's from a run without the pings, whose handling the bare download does not pay.
    cpu_u, cpu_b = v("download_quiet", "unix_cpu_ms"), v("download_baseline", "unix_cpu_ms")
    cpu_pinged = v("download_updater", "unix_cpu_ms")
    cpu_win_u, cpu_win_b = v("download_updater", "cpu_ms"), v("download_baseline", "cpu_ms")
    paced_u, paced_b = v("paced_updater", "download_ms"), v("paced_baseline", "wall_ms")
    paced_cpu_u, paced_cpu_b = v("paced_updater", "unix_cpu_ms"), v("paced_baseline", "unix_cpu_ms")
    reply = v("download_updater", "max_reply_ms")
    reply_control = v("reply_control", "max_reply_ms")
    err = v("error_updater", "error_ms")
    curl = v("download_curl", "wall_ms")
    ws_u, ws_b = v("firstrun_updater", "peak_ws_kib"), v("startup_baseline", "peak_ws_kib")
    size = v("exe_size", "bytes")
    size_b = v("exe_size_baseline", "bytes")

    r_start, r_dl, r_cpu = ratio(start_u, start_windows), ratio(dl_u, dl_b), ratio(cpu_u, cpu_b)
    r_start_dialog = ratio(start_u, start_b)
    r_reply = ratio(reply, reply_control)
    r_paced_cpu = ratio(paced_cpu_u, paced_cpu_b)
    shown_ratio = lambda r: f"{r:.2f}x" if r else "n/a"
    r_err = err[0] / 20000.0 if err else None
    rows = [
        ("Start-up (process start until the dialog is visible)", show(start_u, "ms"),
         "its windows alone: " + show(start_windows, "ms"), shown_ratio(r_start), "<= 1.10x", verdict(r_start, 1.10)),
        ("Start-up against a minimal dialog program", show(start_u, "ms"), show(start_b, "ms"),
         shown_ratio(r_start_dialog), "report", "–"),
        ("Download overhead (stage 2, 256 MiB, nginx on loopback)", show(dl_u, "ms"), show(dl_b, "ms"),
         f"{r_dl:.2f}x" if r_dl else "n/a", "<= 1.05x", verdict(r_dl, 1.05)),
        ("CPU during download (user+system)", show(cpu_u, "ms"), show(cpu_b, "ms"),
         f"{r_cpu:.2f}x" if r_cpu else "n/a", "<= 1.10x", verdict(r_cpu, 1.10)),
        ("CPU during a paced download (256 MiB at 32 MB/s, progress reported)", show(paced_cpu_u, "ms"),
         show(paced_cpu_b, "ms"), shown_ratio(r_paced_cpu), "<= 1.10x", verdict(r_paced_cpu, 1.10)),
        ("UI responsiveness (longest WM_NULL reply, every 10 ms)", show(reply, "ms", 1),
         "idle dialog during the bare download: " + show(reply_control, "ms", 1), shown_ratio(r_reply),
         "< 50 ms, <= 1.2x the idle dialog",
         verdict(r_reply if reply and reply[0] < 50 else (None if reply is None else 99), 1.2)),
        ("Time to error (server not listening)", show(err, "ms"), "20000 ms (Watchdog)",
         f"{r_err:.3f}x" if r_err is not None else "n/a", "< 1 s", verdict(err[0] if err else None, 1000, strict=True)),
        ("Footprint: PlinthwareUpdater.exe", f"{size[0] / 1024:.0f} KiB" if size else "n/a",
         f"{size_b[0] / 1024:.0f} KiB" if size_b else "n/a",
         f"{size[0] / size_b[0]:.2f}x" if size and size_b else "n/a", "<= 100 KiB",
         verdict(size[0] / 1024 if size else None, 100)),
        ("Footprint: peak working set (full first run / dialog shown)", show(ws_u, "KiB"), show(ws_b, "KiB"),
         f"{ratio(ws_u, ws_b):.2f}x" if ratio(ws_u, ws_b) else "n/a", "report", "–"),
    ]
    with open(machine, encoding="utf-8") as m:
        machine_text = m.read().strip()
    lines = [
        "# Benchmark results",
        "",
        f"Written by `make bench` ({machine_text}; {runs} runs per figure, updater and baseline runs",
        "interleaved; median with min–max in brackets). Every ratio is against a baseline measured in the",
        "same run on the same Wine.",
        "",
        "| Figure | This program | Baseline | Ratio | Goal | |",
        "|---|---|---|---|---|---|",
    ]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    per_run = lambda figure, key: ", ".join(f"{x:.1f}" for x in values[figure][key]) or "n/a"
    load = values["load"]["avg1"]
    lines += [
        "",
        f"Load average (1 min) as each run began, and at the end: {', '.join(f'{x:.2f}' for x in load) or 'n/a'}.",
        "",
        "Start-up, two controls from the same runs: the updater's windows alone (bench_windows.exe: its",
        "window class with icons, its hidden main window with menu and its dialog template, read from",
        f"PlinthwareUpdater.exe, with none of its start-up work): {show(start_windows, 'ms')}, "
        f"{shown_ratio(ratio(start_windows, start_b))} the minimal dialog;",
        "the updater with the Task Scheduler unavailable (Wine's taskschd disabled, so that the deletion of",
        f"the auto-launch task fails at once): {show(start_no_task, 'ms')}, "
        f"{shown_ratio(ratio(start_no_task, start_b))} the minimal dialog, "
        f"{shown_ratio(ratio(start_no_task, start_windows))} the windows alone.",
        "",
        "Longest WM_NULL reply in each run (ms): updater " + per_run("download_updater", "max_reply_ms") +
        "; idle dialog during the bare download " + per_run("reply_control", "max_reply_ms") + ".",
        "When the updater's longest reply came (ms after the package download began): " +
        per_run("download_updater", "max_reply_at_ms") + "; the stage lasted " +
        per_run("download_updater", "download_ms") + ".",
        "",
        "Paced download: at full speed on loopback Wine's URLMON reports no progress until the transfer",
        "ends, so the sink's work per report only shows when the server paces the package (nginx",
        f"limit_rate 32m). Wall time there: updater {show(paced_u, 'ms')}, bare download {show(paced_b, 'ms')}",
        f"({shown_ratio(ratio(paced_u, paced_b))}); the bare download's sink answers IHttpNegotiate as the updater's does.",
        "",
        f"For the sense of the limit (not a goal): the same 256 MiB with curl on Linux against the same nginx: "
        f"{show(curl, 'ms')}.",
        "",
        "The bare download with a sink that also answers IHttpNegotiate, as the updater's does (for the HTTP",
        f"status): {show(v('download_negotiate', 'wall_ms'), 'ms')}, CPU {show(v('download_negotiate', 'unix_cpu_ms'), 'ms')}.",
        "",
        f"The updater's CPU in the runs that also answered the pings every 10 ms: {show(cpu_pinged, 'ms')}.",
        "",
        "CPU is read from /proc/PID/stat of each program's own Wine process (all threads), at the start and",
        "the end of the download. Not from GetProcessTimes: Wine 8.0's on another process reports almost",
        f"nothing (updater from outside: {show(cpu_win_u, 'ms')}; the bare download of itself: {show(cpu_win_b, 'ms')}).",
        "Not from /proc/self either: Wine's server opens files for its clients, so a Wine program that",
        "opens /proc/self reads wineserver's figures.",
        "",
        "What is measured (PlinthwareBench.exe, from outside the updater, polling every millisecond):",
        "- Start-up: CreateProcess until a visible dialog window of the process exists; the baseline is",
        "  bench_dialog.exe (one dialog from a template, a message loop). Three starts of each per run.",
        "- Download: from the status text turning to \"Downloading Plinthware:\" (set just before the",
        "  package's Download thread starts) until it turns to \"Installing Plinthware:\" (code 2 handled);",
        "  the package is 256 MiB of random bytes served as vrel_setup.exe, which then fails to start.",
        "  The baseline, bench_download.exe, times DeleteUrlCacheEntryW plus URLDownloadToFileW with a",
        "  sink that does nothing, on a thread of its own as the updater's Download thread, same URL, same",
        "  proxy, same nginx.",
        "- UI responsiveness: SendMessageTimeoutW(WM_NULL) to the dialog every 10 ms during that download.",
        "  Every download, the updater's and the baselines', starts as a first download does: no package",
        "  left in the temporary folder and no copy in WinINet's cache (bench/run.sh removes both from",
        "  outside). Deleting a 256 MiB leftover at the start, as the updater's Download thread does with",
        "  its own earlier package and DeleteUrlCacheEntryW does with a cached copy, is carried out by",
        "  Wine's single server process, which answers nothing else meanwhile: every Wine program's",
        "  messages then wait 60-140 ms, the idle control's as well. That, not the user-interface thread,",
        "  was the 70-120 ms reply seen before.",
        "- Time to error: Download Now until the network-error box, with http_proxy on a port nobody listens on.",
        "- Peak working set: GetProcessMemoryInfo after a whole first run with a real NSIS package (restart",
        "  offered); the baseline's after its dialog is shown.",
    ]
    if link_map:
        contributors = []
        with open(link_map, encoding="utf-8") as listing:
            for entry in listing:
                parts = entry.split()
                if len(parts) == 3 and parts[0] in ("library", "member"):
                    contributors.append((parts[0], parts[1], int(parts[2])))
        lines += [
            "",
            "PlinthwareUpdater.exe from its link map (build/bench/plinthware/src/PlinthwareUpdater.map; bytes of",
            "code, data and unwind tables per input, before the file's section alignment), largest first:",
            "",
            "| Library | Bytes | | Object | Bytes |",
            "|---|---|---|---|---|",
        ]
        libraries = [c for c in contributors if c[0] == "library"]
        members = [c for c in contributors if c[0] == "member"]
        for i in range(max(len(libraries), len(members))):
            library = libraries[i] if i < len(libraries) else ("", "", "")
            member = members[i] if i < len(members) else ("", "", "")
            lines.append(f"| {library[1]} | {library[2]} | | {member[1]} | {member[2]} |")
    text = "\n".join(lines) + "\n"
    with open(results_md, "w", encoding="utf-8") as out:
        out.write(text)
    print(text)

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is missing: no plot", file=sys.stderr)
        return
    fig, ax = plt.subplots(figsize=(8, 4.5), dpi=100)
    for figure, label, colour in (("paced_updater", "PlinthwareUpdater", "tab:blue"),
                                  ("paced_baseline", "bare URLDownloadToFileW", "tab:orange")):
        runs_of = progress.get(figure, {})
        if not runs_of:
            continue
        # The run whose total time is the median one stands for the figure.
        ordered = sorted(runs_of.items(), key=lambda item: item[1][-1][0] if item[1] else 0)
        run, samples = ordered[len(ordered) // 2]
        samples = [(0.0, 0.0)] + samples
        ax.step([s / 1000.0 for s, _ in samples], [p for _, p in samples], where="post", label=f"{label} (run {run})",
                color=colour)
    ax.set_xlabel("seconds since the package download began")
    ax.set_ylabel("percent done")
    ax.set_ylim(0, 105)
    ax.set_title("256 MiB package from nginx on loopback paced to 32 MB/s, under Wine")
    ax.grid(True, alpha=0.3)
    ax.legend(loc="lower right")
    fig.tight_layout()
    fig.savefig(plot_png)
    print(f"plot: {plot_png}")


if __name__ == "__main__":
    main()

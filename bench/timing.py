"""Runs the benchmark's three commands alternately and reports medians, ratios, peak memory."""
import os
import statistics
import subprocess
import sys
import tempfile
import time

# The peak memory a parent reads from wait4 includes what the forked child held before its
# exec (this script's own pages), so the peak is taken from GNU time, a small parent.
TIME = "/usr/bin/time"


def run(cmd, stdin_path=None):
    """Runs cmd with output discarded; returns (seconds, peak resident KiB, exit code)."""
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        pid = subprocess.Popen([TIME, "-f", "%M", "-o", report.name, *cmd], stdin=stdin,
                               stdout=subprocess.DEVNULL).pid
        _, status, _ = os.wait4(pid, 0)
        elapsed = time.perf_counter() - start
        lines = report.read().split()
    if stdin_path:
        stdin.close()
    peak = int(lines[-1]) if lines and lines[-1].isdigit() else 0
    return elapsed, peak, os.waitstatus_to_exitcode(status)


def main():
    runs, tree, srctally, floor, files = int(sys.argv[1]), *sys.argv[2:6]
    commands = {
        "normal": ([srctally, tree, "/subdir"], None),
        "verbose": ([srctally, tree, "/subdir", "/display", "verbose"], None),
        "floor": ([floor], files),
    }
    times = {name: [] for name in commands}
    peak = {name: 0 for name in commands}
    for name, (cmd, stdin) in commands.items():  # warm the page cache once
        run(cmd, stdin)
    for _ in range(runs):
        for name, (cmd, stdin) in commands.items():
            seconds, rss, code = run(cmd, stdin)
            if code != 0:
                print(f"{name}: exit code {code}", file=sys.stderr)
            times[name].append(seconds)
            peak[name] = max(peak[name], rss)
    floor_median = statistics.median(times["floor"])
    with open(files) as listing:
        count = sum(1 for _ in listing)
    print(f"corpus: {tree} ({count} files), {runs} runs each")
    for name in commands:
        median = statistics.median(times[name])
        print(f"{name:8} median {median:7.3f} s  x{median / floor_median:5.2f} of floor"
              f"  peak {peak[name] / 1024:7.1f} MiB")


if __name__ == "__main__":
    main()

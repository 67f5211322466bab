"""Runs the benchmark's commands in turn, round after round, and reports medians, ratios to
the read floors, CPU times and peak memory. Every figure of one report comes from the same
rounds, so the ratios compare runs made side by side under the same load."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# The peak memory a parent reads from wait4 includes what the forked child held before its
# exec (this script's own pages), so the peak is taken from GNU time, a small parent.
TIME = "/usr/bin/time"


def run(cmd, stdin_path=None, env=None):
    """Runs cmd with output discarded; returns (seconds, user, system, peak KiB, exit code)."""
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        child = subprocess.Popen([TIME, "-f", "%U %S %M", "-o", report.name, *cmd], stdin=stdin,
                                 stdout=subprocess.DEVNULL, env=env)
        _, status, _ = os.wait4(child.pid, 0)
        elapsed = time.perf_counter() - start
        fields = report.read().split()
    if stdin_path:
        stdin.close()
    try:
        user, system, peak = float(fields[-3]), float(fields[-2]), int(fields[-1])
    except (IndexError, ValueError):
        user, system, peak = 0.0, 0.0, 0
    return elapsed, user, system, peak, os.waitstatus_to_exitcode(status)


def main():
    runs, tree, srctally, floor, files = int(sys.argv[1]), *sys.argv[2:6]
    one_thread = dict(os.environ, SRCTALLY_THREADS="1")
    commands = {
        "floor, 1 thread": ([floor], files, None),
        "floor, 2 threads": ([floor, "2"], files, None),
        "normal, 1 thread": ([srctally, tree, "/subdir"], None, one_thread),
        "normal, default": ([srctally, tree, "/subdir"], None, None),
        "verbose, 1 thread": ([srctally, tree, "/subdir", "/display", "verbose"], None, one_thread),
        "verbose, default": ([srctally, tree, "/subdir", "/display", "verbose"], None, None),
    }
    # Peers count the C sources of the same tree, on their default threads; see
    # shared/peers/README.md for their command lines. Skipped when not on PATH.
    if shutil.which("tokei"):
        commands["tokei"] = (["tokei", "-t", "C,C Header,C++", tree], None, None)
    if shutil.which("scc"):
        commands["scc"] = (["scc", "-c", "--no-cocomo", "--no-gitignore", "--no-ignore",
                            "--no-size", "-i", "c,h,cpp", tree], None, None)

    samples = {name: [] for name in commands}
    peak = {name: 0 for name in commands}
    failed = set()
    for cmd, stdin, env in commands.values():  # warm the page cache once
        run(cmd, stdin, env)
    names = list(commands)
    for round_ in range(runs):
        # Each round starts one command later, so no command always follows the same one.
        shift = round_ % len(names)
        for name in names[shift:] + names[:shift]:
            cmd, stdin, env = commands[name]
            seconds, user, system, rss, code = run(cmd, stdin, env)
            if code != 0:
                failed.add(f"{name}: exit code {code}")
            samples[name].append((seconds, user, system))
            peak[name] = max(peak[name], rss)

    def median(name, field):
        return statistics.median(sample[field] for sample in samples[name])

    floor1 = median("floor, 1 thread", 0)
    floor2 = median("floor, 2 threads", 0)
    with open(files) as listing:
        count = sum(1 for _ in listing)
    print(f"corpus: {tree} ({count} files for srctally and the floors), {runs} runs each, "
          f"{os.cpu_count()} hardware threads")
    print(f"{'':18} {'wall s':>7} {'/floor1':>7} {'/floor2':>7} {'user s':>7} {'sys s':>6}"
          f" {'peak MiB':>8}")
    for name in commands:
        wall = median(name, 0)
        print(f"{name:18} {wall:7.3f} {wall / floor1:7.2f} {wall / floor2:7.2f}"
              f" {median(name, 1):7.2f} {median(name, 2):6.2f} {peak[name] / 1024:8.1f}")
    for line in sorted(failed):
        print(line, file=sys.stderr)


if __name__ == "__main__":
    main()

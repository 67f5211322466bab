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


def sampled_thread_times(cmd, env=None):
    """Runs cmd once under perf, sampling its CPU clock every 0.1 ms per thread. Returns
    (total CPU seconds, the main thread's share, the busiest other thread's share),
    or None without a working perf. The shares are each thread's part of the samples: the
    kernel's own per-thread clock, with nothing lost when a thread ends."""
    if not shutil.which("perf"):
        return None
    with tempfile.TemporaryDirectory() as folder:
        data = os.path.join(folder, "perf.data")
        start = ["perf", "record", "-q", "-e", "task-clock", "-c", "100000", "-o", data, "--"]
        child = subprocess.Popen(start + cmd, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, env=env)
        if child.wait() != 0:
            return None
        listing = subprocess.run(["perf", "report", "-i", data, "--sort", "pid", "--stdio",
                                  "-g", "none"], capture_output=True, text=True).stdout
    shares = {}
    clock_ns = 0
    for line in listing.splitlines():
        if line.startswith("# Event count (approx.):"):
            clock_ns = int(line.split(":")[1])
        fields = line.split()
        if len(fields) >= 2 and fields[0].endswith("%") and ":" in fields[-1]:
            shares[int(fields[-1].split(":")[0])] = float(fields[0][:-1]) / 100
    if not shares:
        return None
    main = min(shares)  # the first thread's id is the process id, below its threads'
    total = sum(shares.values())
    others = [share / total for tid, share in shares.items() if tid != main]
    # wait4's times would include perf's own: the total is the program's sampled clock.
    return clock_ns / 1e9, shares[main] / total, max(others, default=0.0)


def polled_thread_times(cmd, env=None):
    """Runs cmd once, reading each of its threads' CPU time from /proc while it runs.
    Returns (total CPU seconds, share of the main thread, of the busiest other thread).
    The total comes from wait4 and is exact; a thread's time is its last reading before it
    ended (at most one polling interval short), so the main thread, taken as the total less
    the others, is if anything overstated."""
    hz = os.sysconf("SC_CLK_TCK")
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, env=env)
    task = f"/proc/{child.pid}/task"
    ticks = {}
    while True:
        pid, status, usage = os.wait4(child.pid, os.WNOHANG)
        if pid:
            break
        try:
            tids = os.listdir(task)
        except FileNotFoundError:
            tids = []
        for tid in tids:
            try:
                with open(f"{task}/{tid}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
                ticks[int(tid)] = int(fields[11]) + int(fields[12])  # utime + stime
            except (OSError, IndexError, ValueError):
                pass  # the thread ended meanwhile
        time.sleep(0.002)
    total = usage.ru_utime + usage.ru_stime
    others = [count / hz for tid, count in ticks.items() if tid != child.pid]
    if total <= 0:
        return total, 0.0, 0.0
    return total, max(total - sum(others), 0.0) / total, max(others, default=0.0) / total


def report_shares(srctally, tree, runs):
    """The CPU time of a run spent by its busiest single thread: the part of the work that
    more cores cannot spread (the serial share), judged on any machine by giving the run
    more threads than it has cores. The walk's thread (main) makes every decision in walk
    order; the serial share is its CPU time over the CPU time of a one-thread run measured
    the same way (Amdahl: at most 10% lets 16 cores run at least 6.4 times as fast as one).
    Sampling costs a little time per sample, the same on every thread, so both are measured
    under it."""
    measure = sampled_thread_times
    how = "perf's per-thread CPU clock"
    if measure([srctally, tree], dict(os.environ, SRCTALLY_THREADS="2")) is None:
        measure, how = polled_thread_times, "/proc polled"
    print(f"CPU time by thread (median of {runs} runs, {how}; {os.cpu_count()} hardware"
          " threads; serial share: main s over the CPU time of one thread, measured alike):")
    print(f"{'':18} {'cpu s':>7} {'main':>6} {'busiest other':>13} {'main s':>7}"
          f" {'serial share':>12}")
    names = ("1", "2", "4", "16", "64")
    samples = {threads: [] for threads in names}
    for _ in range(runs):  # alternating, as the timed runs
        for threads in names:
            env = dict(os.environ, SRCTALLY_THREADS=threads)
            samples[threads].append(measure([srctally, tree, "/subdir"], env))
    one_thread_cpu = statistics.median(sample[0] for sample in samples["1"])
    for threads in names[1:]:
        samples_of = samples[threads]
        total = statistics.median(sample[0] for sample in samples_of)
        main = statistics.median(sample[1] for sample in samples_of)
        main_seconds = statistics.median(sample[0] * sample[1] for sample in samples_of)
        other = statistics.median(sample[2] for sample in samples_of)
        print(f"{'normal, ' + threads + ' thr':18} {total:7.2f} {main:6.1%} {other:13.1%}"
              f" {main_seconds:7.3f} {main_seconds / one_thread_cpu:12.1%}")


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
    report_shares(srctally, tree, min(runs, 5))
    for line in sorted(failed):
        print(line, file=sys.stderr)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Times the benchmark programs on both ferrow engines and, when installed,
on lua5.4, python3 and ruby, side by side in one run, and reports the peak
memory (maximum resident set size) of every run.

Every program checks its own result (assert) and prints it; a run whose
output differs from the first engine's is reported as a failure, not timed.
Output is compared word by word, so Lua's tab-separated print matches the
space-separated print of the others.

Engines (columns; a column is left out when its interpreter is missing):
  vm        ferrow on its bytecode VM (the --ferrow binary)
  tree      the same binary with --tree
  before    a second ferrow binary on its VM, given with --before, so that
            one run shows an old build and a new one side by side
  lua5.4, python3, ruby
            the twins NAME.lua, NAME.py and NAME.rb of each NAME.frw

lua5.4 and ruby are optional; on Debian or Ubuntu install them with
    apt-get install -y lua5.4 ruby

Two tables are printed for the programs: the median wall-clock time of
--runs runs, then the peak memory in megabytes (the largest of the runs). Each is followed by the
ratios vm/before, vm/lua, vm/py, vm/rb (and tree/vm) and a last row with the
geometric mean of every ratio column. The time means leave out the programs
that exist to measure memory (MEMORY_PROGRAMS).

A third table, start-up, times each engine running a one-line program that
prints 1 (ferrow -c 'print(1)', lua5.4 -e, python3 -c, ruby -e): the median of
--startup-runs runs (default 20), in milliseconds, with the same ratios. These
runs are timed without GNU time in between, and the start-up row is not part
of any geometric mean. --startup-runs 0 leaves the table out.

The peak memory of a run is that one child's maximum RSS as GNU time
(/usr/bin/time -f %M, package "time") reports it. Without GNU time it is the
ru_maxrss that os.wait4 returns for the child, which cannot go below this
script's own RSS (see run_once). getrusage(RUSAGE_CHILDREN) is not used: it
gives the largest of all children so far, not the one just run.

A run that takes longer than --once seconds is not repeated (its single time
stands for the median), and a run still going after --timeout seconds is
killed and shown as "t/o".

Usage: bench/run.py [--ferrow build/ferrow] [--before OLD_FERROW] [--runs 5]
                    [--startup-runs 20] [--timeout 900] [--once 60] [names...]
"""
import argparse
import math
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PROGRAMS = os.path.join(HERE, "programs")

# Programs that are there for their peak memory; their times are shown but
# kept out of the geometric means of the time table.
MEMORY_PROGRAMS = {"pushmem", "selfmaps"}

NAME_WIDTH = 10
CELL_WIDTH = 10
RATIO_WIDTH = 9


class RunResult:
    def __init__(self, seconds, peak_kb, status, stdout, stderr, timed_out):
        self.seconds = seconds
        self.peak_kb = peak_kb
        self.status = status
        self.stdout = stdout
        self.stderr = stderr
        self.timed_out = timed_out


def find_gnu_time():
    """The path of GNU time when it is installed, else None."""
    path = shutil.which("time") or ("/usr/bin/time" if os.path.exists("/usr/bin/time") else None)
    if path is None:
        return None
    try:
        proc = subprocess.run([path, "--version"], capture_output=True, text=True, timeout=10)
    except (OSError, subprocess.TimeoutExpired):
        return None
    return path if "GNU" in proc.stdout + proc.stderr else None


def run_once(cmd, timeout, gnu_time):
    """Runs cmd once and returns its wall-clock time, its peak RSS and its
    output.

    The peak comes from GNU time when there is one: a child forked from this
    script keeps the script's own high-water mark (about 15 MB) through exec,
    so its own ru_maxrss is never smaller than that, while a child forked from
    GNU time starts from time's megabyte or so. Without GNU time the child is
    reaped with os.wait4 and its own ru_maxrss is used, floor included.

    The child runs in a process group of its own so that the watchdog can kill
    it together with time. The watchdog kills only while the child has not
    exited, which os.waitid with WNOWAIT tells without reaping it: a reaped
    pid could already belong to another process."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            tempfile.NamedTemporaryFile(mode="r") as peak_file:
        full = [gnu_time, "-f", "%M", "-o", peak_file.name] + cmd if gnu_time else cmd
        lock = threading.Lock()
        state = {"exited": False, "killed": False}
        start = time.perf_counter()
        proc = subprocess.Popen(full, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                start_new_session=True)

        def kill():
            with lock:
                if not state["exited"]:
                    os.killpg(proc.pid, signal.SIGKILL)
                    state["killed"] = True

        watchdog = threading.Timer(timeout, kill)
        watchdog.start()
        try:
            os.waitid(os.P_PID, proc.pid, os.WEXITED | os.WNOWAIT)
        except BaseException:
            kill()
            raise
        finally:
            elapsed = time.perf_counter() - start
            with lock:
                state["exited"] = True
            watchdog.cancel()
            _, status, usage = os.wait4(proc.pid, 0)
            # Popen must not try to reap the child a second time.
            proc.returncode = os.waitstatus_to_exitcode(status)
        peak_kb = usage.ru_maxrss
        if gnu_time:
            # time writes "Command exited with non-zero status N" or
            # "Command terminated by signal N" before the figure.
            lines = peak_file.read().split()
            peak_kb = int(lines[-1]) if lines and lines[-1].isdigit() else 0
        out.seek(0)
        err.seek(0)
        return RunResult(elapsed, peak_kb, proc.returncode,
                         out.read().decode("utf-8", "replace"),
                         err.read().decode("utf-8", "replace"),
                         state["killed"])


def measure(cmd, args, runs=None, gnu_time=True):
    """Runs cmd up to runs (default args.runs) times, under GNU time when
    gnu_time is true and GNU time is installed. Returns (median seconds,
    peak KB, words printed) or (None, None, reason) on a failure or
    timeout."""
    times = []
    peak = 0
    words = None
    for _ in range(args.runs if runs is None else runs):
        result = run_once(cmd, args.timeout, args.gnu_time if gnu_time else None)
        if result.timed_out:
            return None, None, "t/o"
        if result.status != 0:
            return None, None, f"exit {result.status}: {result.stderr.strip()[:200]}"
        words = result.stdout.split()
        times.append(result.seconds)
        peak = max(peak, result.peak_kb)
        if result.seconds > args.once:
            break
    return statistics.median(times), peak, words


def version_of(cmd):
    try:
        proc = subprocess.run(cmd, capture_output=True, text=True, timeout=10)
    except (OSError, subprocess.TimeoutExpired):
        return "?"
    text = (proc.stdout + proc.stderr).strip().splitlines()
    return text[0] if text else "?"


def geomean(values):
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else None


def main():
    parser = argparse.ArgumentParser(
        description="Times the benchmark programs on ferrow and its twins in other languages.")
    parser.add_argument("--ferrow", default=os.path.join(HERE, "..", "build", "ferrow"),
                        help="the ferrow binary to measure (columns vm and tree)")
    parser.add_argument("--before", metavar="PATH",
                        help="a second ferrow binary, timed on its VM in the column 'before'")
    parser.add_argument("--runs", type=int, default=5, help="runs per program and engine")
    parser.add_argument("--startup-runs", type=int, default=20,
                        help="runs per engine of the start-up table (0: no start-up table)")
    parser.add_argument("--timeout", type=float, default=900,
                        help="seconds after which a run is killed")
    parser.add_argument("--once", type=float, default=60,
                        help="a run longer than this many seconds is not repeated")
    parser.add_argument("names", nargs="*", help="programs to run (default: all)")
    args = parser.parse_args()

    args.gnu_time = find_gnu_time()
    for binary in [args.ferrow] + ([args.before] if args.before else []):
        if not os.access(binary, os.X_OK):
            print(f"run.py: cannot execute {binary}", file=sys.stderr)
            return 2

    # (column, command, source extension, version command)
    engines = [("vm", [args.ferrow], ".frw", [args.ferrow, "--version"]),
               ("tree", [args.ferrow, "--tree"], ".frw", None)]
    # column -> the command that runs a one-line program printing 1
    startup = {"vm": [args.ferrow, "-c", "print(1)"],
               "tree": [args.ferrow, "--tree", "-c", "print(1)"]}
    if args.before:
        engines.append(("before", [args.before], ".frw", [args.before, "--version"]))
        startup["before"] = [args.before, "-c", "print(1)"]
    if shutil.which("lua5.4"):
        engines.append(("lua5.4", ["lua5.4"], ".lua", ["lua5.4", "-v"]))
        startup["lua5.4"] = ["lua5.4", "-e", "print(1)"]
    engines.append(("python3", [sys.executable], ".py", [sys.executable, "--version"]))
    startup["python3"] = [sys.executable, "-c", "print(1)"]
    if shutil.which("ruby"):
        engines.append(("ruby", ["ruby"], ".rb", ["ruby", "--version"]))
        startup["ruby"] = ["ruby", "-e", "print(1)"]
    columns = [e[0] for e in engines]

    # (label, numerator, denominator); only pairs whose columns exist.
    ratios = [(label, a, b) for label, a, b in [
        ("tree/vm", "tree", "vm"), ("vm/bef", "vm", "before"), ("vm/lua", "vm", "lua5.4"),
        ("vm/py", "vm", "python3"), ("vm/rb", "vm", "ruby")]
        if a in columns and b in columns]

    names = args.names or sorted(
        f[:-4] for f in os.listdir(PROGRAMS) if f.endswith(".frw"))

    for column, _, _, version_cmd in engines:
        if version_cmd:
            print(f"{column}: {' '.join(version_cmd[:-1])} ({version_of(version_cmd)})")
    print()

    def header():
        return (f"{'program':<{NAME_WIDTH}}" + "".join(f"{c:>{CELL_WIDTH}}" for c in columns)
                + "".join(f"{label:>{RATIO_WIDTH}}" for label, _, _ in ratios))

    def ratio_cells(row):
        cells = ""
        for _, a, b in ratios:
            if isinstance(row.get(a), float) and isinstance(row.get(b), float) and row[b] > 0:
                cells += f"{row[a] / row[b]:>{RATIO_WIDTH}.2f}"
            else:
                cells += f"{'-':>{RATIO_WIDTH}}"
        return cells

    def geomean_line(rows):
        line = f"{'geomean':<{NAME_WIDTH}}" + f"{'':>{CELL_WIDTH}}" * len(columns)
        for _, a, b in ratios:
            values = [row[a] / row[b] for row in rows
                      if isinstance(row.get(a), float) and isinstance(row.get(b), float)
                      and row[b] > 0 and row[a] > 0]
            mean = geomean(values)
            line += f"{mean:>{RATIO_WIDTH}.2f}" if mean is not None else f"{'-':>{RATIO_WIDTH}}"
        return line

    print(f"time: median of {args.runs} runs, seconds"
          f" (a run over {args.once:g} s is not repeated)")
    print(header(), flush=True)
    failed = False
    time_rows = {}
    memory_rows = {}
    for name in names:
        times = {}
        memory = {}
        reference = None
        for column, cmd, ext, _ in engines:
            path = os.path.join(PROGRAMS, name + ext)
            if not os.path.exists(path):
                continue
            median, peak_kb, out = measure(cmd + [path], args)
            if median is None:
                if out == "t/o":
                    print(f"{name}: {column} killed after {args.timeout:g} s")
                    times[column] = "t/o"
                else:
                    print(f"{name}: {column} failed: {out}")
                    times[column] = "fail"
                    failed = True
                continue
            if reference is None:
                reference = out
            elif out != reference:
                print(f"{name}: {column} printed {' '.join(out)[:200]},"
                      f" expected {' '.join(reference)[:200]}")
                times[column] = "wrong"
                failed = True
                continue
            times[column] = median
            memory[column] = peak_kb / 1024.0
        time_rows[name] = times
        memory_rows[name] = memory
        line = f"{name:<{NAME_WIDTH}}" + "".join(
            f"{times[c]:>{CELL_WIDTH}.3f}" if isinstance(times.get(c), float)
            else f"{times.get(c, '-'):>{CELL_WIDTH}}" for c in columns)
        print(line + ratio_cells(times), flush=True)
    print(geomean_line([time_rows[n] for n in names if n not in MEMORY_PROGRAMS]))

    print()
    print("peak memory: maximum resident set size, MB (largest of the runs"
          + (", measured by GNU time)" if args.gnu_time
             else "; GNU time is missing, so every figure includes this script's own"
                  " high-water mark of about 15 MB)"))
    print(header())
    for name in names:
        row = memory_rows[name]
        line = f"{name:<{NAME_WIDTH}}" + "".join(
            f"{row[c]:>{CELL_WIDTH}.1f}" if c in row else f"{'-':>{CELL_WIDTH}}" for c in columns)
        print(line + ratio_cells(row))
    print(geomean_line([memory_rows[n] for n in names]))

    if args.startup_runs > 0:
        print()
        print(f"start-up: median of {args.startup_runs} runs of a program that prints 1,"
              " milliseconds (in no geometric mean)")
        print(header())
        row = {}
        for column in columns:
            median, _, out = measure(startup[column], args, runs=args.startup_runs,
                                     gnu_time=False)
            if median is None:
                print(f"start-up: {column} failed: {out}")
                row[column] = "t/o" if out == "t/o" else "fail"
                failed = True
            elif out != ["1"]:
                print(f"start-up: {column} printed {' '.join(out)[:200]}, expected 1")
                row[column] = "wrong"
                failed = True
            else:
                row[column] = median * 1000.0
        line = f"{'start-up':<{NAME_WIDTH}}" + "".join(
            f"{row[c]:>{CELL_WIDTH}.1f}" if isinstance(row.get(c), float)
            else f"{row.get(c, '-'):>{CELL_WIDTH}}" for c in columns)
        print(line + ratio_cells(row), flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Times the benchmark programs on both ferrow engines and, when installed,
on lua5.4 and python3, side by side in one run.

Every program checks its own result (assert) and prints it; a run whose
output differs from the VM's is reported as a failure, not timed.

Usage: bench/run.py [--ferrow build/ferrow] [--runs 5] [names...]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PROGRAMS = os.path.join(HERE, "programs")


def time_command(cmd, runs):
    times = []
    output = None
    for _ in range(runs):
        start = time.perf_counter()
        proc = subprocess.run(cmd, capture_output=True, text=True)
        elapsed = time.perf_counter() - start
        if proc.returncode != 0:
            return None, f"exit {proc.returncode}: {proc.stderr.strip()[:200]}"
        output = proc.stdout.split()
        times.append(elapsed)
    return statistics.median(times), output


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ferrow", default=os.path.join(HERE, "..", "build", "ferrow"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()

    names = args.names or sorted(
        f[:-4] for f in os.listdir(PROGRAMS) if f.endswith(".frw"))
    engines = [("vm", [args.ferrow]), ("tree", [args.ferrow, "--tree"])]
    if shutil.which("lua5.4"):
        engines.append(("lua5.4", ["lua5.4"]))
    engines.append(("python3", [sys.executable]))
    ext = {"vm": ".frw", "tree": ".frw", "lua5.4": ".lua", "python3": ".py"}

    header = f"{'program':<10}" + "".join(f"{e:>10}" for e, _ in engines)
    header += f"{'tree/vm':>9}{'vm/lua':>8}{'vm/py':>8}"
    print(f"median of {args.runs} runs, seconds")
    print(header)
    failed = False
    for name in names:
        row = {}
        reference = None
        for engine, cmd in engines:
            path = os.path.join(PROGRAMS, name + ext[engine])
            if not os.path.exists(path):
                continue
            median, out = time_command(cmd + [path], args.runs)
            if median is None:
                print(f"{name}: {engine} failed: {out}")
                failed = True
                continue
            if reference is None:
                reference = out
            elif out != reference:
                print(f"{name}: {engine} printed {out}, expected {reference}")
                failed = True
                continue
            row[engine] = median
        line = f"{name:<10}" + "".join(
            f"{row[e]:>10.3f}" if e in row else f"{'-':>10}" for e, _ in engines)

        def ratio(a, b):
            return f"{row[a] / row[b]:.2f}" if a in row and b in row and row[b] > 0 else "-"
        line += f"{ratio('tree', 'vm'):>9}{ratio('vm', 'lua5.4'):>8}{ratio('vm', 'python3'):>8}"
        print(line, flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

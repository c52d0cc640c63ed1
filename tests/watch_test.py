#!/usr/bin/env python3
"""Tests watch mode end to end: starts `ferrow --watch` (and a file with a
watch pragma) on a temporary file, changes the file, checks the runs that
ferrow reports, and stops it. Every wait is bounded; the whole test takes a
few seconds.

Usage: watch_test.py [--ferrow PATH]
Ends with "N passed, N failed" and a non-zero status when anything failed.
"""

import argparse
import os
import queue
import re
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WAIT_SECONDS = 5
RUN_BANNER = re.compile(r"^---- run at \d\d:\d\d:\d\d ----$")


class Watcher:
    """A running ferrow process whose output lines are collected as they come."""

    def __init__(self, command, cwd):
        self.proc = subprocess.Popen(
            command, cwd=cwd, stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        )
        # One queue per stream: lines keep their order within a stream, while
        # the order between the two pumping threads is not guaranteed.
        self.lines = {"out": queue.Queue(), "err": queue.Queue()}
        for stream, name in ((self.proc.stdout, "out"), (self.proc.stderr, "err")):
            threading.Thread(target=self._pump, args=(stream, name), daemon=True).start()

    def _pump(self, stream, name):
        for raw in iter(stream.readline, b""):
            self.lines[name].put(raw.decode("utf-8", errors="replace").rstrip("\n"))

    def expect(self, stream, matches, what):
        """Waits for the next line of `stream` and checks it."""
        try:
            line = self.lines[stream].get(timeout=WAIT_SECONDS)
        except queue.Empty:
            raise AssertionError(f"waited {WAIT_SECONDS} s for {what}, got nothing") from None
        ok = matches(line) if callable(matches) else line == matches
        if not ok:
            raise AssertionError(f"expected {what} on std{stream}, got {line!r}")

    def expect_run(self, *output):
        self.expect("out", "", "the blank line before a run")
        self.expect("out", RUN_BANNER.match, "the run banner")
        for line in output:
            self.expect("out", line, repr(line))

    def expect_quiet(self, seconds):
        time.sleep(seconds)
        for stream, lines in self.lines.items():
            if not lines.empty():
                raise AssertionError(f"expected no output, got std{stream}: {lines.get()!r}")

    def stop(self):
        self.proc.kill()
        self.proc.wait(timeout=WAIT_SECONDS)


def save(path, text):
    """Writes the file and gives it a modification time that differs from
    every earlier one, whatever the file system's time resolution."""
    with open(path, "w") as f:
        f.write(text)
    save.clock = max(getattr(save, "clock", 0), time.time_ns()) + 1_000_000_000
    os.utime(path, ns=(save.clock, save.clock))


def banner(name):
    return f"ferrow: watching {name} -- save to re-run, Ctrl-C to stop"


def test_reruns_on_change(ferrow, folder, engine):
    path = os.path.join(folder, "prog.frw")
    save(path, 'let n = 1\nprint("run one")\n')
    w = Watcher([ferrow, f"--{engine}", "--watch", "prog.frw", "x", "y z"], folder)
    try:
        w.expect("out", banner("prog.frw"), "the watching banner")
        w.expect_run("run one")
        w.expect_quiet(0.5)  # an unchanged file is not run again
        # Fresh globals each run: redeclaring a name is no conflict and
        # nothing from the previous run is visible.
        save(path, 'print(type(n))\n')
        w.expect_run()
        w.expect("err", lambda l: l.startswith("RuntimeError: undefined variable 'n'"),
                 "the runtime error of the second run")
        w.expect("err", lambda l: l.startswith("  --> prog.frw:1:"), "the arrow line")
        w.expect("err", "1 | print(type(n))", "the excerpt")
        w.expect("err", lambda l: l.strip() == "^", "the caret")
        # Every run gets the words after the file; exit ends only its run.
        save(path, 'print("run three", repr(args()))\nexit(3)\nprint("not reached")\n')
        w.expect_run('run three ["x", "y z"]')
        save(path, 'print("run four")\n')
        w.expect_run("run four")
    finally:
        w.stop()


def test_version_pragma_skips_runs(ferrow, folder, engine):
    path = os.path.join(folder, "versioned.frw")
    save(path, "#pragma version 99\n#pragma shiny\nprint(1)\n")
    w = Watcher([ferrow, f"--{engine}", "--watch", "versioned.frw"], folder)
    try:
        w.expect("out", banner("versioned.frw"), "the watching banner")
        for text in ("#pragma version 99\n#pragma shiny\nprint(2)\n",
                     "#pragma version 0.5\nprint(3)\n"):
            # Warnings and the complaint come again on every run.
            w.expect_run()
            w.expect("err", "ferrow: warning: unknown pragma 'shiny' at versioned.frw:2",
                     "the unknown pragma warning")
            w.expect("err", "ferrow: versioned.frw requires Ferrow >= 99 (this is 0.5.0)",
                     "the version complaint")
            save(path, text)
        w.expect_run("3")
        w.expect_quiet(0.3)
    finally:
        w.stop()


def test_watch_pragma_and_missing_file(ferrow, folder, engine):
    path = os.path.join(folder, "pragma.frw")
    save(path, "# header\n#pragma hotreload\nprint(\"watched\")\n")
    w = Watcher([ferrow, f"--{engine}", "pragma.frw"], folder)
    try:
        w.expect("out", banner("pragma.frw"), "the banner a watch pragma asks for")
        w.expect_run("watched")
    finally:
        w.stop()

    # Indented, padded and ended by CR LF, the pragma still counts.
    save(path, '  #pragma   watch  \r\nprint("crlf")\r\n')
    w = Watcher([ferrow, f"--{engine}", "pragma.frw"], folder)
    try:
        w.expect("out", banner("pragma.frw"), "the banner a watch pragma asks for")
        w.expect_run("crlf")
    finally:
        w.stop()

    later = os.path.join(folder, "later.frw")
    w = Watcher([ferrow, f"--{engine}", "--watch", "later.frw"], folder)
    try:
        w.expect("out", banner("later.frw"), "the watching banner")
        w.expect_quiet(0.5)  # nothing to run yet
        save(later, 'print("created")\n')
        w.expect_run("created")
        os.remove(later)
        w.expect_quiet(0.5)  # a vanished file is skipped silently
        save(later, 'print("back")\n')
        w.expect_run("back")
    finally:
        w.stop()


TESTS = (test_reruns_on_change, test_version_pragma_skips_runs, test_watch_pragma_and_missing_file)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ferrow", default=os.path.join(HERE, "..", "build", "ferrow"))
    ferrow = os.path.abspath(parser.parse_args().ferrow)
    passed = failed = 0
    for engine in ("vm", "tree"):
        for test in TESTS:
            with tempfile.TemporaryDirectory() as folder:
                try:
                    test(ferrow, folder, engine)
                    passed += 1
                except AssertionError as e:
                    failed += 1
                    print(f"FAIL {test.__name__} [{engine}]: {e}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Checks what the script tests cannot express line by line: the format of
the benchmark's result lines (the times vary), the exact bytes at the end of
a prompt session, programs too large to keep as scripts (chains of 100,000
terms, generated here), and watch mode end to end (a file changed under a
running `ferrow --watch`; every wait is bounded).

Usage: modes_test.py [--ferrow PATH]
Ends with "N passed, N failed" and a non-zero status when anything failed.
"""

import argparse
import functools
import os
import queue
import re
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TIMEOUT_SECONDS = 60
NUMBER = r"(-?[0-9.e+-]+|inf|nan)"
RESULT_LINES = (
    re.compile(rf"^tree-walker: {NUMBER} ms/run$"),
    re.compile(rf"^bytecode VM: {NUMBER} ms/run$"),
    re.compile(rf"^speedup:     {NUMBER}x$"),
)
BANNER = b"Ferrow 0.5.0  --  type Ctrl-D (or 'exit') to quit\n"


def run(ferrow, args, folder, stdin=b""):
    return subprocess.run([ferrow] + args, cwd=folder, input=stdin,
                          capture_output=True, timeout=TIMEOUT_SECONDS)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def check_bench_lines(proc):
    check(proc.returncode == 0, f"exit status {proc.returncode}, stderr {proc.stderr!r}")
    check(proc.stderr == b"", f"unexpected stderr {proc.stderr!r}")
    lines = proc.stdout.decode().split("\n")
    check(len(lines) == 4 and lines[3] == "", f"expected three lines, got {proc.stdout!r}")
    numbers = []
    for pattern, line in zip(RESULT_LINES, lines):
        m = pattern.match(line)
        check(m is not None, f"line {line!r} does not match {pattern.pattern}")
        text = m.group(1)
        # The stream's default float format is %g: six significant digits.
        check("%g" % float(text) == text, f"{text!r} is not in the default float format")
        numbers.append(float(text))
    tree, vm, speedup = numbers
    check(tree > 0 and vm > 0, f"times must be positive: {numbers}")
    expected = tree / vm
    check(abs(speedup - expected) <= 1e-3 * expected + 1e-5,
          f"speedup {speedup} is not tree/vm = {expected}")


def test_bench_swallows_output(ferrow, folder):
    path = os.path.join(folder, "loud.frw")
    with open(path, "w") as f:
        f.write('let total = 0\nfor i = 1, 2000 do\n  total += i\n  print("noise", i)\nend\n'
                'assert(total == 2001000)\n')
    check_bench_lines(run(ferrow, ["--bench", "loud.frw"], folder))


def test_bench_empty_file(ferrow, folder):
    open(os.path.join(folder, "empty.frw"), "w").close()
    check_bench_lines(run(ferrow, ["--bench", "empty.frw"], folder))


def test_bench_ignores_watch_pragma(ferrow, folder):
    with open(os.path.join(folder, "watched.frw"), "w") as f:
        f.write("#pragma watch\nprint(1)\n")
    check_bench_lines(run(ferrow, ["--tree", "--bench", "watched.frw"], folder))


def test_prompt_end_of_input_writes_line_feed(ferrow, folder):
    proc = run(ferrow, [], folder, b"if true then\n")
    check(proc.returncode == 0, f"exit status {proc.returncode}")
    check(proc.stdout == BANNER + b">> .. \n", f"stdout {proc.stdout!r}")


def test_prompt_exit_writes_nothing(ferrow, folder):
    for word in (b"exit", b"quit"):
        proc = run(ferrow, ["--tree"], folder, b"1\n" + word + b"\n2\n")
        check(proc.returncode == 0, f"exit status {proc.returncode}")
        check(proc.stdout == BANNER + b">> 1\n>> ", f"stdout {proc.stdout!r}")


def test_prompt_last_line_without_line_feed(ferrow, folder):
    proc = run(ferrow, [], folder, b"40 + 2")
    check(proc.stdout == BANNER + b">> 42\n>> \n", f"stdout {proc.stdout!r}")


CHAIN_TERMS = 100000
TOO_MANY_CONSTANTS = b"CompileError: too many constants\n"


def run_chain(ferrow, folder, name, source, expected):
    """Runs a generated program on both engines; `expected` maps each engine
    to its (stdout, stderr) pair, or gives one pair for both."""
    with open(os.path.join(folder, name), "w") as f:
        f.write(source)
    for engine in ("tree", "vm"):
        want = expected[engine] if isinstance(expected, dict) else expected
        proc = run(ferrow, ["--" + engine, name], folder)
        got = (proc.stdout, proc.stderr)
        check(got == want, f"{name} on {engine}: expected {want!r}, got {got!r:.300}")
        check(proc.returncode == (0 if not want[1] else 1),
              f"{name} on {engine}: exit status {proc.returncode}")


def test_long_chain_of_plus(ferrow, folder):
    n = CHAIN_TERMS
    run_chain(ferrow, folder, "sum.frw",
              "function f(x)\n  return " + " + ".join(["x"] * n) + "\nend\nprint(f(1))\n",
              (b"%d\n" % n, b""))
    # Every literal is a constant of its own, and one function holds 65,536.
    run_chain(ferrow, folder, "literals.frw", "print(" + " + ".join(["1"] * n) + ")\n",
              {"tree": (b"%d\n" % n, b""), "vm": (b"", TOO_MANY_CONSTANTS)})
    run_chain(ferrow, folder, "mixed.frw",
              "function f(x)\n  return x" + " - x * x + x // x" * (n // 3) +
              " == x and x or nil\nend\nprint(f(1))\n", (b"1\n", b""))


def test_long_chain_of_string_pieces(ferrow, folder):
    # Every "+" copies the string built so far, so the pieces are mostly
    # empty: the time goes into the chain, not into copying.
    n = CHAIN_TERMS
    run_chain(ferrow, folder, "join.frw",
              'function f(a, b)\n  return "<" + a' + " + b + a" * (n // 2) +
              ' + ">"\nend\nprint(f("", ""))\n', (b"<>\n", b""))
    # Each ${...} piece calls the global str, a constant of its own.
    run_chain(ferrow, folder, "interpolation.frw",
              'let e = ""\nprint("[' + "${e}" * n + ']")\n',
              {"tree": (b"[]\n", b""), "vm": (b"", TOO_MANY_CONSTANTS)})


def test_long_chain_of_calls(ferrow, folder):
    n = CHAIN_TERMS
    run_chain(ferrow, folder, "calls.frw",
              "let count = 0\nfunction g(y)\n  count += y\n  return g\nend\n"
              "function f(x)\n  return g" + "(x)" * n + "\nend\nf(1)\nprint(count)\n",
              (b"%d\n" % n, b""))


def test_long_chain_of_field_reads(ferrow, folder):
    n = CHAIN_TERMS
    build = "let m = {v: 0}\nfor i = 1, %d do m = {a: m, v: i} end\n" % n
    # Indexing with a variable key needs no constant per link.
    run_chain(ferrow, folder, "index.frw",
              build + 'function f(m, k)\n  return m' + "[k]" * (n - 1) +
              '.v\nend\nprint(f(m, "a"))\n', (b"1\n", b""))
    # Field names are constants, one per read.
    run_chain(ferrow, folder, "fields.frw", build + "print(m" + ".a" * n + ".v)\n",
              {"tree": (b"0\n", b""), "vm": (b"", TOO_MANY_CONSTANTS)})


def test_long_chain_of_tokens(ferrow, folder):
    n = CHAIN_TERMS
    with open(os.path.join(folder, "chain.frw"), "w") as f:
        f.write("let x = " + " + ".join(["1"] * n) + "\n")
    proc = run(ferrow, ["--tokens", "chain.frw"], folder)
    check(proc.returncode == 0 and proc.stderr == b"", f"exit status {proc.returncode}")
    lines = proc.stdout.decode().split("\n")
    # let, x, =, n numbers, n - 1 operators, end of line, end of file, and
    # the empty text after the last line feed.
    check(len(lines) == 2 * n + 5 and lines[-1] == "", f"{len(lines)} lines")
    check(lines[3] == "number '1' @1:9", f"line 4 is {lines[3]!r}")
    check(lines[-4] == "number '1' @1:%d" % (9 + 4 * (n - 1)), f"last number {lines[-4]!r}")



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


def watch_reruns_on_change(ferrow, folder, engine):
    path = os.path.join(folder, "prog.frw")
    save(path, 'let n = 1\nprint("run one")\n')
    w = Watcher([ferrow, f"--{engine}", "--watch", "prog.frw"], folder)
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
        save(path, 'print("run three")\n')
        w.expect_run("run three")
    finally:
        w.stop()


def watch_version_pragma_skips_runs(ferrow, folder, engine):
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


def watch_pragma_and_missing_file(ferrow, folder, engine):
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



WATCH_TESTS = (watch_reruns_on_change, watch_version_pragma_skips_runs, watch_pragma_and_missing_file)
TESTS = [value for name, value in sorted(globals().items()) if name.startswith("test_")] + [
    functools.partial(test, engine=engine) for engine in ("vm", "tree") for test in WATCH_TESTS]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ferrow", default=os.path.join(HERE, "..", "build", "ferrow"))
    ferrow = os.path.abspath(parser.parse_args().ferrow)
    passed = failed = 0
    for test in TESTS:
        with tempfile.TemporaryDirectory() as folder:
            try:
                test(ferrow, folder)
                passed += 1
            except (AssertionError, subprocess.TimeoutExpired) as e:
                failed += 1
                name = getattr(test, "__name__", None) or f"{test.func.__name__} [{test.keywords['engine']}]"
                print(f"FAIL {name}: {e}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

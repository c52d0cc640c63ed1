#!/usr/bin/env python3
"""Checks what the script tests cannot express line by line: the format of
the benchmark's result lines (the times vary), the exact bytes at the end of
a prompt session, programs too large to keep as scripts (chains of 100,000
terms, generated here), and watch mode end to end (a file changed under a
running `ferrow --watch`; every wait is bounded).

Usage: modes_test.py [--ferrow PATH]; ends with "N passed, N failed".
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

NUMBER = r"(-?[0-9.e+-]+|inf|nan)"
RESULT_LINES = [re.compile(rf"^{label} {NUMBER}{unit}$") for label, unit in
                (("tree-walker:", " ms/run"), ("bytecode VM:", " ms/run"), ("speedup:    ", "x"))]
BANNER = b"Ferrow 0.5.0  --  type Ctrl-D (or 'exit') to quit\n"
N = 100000  # terms of a generated chain
TOO_MANY_CONSTANTS = (b"", b"CompileError: too many constants\n")
WAIT_SECONDS = 20  # a bound for a missing line, not a pace


def run(ferrow, args, folder, stdin=b""):
    return subprocess.run([ferrow] + args, cwd=folder, input=stdin, capture_output=True, timeout=60)


def write(folder, name, text):
    with open(os.path.join(folder, name), "w") as f:
        f.write(text)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def test_bench(ferrow, folder):
    # Output is swallowed, an empty file and a watch pragma change nothing.
    for name, text, flags in (("loud.frw", 'let t = 0\nfor i = 1, 2000 do\n  t += i\n  print("noise", i)\n'
                               'end\nassert(t == 2001000)\n', []),
                              ("empty.frw", "", []), ("watched.frw", "#pragma watch\nprint(1)\n", ["--tree"])):
        write(folder, name, text)
        proc = run(ferrow, flags + ["--bench", name], folder)
        check(proc.returncode == 0 and proc.stderr == b"", f"{name}: status {proc.returncode}, {proc.stderr!r}")
        lines = proc.stdout.decode().split("\n")
        check(len(lines) == 4 and lines[3] == "", f"{name}: expected three lines, got {proc.stdout!r}")
        numbers = []
        for pattern, line in zip(RESULT_LINES, lines):
            m = pattern.match(line)
            # The stream's default float format is %g: six significant digits.
            check(m and "%g" % float(m.group(1)) == m.group(1), f"{name}: bad result line {line!r}")
            numbers.append(float(m.group(1)))
        tree, vm, speedup = numbers
        check(tree > 0 and vm > 0 and abs(speedup - tree / vm) <= 1e-3 * tree / vm + 1e-5,
              f"{name}: times {numbers}")


def test_prompt_endings(ferrow, folder):
    # End of input writes a line feed, "exit" and "quit" nothing; a last line
    # without its line feed still runs.
    for args, stdin, out in (([], b"", b">> \n"), ([], b"if true then\n", b">> .. \n"), ([], b"40 + 2", b">> 42\n>> \n"),
                             (["--tree"], b"1\nexit\n2\n", b">> 1\n>> "), (["--tree"], b"1\nquit\n2\n", b">> 1\n>> ")):
        proc = run(ferrow, args, folder, stdin)
        check(proc.returncode == 0 and proc.stdout == BANNER + out, f"{stdin!r}: {proc.stdout!r}")


def test_long_chains(ferrow, folder):
    build = "let m = {v: 0}\nfor i = 1, %d do m = {a: m, v: i} end\n" % N
    cases = (  # name, program, (stdout, stderr) on both engines or {engine: ...}
        ("sum", "function f(x)\n  return " + " + ".join(["x"] * N) + "\nend\nprint(f(1))\n", (b"%d\n" % N, b"")),
        # Every literal is a constant of its own, and one function holds 65,536.
        ("literals", "print(" + " + ".join(["1"] * N) + ")\n", {"tree": (b"%d\n" % N, b""), "vm": TOO_MANY_CONSTANTS}),
        ("mixed", "function f(x)\n  return x" + " - x * x + x // x" * (N // 3) + " == x and x or nil\nend\n"
         "print(f(1))\n", (b"1\n", b"")),
        # Mostly empty pieces: the time goes into the chain, not into copying.
        ("join", 'function f(a, b)\n  return "<" + a' + " + b + a" * (N // 2) + ' + ">"\nend\nprint(f("", ""))\n',
         (b"<>\n", b"")),
        ("interpolation", 'let e = ""\nprint("[' + "${e}" * N + ']")\n', {"tree": (b"[]\n", b""), "vm": TOO_MANY_CONSTANTS}),
        ("calls", "let count = 0\nfunction g(y)\n  count += y\n  return g\nend\nfunction f(x)\n  return g"
         + "(x)" * N + "\nend\nf(1)\nprint(count)\n", (b"%d\n" % N, b"")),
        ("index", build + 'function f(m, k)\n  return m' + "[k]" * (N - 1) + '.v\nend\nprint(f(m, "a"))\n', (b"1\n", b"")),
        ("fields", build + "print(m" + ".a" * N + ".v)\n", {"tree": (b"0\n", b""), "vm": TOO_MANY_CONSTANTS}))
    for name, source, expected in cases:
        write(folder, name + ".frw", source)
        for engine in ("tree", "vm"):
            want = expected[engine] if isinstance(expected, dict) else expected
            proc = run(ferrow, ["--" + engine, name + ".frw"], folder)
            check((proc.stdout, proc.stderr, proc.returncode) == want + (1 if want[1] else 0,),
                  f"{name} on {engine}: expected {want!r}, got {(proc.stdout, proc.stderr)!r:.300}")
    write(folder, "chain.frw", "let x = " + " + ".join(["1"] * N) + "\n")
    proc = run(ferrow, ["--tokens", "chain.frw"], folder)
    lines = proc.stdout.decode().split("\n")
    # let, x, =, N numbers, N - 1 operators, end of line, end of file, and the
    # empty text after the last line feed.
    check(proc.returncode == 0 and len(lines) == 2 * N + 5 and lines[3] == "number '1' @1:9"
          and lines[-4] == "number '1' @1:%d" % (9 + 4 * (N - 1)), f"--tokens: {len(lines)} lines")


class Watcher:
    """A running ferrow process whose output lines are collected as they come."""

    def __init__(self, ferrow, args, folder, name):
        self.proc = subprocess.Popen([ferrow] + args, cwd=folder, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # One queue per stream: the order between the two streams is not kept.
        self.lines = {"out": queue.Queue(), "err": queue.Queue()}
        for stream, key in ((self.proc.stdout, "out"), (self.proc.stderr, "err")):
            threading.Thread(target=self.pump, args=(stream, key), daemon=True).start()
        self.expect("out", f"ferrow: watching {name} -- save to re-run, Ctrl-C to stop")

    def pump(self, stream, key):
        for raw in iter(stream.readline, b""):
            self.lines[key].put(raw.decode("utf-8", errors="replace").rstrip("\n"))

    def expect(self, stream, want):
        """The next line of `stream` must equal `want` (or match it, a pattern)."""
        try:
            line = self.lines[stream].get(timeout=WAIT_SECONDS)
        except queue.Empty:
            raise AssertionError(f"waited {WAIT_SECONDS} s for {want!r}, got nothing") from None
        check(want.match(line) if isinstance(want, re.Pattern) else line == want,
              f"expected {want!r} on std{stream}, got {line!r}")

    def expect_run(self, *output):
        for line in ("", re.compile(r"^---- run at \d\d:\d\d:\d\d ----$")) + output:
            self.expect("out", line)

    def expect_quiet(self, seconds):
        time.sleep(seconds)
        for stream, lines in self.lines.items():
            check(lines.empty(), f"expected no output, got std{stream}: {lines.queue!r}")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.proc.kill()
        self.proc.wait(timeout=WAIT_SECONDS)


def save(path, text):
    """Writes the file with a modification time later than every earlier one,
    whatever the file system's time resolution."""
    with open(path, "w") as f:
        f.write(text)
    save.clock = max(getattr(save, "clock", 0), time.time_ns()) + 1_000_000_000
    os.utime(path, ns=(save.clock, save.clock))


def test_watch(ferrow, folder):
    for engine in ("--vm", "--tree"):
        prog, versioned, pragma, later = (os.path.join(folder, name) for name in
                                          ("prog.frw", "versioned.frw", "pragma.frw", "later.frw"))
        save(prog, 'let n = 1\nprint("run one")\n')
        with Watcher(ferrow, [engine, "--watch", "prog.frw", "x", "y z"], folder, "prog.frw") as w:
            w.expect_run("run one")
            w.expect_quiet(0.5)  # an unchanged file is not run again
            save(prog, 'print(type(n))\n')  # fresh globals on every run
            w.expect_run()
            for line in (re.compile(r"^RuntimeError: undefined variable 'n'"), re.compile(r"^  --> prog.frw:1:"),
                         "1 | print(type(n))", re.compile(r"^\s*\^$")):
                w.expect("err", line)
            # Every run gets the words after the file; exit ends only its run.
            save(prog, 'print("run three", repr(args()))\nexit(3)\nprint("not reached")\n')
            w.expect_run('run three ["x", "y z"]')
            save(prog, 'print("run four")\n')
            w.expect_run("run four")
        # Pragma warnings and the version complaint come again on every run.
        save(versioned, "#pragma version 99\n#pragma shiny\nprint(1)\n")
        with Watcher(ferrow, [engine, "--watch", "versioned.frw"], folder, "versioned.frw") as w:
            for text in ("#pragma version 99\n#pragma shiny\nprint(2)\n", "#pragma version 0.5\nprint(3)\n"):
                w.expect_run()
                w.expect("err", "ferrow: warning: unknown pragma 'shiny' at versioned.frw:2")
                w.expect("err", "ferrow: versioned.frw requires Ferrow >= 99 (this is 0.5.0)")
                save(versioned, text)
            w.expect_run("3")
            w.expect_quiet(0.3)
        # A watch pragma asks for watching, also indented, padded, in CR LF.
        for text, out in (('# header\n#pragma hotreload\nprint("watched")\n', "watched"),
                          ('  #pragma   watch  \r\nprint("crlf")\r\n', "crlf")):
            save(pragma, text)
            with Watcher(ferrow, [engine, "pragma.frw"], folder, "pragma.frw") as w:
                w.expect_run(out)
        # A file that does not exist yet, or vanishes, is waited for silently.
        with Watcher(ferrow, [engine, "--watch", "later.frw"], folder, "later.frw") as w:
            w.expect_quiet(0.5)
            save(later, 'print("created")\n')
            w.expect_run("created")
            os.remove(later)
            w.expect_quiet(0.5)
            save(later, 'print("back")\n')
            w.expect_run("back")
        for path in (prog, versioned, pragma, later):
            os.remove(path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ferrow", default=os.path.join(os.path.dirname(__file__), "..", "build", "ferrow"))
    ferrow = os.path.abspath(parser.parse_args().ferrow)
    passed = failed = 0
    for name, test in sorted((n, t) for n, t in globals().items() if n.startswith("test_")):
        with tempfile.TemporaryDirectory() as folder:
            try:
                test(ferrow, folder)
                passed += 1
            except (AssertionError, subprocess.TimeoutExpired) as e:
                failed += 1
                print(f"FAIL {name}: {e}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

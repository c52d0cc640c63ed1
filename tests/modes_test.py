#!/usr/bin/env python3
"""Checks what the script tests cannot express line by line: the format of
the benchmark's three result lines (the times themselves vary), the exact
bytes at the end of a prompt session (end of input writes a line feed,
"exit" writes nothing), and programs too large to keep as scripts: operator
and postfix chains of 100,000 terms, generated here.

Usage: modes_test.py [--ferrow PATH]
Ends with "N passed, N failed" and a non-zero status when anything failed.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

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


TESTS = [value for name, value in sorted(globals().items()) if name.startswith("test_")]


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
                print(f"FAIL {test.__name__}: {e}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

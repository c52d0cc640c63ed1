#!/usr/bin/env python3
"""Runs the Ferrow script tests through the real ferrow binary.

Every *.frw script carries its expectations in `#>` comment lines (see
tests/scripts/README.md). Each script runs once per engine, from its own
folder with its base name as the path, and must produce exactly the expected
standard output, standard error and exit status.

Usage: run_scripts.py [--ferrow PATH] [-j N] [--engine tree|vm] [--timeout S] [-v] [paths...]

Paths are scripts or folders (searched recursively); the default is the
scripts folder beside this file. Ends with "N passed, N failed" and a
non-zero status when anything failed.

The timeout per run is 10 seconds, or FERROW_TEST_TIMEOUT seconds when that
is set (sanitizer builds run several times slower), or --timeout; runs with
a memory limit get four times as long.

With an AddressSanitizer binary every run is checked for leaks, reference
cycles included: nothing may leak. A script marked `#> memory: N` runs with its
address space limited to N MiB, to reach memory exhaustion quickly; it is
skipped for a binary built with AddressSanitizer, which reserves terabytes of
address space and aborts when an allocation fails.
"""

import argparse
import concurrent.futures
import contextlib
import difflib
import os
import re
import shlex
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_SCRIPTS = os.path.join(HERE, "scripts")
DEFAULT_FERROW = os.path.join(HERE, "..", "build", "ferrow")
ENGINES = ("tree", "vm")
DEFAULT_TIMEOUT = 10

# `#> key: text`, `#> key[engine]: text`, or `#> key:` for an empty text.
# Exactly one space follows the colon; the rest of the line is the text.
DIRECTIVE = re.compile(rb"^[ \t]*#>[ \t]*([a-z]+)(?:\[([a-z]+)\])?:(?: (.*))?$")
ENGINE_SPECIFIC = {b"out", b"err", b"exit", b"leaks"}
KNOWN = ENGINE_SPECIFIC | {b"args", b"stdin", b"engines", b"flag", b"memory", b"differs"}


class ScriptError(Exception):
    """A script whose directives cannot be understood."""


class Expectations:
    def __init__(self):
        self.out = {engine: [] for engine in ENGINES}
        self.err = {engine: [] for engine in ENGINES}
        self.exit = {engine: 0 for engine in ENGINES}
        self.args = None
        self.stdin = []
        self.engines = list(ENGINES)
        self.flag = True
        self.memory = None  # MiB of address space, or no limit
        self.differs = []  # behaviour differences named for tests/differential.py


def parse_directives(path):
    with open(path, "rb") as f:
        data = f.read()
    exp = Expectations()
    for number, raw in enumerate(data.split(b"\n"), start=1):
        if not raw.lstrip(b" \t").startswith(b"#>"):
            continue
        m = DIRECTIVE.match(raw)
        if not m:
            raise ScriptError(f"line {number}: malformed directive: {raw.decode(errors='replace')}")
        key, engine, text = m.group(1), m.group(2), m.group(3) or b""
        where = f"line {number}"
        if key not in KNOWN:
            raise ScriptError(f"{where}: unknown directive '{key.decode()}'")
        if engine is not None:
            if key not in ENGINE_SPECIFIC:
                raise ScriptError(f"{where}: '{key.decode()}' takes no engine")
            if engine.decode() not in ENGINES:
                raise ScriptError(f"{where}: unknown engine '{engine.decode()}'")
        targets = [engine.decode()] if engine is not None else list(ENGINES)
        if key == b"out":
            for t in targets:
                exp.out[t].append(text)
        elif key == b"err":
            for t in targets:
                exp.err[t].append(text)
        elif key == b"exit":
            try:
                status = int(text.strip())
            except ValueError:
                raise ScriptError(f"{where}: exit status is not a number") from None
            for t in targets:
                exp.exit[t] = status
        elif key == b"args":
            exp.args = shlex.split(text.decode("utf-8", errors="surrogateescape"))
        elif key == b"stdin":
            exp.stdin.append(text)
        elif key == b"engines":
            names = text.decode(errors="replace").split()
            bad = [n for n in names if n not in ENGINES]
            if bad or not names:
                raise ScriptError(f"{where}: engines must name tree and/or vm")
            exp.engines = [e for e in ENGINES if e in names]
        elif key == b"flag":
            if text.strip() != b"none":
                raise ScriptError(f"{where}: the only flag setting is 'none'")
            exp.flag = False
        elif key == b"differs":
            exp.differs.extend(text.decode(errors="replace").split())
        elif key == b"memory":
            try:
                exp.memory = int(text.strip())
            except ValueError:
                raise ScriptError(f"{where}: memory is a number of MiB") from None
    return exp


def collect_scripts(paths):
    scripts = []
    for path in paths:
        if os.path.isdir(path):
            for root, dirs, files in os.walk(path):
                dirs.sort()
                scripts.extend(os.path.join(root, f) for f in sorted(files) if f.endswith(".frw"))
        elif os.path.isfile(path):
            scripts.append(path)
        else:
            raise FileNotFoundError(path)
    return scripts


def as_text(lines):
    return b"".join(line + b"\n" for line in lines)


def as_lines(data):
    """Splits output into lines. The last line may lack its line feed (the
    prompt's last ">> " after "exit", for instance) and still match."""
    lines = data.split(b"\n")
    if lines[-1] == b"":
        lines.pop()
    return lines


def show(data):
    return data.decode("utf-8", errors="backslashreplace")


def diff(name, expected, actual):
    lines = difflib.unified_diff(
        show(expected).splitlines(keepends=True),
        show(actual).splitlines(keepends=True),
        fromfile=f"expected {name}",
        tofile=f"actual {name}",
    )
    text = ""
    for line in lines:
        text += line if line.endswith("\n") else line + "\n\\ no line feed at end\n"
    return text


# Scratch folder. Every run gets a fresh, empty folder of its own, named by
# the environment variable FERROW_TEST_TMP, for scripts that write files; it
# is removed after the run. tests/differential.py uses the same.
@contextlib.contextmanager
def scratch_environment(env=None):
    with tempfile.TemporaryDirectory(prefix="ferrow-test-") as folder:
        env = dict(os.environ if env is None else env)
        env["FERROW_TEST_TMP"] = folder
        yield env


# A run that fills memory up to its limit is bound by how fast the machine
# hands out pages, which a loaded machine slows most: it gets longer.
MEMORY_TIMEOUT_FACTOR = 4


def run_one(ferrow, script, engine, exp, timeout):
    """Returns None on success, else a report of what differed."""
    folder = os.path.dirname(os.path.abspath(script))
    base = os.path.basename(script)
    args = exp.args if exp.args is not None else ["{file}"]
    args = [a.replace("{file}", base) for a in args]
    command = [ferrow] + ([f"--{engine}"] if exp.flag else []) + args
    if exp.memory is not None:
        command = ["/bin/sh", "-c", 'ulimit -v "$0" && exec "$@"', str(exp.memory * 1024)] + command
        timeout *= MEMORY_TIMEOUT_FACTOR
    stdin = as_text(exp.stdin)
    shown = " ".join(shlex.quote(part) for part in command)
    header = f"command (in {folder}): {shown}\n"
    try:
        with scratch_environment() as env:
            proc = subprocess.run(
                command, cwd=folder, input=stdin, capture_output=True, timeout=timeout, env=env,
            )
    except subprocess.TimeoutExpired:
        return f"{header}timed out after {timeout:g} s (killed)\n"
    except OSError as e:
        return f"{header}could not start: {e}\n"

    report = ""
    stderr = proc.stderr
    for name, want, got in (("stdout", exp.out[engine], proc.stdout),
                            ("stderr", exp.err[engine], stderr)):
        if as_lines(got) != want:
            report += diff(name, as_text(want), got)
    if proc.returncode != exp.exit[engine]:
        report += f"exit status: expected {exp.exit[engine]}, got {proc.returncode}\n"
    return header + report if report else None


def has_address_sanitizer(binary):
    with open(binary, "rb") as f:
        return b"__asan_init" in f.read()


def main():
    parser = argparse.ArgumentParser(description="Run the Ferrow script tests.")
    parser.add_argument("--ferrow", default=DEFAULT_FERROW, help="the ferrow binary")
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--engine", choices=ENGINES, help="run on this engine only")
    parser.add_argument("--timeout", type=float, default=None,
                        help="seconds per run (default: FERROW_TEST_TIMEOUT or 10)")
    parser.add_argument("-v", "--verbose", action="store_true", help="name every run")
    parser.add_argument("paths", nargs="*", help="scripts or folders (default: tests/scripts)")
    options = parser.parse_args()

    timeout = options.timeout
    if timeout is None:
        try:
            timeout = float(os.environ.get("FERROW_TEST_TIMEOUT", DEFAULT_TIMEOUT))
        except ValueError:
            print("run_scripts: FERROW_TEST_TIMEOUT is not a number", file=sys.stderr)
            return 2
    ferrow = os.path.abspath(options.ferrow)
    if not os.access(ferrow, os.X_OK):
        print(f"run_scripts: no ferrow binary at {ferrow}", file=sys.stderr)
        return 2
    try:
        scripts = collect_scripts(options.paths or [DEFAULT_SCRIPTS])
    except FileNotFoundError as e:
        print(f"run_scripts: no such script or folder: {e}", file=sys.stderr)
        return 2

    sanitized = has_address_sanitizer(ferrow)
    skipped = 0
    jobs = []  # (script, engine, expectations or error text)
    for script in scripts:
        try:
            exp = parse_directives(script)
        except ScriptError as e:
            jobs.append((script, "-", str(e)))
            continue
        if exp.memory is not None and sanitized:
            skipped += 1
            if options.verbose:
                print(f"SKIP {script} (memory limit under AddressSanitizer)")
            continue
        for engine in exp.engines:
            if options.engine in (None, engine):
                jobs.append((script, engine, exp))

    def work(job):
        script, engine, exp = job
        if isinstance(exp, str):
            return f"bad script: {exp}\n"
        return run_one(ferrow, script, engine, exp, timeout)

    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, options.jobs)) as pool:
        results = list(pool.map(work, jobs))

    passed = failed = 0
    for (script, engine, _), failure in zip(jobs, results):
        name = os.path.relpath(script)
        if name.startswith(".."):
            name = os.path.abspath(script)
        if failure is None:
            passed += 1
            if options.verbose:
                print(f"PASS {name} [{engine}]")
        else:
            failed += 1
            print(f"FAIL {name} [{engine}]")
            print(failure)
    print(f"{passed} passed, {failed} failed")
    if skipped:
        print(f"({skipped} script(s) with a memory limit skipped under AddressSanitizer)")
    if not jobs:
        print("run_scripts: no scripts found", file=sys.stderr)
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Seeds fuzz/corpus/<target>/ from the script tests.

Each tests/scripts/**/*.frw and examples/*.frw becomes an input of the program
targets, named from its path; the float target gets interesting doubles as 8
raw bytes. Minimize afterwards with FUZZ_MERGE=1 fuzz/run.sh.

Usage: fuzz/make_corpus.py [TARGET...]   (default: every target)
"""
import math
import pathlib
import shutil
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
PROGRAM_TARGETS = ["lexer", "parser", "compiler", "tree", "vm"]
DOUBLES = [0.0, -0.0, 1.0, -1.0, 0.1, 0.5, 1 / 3, 2 / 3, 100.0, 1e15, 1e16, 1e17, 1e21, 1e22,
           123456789.125, 2.0 ** 53, 2.0 ** 53 + 2, 2.0 ** 63, 9007199254740993.0, 5e-324,
           2.2250738585072014e-308, 2.225073858507201e-308, 1.7976931348623157e308,
           math.inf, -math.inf, math.nan, 1e-7, 1e-6, 123e-20, 4.35, 0.30000000000000004]


def main():
    wanted = set(sys.argv[1:]) or set(PROGRAM_TARGETS + ["float"])
    unknown = wanted - set(PROGRAM_TARGETS + ["float"])
    if unknown:
        print(f"make_corpus.py: unknown target(s): {' '.join(sorted(unknown))}", file=sys.stderr)
        return 2
    sources = sorted((ROOT / "tests" / "scripts").rglob("*.frw")) + sorted((ROOT / "examples").glob("*.frw"))
    for target in [t for t in PROGRAM_TARGETS if t in wanted]:
        folder = ROOT / "fuzz" / "corpus" / target
        folder.mkdir(parents=True, exist_ok=True)
        for source in sources:
            name = "seed-" + "-".join(source.relative_to(ROOT).with_suffix("").parts[-2:])
            shutil.copyfile(source, folder / name)
    if "float" in wanted:
        folder = ROOT / "fuzz" / "corpus" / "float"
        folder.mkdir(parents=True, exist_ok=True)
        for bits in (struct.pack("<d", value) for value in DOUBLES):
            (folder / ("seed-" + bits.hex())).write_bytes(bits)
    return 0


if __name__ == "__main__":
    sys.exit(main())

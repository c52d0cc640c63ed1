#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UBSan) in build-fuzz/.
# Usage: fuzz/build.sh [TARGET...]      (default: every target)
# Installs the compiler's runtime package (libFuzzer and the sanitizer
# runtimes) when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(lexer parser compiler tree vm float map)
targets=("$@")
((${#targets[@]} > 0)) || targets=("${all_targets[@]}")

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz/build.sh: clang++ not found (apt-get install clang)" >&2
  exit 1
fi
major=$(clang++ -dumpversion | cut -d. -f1)
runtime="libclang-rt-${major}-dev"
if ! dpkg -s "$runtime" >/dev/null 2>&1; then
  echo "installing $runtime (libFuzzer and the sanitizer runtimes)"
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq "$runtime" || { apt-get update -qq && apt-get install -y -qq "$runtime"; }
  else
    echo "fuzz/build.sh: $runtime is missing and cannot be installed (not root)" >&2
    exit 1
  fi
fi

if [ ! -f build-fuzz/CMakeCache.txt ]; then
  generator=()
  command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
  cmake -S . -B build-fuzz "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DFERROW_FUZZ=ON -DFERROW_TESTS=OFF \
        -DFERROW_LINE_EDITING=OFF
fi
cmake --build build-fuzz -j "${JOBS:-2}" --target "${targets[@]/#/fuzz_}"

#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan, UBSan) in build-fuzz/, installing
# the compiler's runtime package (libFuzzer, sanitizers) when missing.
# Usage: fuzz/build.sh [TARGET...]      (default: every target)
set -euo pipefail
cd "$(dirname "$0")/.."
targets=("$@")
((${#targets[@]} > 0)) || targets=(lexer parser compiler tree vm float map)

command -v clang++ >/dev/null 2>&1 ||
  { echo "fuzz/build.sh: clang++ not found (apt-get install clang)" >&2; exit 1; }
runtime="libclang-rt-$(clang++ -dumpversion | cut -d. -f1)-dev"
if ! dpkg -s "$runtime" >/dev/null 2>&1; then
  echo "installing $runtime (libFuzzer and the sanitizer runtimes)"
  if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
    echo "fuzz/build.sh: $runtime is missing and cannot be installed (not root)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq "$runtime" || { apt-get update -qq && apt-get install -y -qq "$runtime"; }
fi

if [ ! -f build-fuzz/CMakeCache.txt ]; then
  generator=()
  command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
  cmake -S . -B build-fuzz "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DFERROW_FUZZ=ON -DFERROW_TESTS=OFF -DFERROW_LINE_EDITING=OFF
fi
cmake --build build-fuzz -j "${JOBS:-2}" --target "${targets[@]/#/fuzz_}"

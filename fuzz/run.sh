#!/usr/bin/env bash
# Builds one fuzz target and fuzzes it for SECONDS (0: build and merge only).
# Usage: fuzz/run.sh TARGET SECONDS [LIBFUZZER_OPTION...]
#   TARGET: lexer, parser, compiler, tree, vm, float or map.
# New inputs go to fuzz/corpus-work/TARGET (uncommitted), seeded from
# fuzz/corpus/TARGET; crashes, timeouts and OOMs to fuzz/corpus-work/artifacts/.
# FUZZ_MERGE=1 then replaces the committed corpus by a minimized merge of both.
set -euo pipefail
cd "$(dirname "$0")/.."
(($# >= 2)) || { echo "usage: fuzz/run.sh TARGET SECONDS [LIBFUZZER_OPTION...]" >&2; exit 2; }
target=$1 seconds=$2
shift 2

fuzz/build.sh "$target"
binary=build-fuzz/fuzz/fuzz_$target work=fuzz/corpus-work/$target corpus=fuzz/corpus/$target
mkdir -p "$work" "$corpus" fuzz/corpus-work/artifacts

# The float target reads one double; the others read programs.
if [ "$target" = float ]; then options=(-max_len=16); else options=(-max_len=4096 -dict=fuzz/ferrow.dict); fi
# Leaks are checked by the sanitizer suite's corpus replays, not here. One
# input gets 25 s and 2 GB. The step budget bounds loops, not work per step (a
# loop copying a growing list is quadratic), so fork mode with one worker: a
# timeout or OOM is saved as an artifact and fuzzing goes on; a crash stops it.
export ASAN_OPTIONS="detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
limits=(-timeout=25 -rss_limit_mb=2048 -malloc_limit_mb=1024)
((seconds == 0)) || "$binary" "${options[@]}" "${limits[@]}" -max_total_time="$seconds" \
  -fork=1 -ignore_timeouts=1 -ignore_ooms=1 -ignore_crashes=0 -print_final_stats=1 \
  -artifact_prefix=fuzz/corpus-work/artifacts/"$target"- "$@" "$work" "$corpus" </dev/null

if [ "${FUZZ_MERGE:-0}" = 1 ]; then
  merged=fuzz/corpus-work/$target.merged
  rm -rf "$merged" && mkdir -p "$merged"
  # Edges only, not hit counts: about one committed input per new edge keeps
  # the corpus small; fuzz/corpus-work keeps all.
  "$binary" -merge=1 -use_counters=0 "${options[@]}" "${limits[@]}" "$merged" "$corpus" "$work" </dev/null
  rm -rf "$corpus" && mv "$merged" "$corpus"
  echo "fuzz/corpus/$target: $(ls "$corpus" | wc -l) files, $(du -sb "$corpus" | cut -f1) bytes"
fi

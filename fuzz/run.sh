#!/usr/bin/env bash
# Builds a fuzz target (preset fuzz: clang 16, libFuzzer, AddressSanitizer) and runs it for TIME
# seconds (default 60) on one core, starting from its corpus fuzz/corpus/NAME. Inputs that reach new
# code are kept in build/fuzz/corpus-work/NAME; a failing input lands in build/fuzz/artifacts/NAME/
# and the script fails. Add a failing input, once fixed, to the corpus: the unit tests load every
# corpus file.
#
#   fuzz/run.sh [TIME [NAME]]      NAME defaults to ManualJobFiles (the target ManualJobFilesFuzzer)
set -euo pipefail
cd "$(dirname "$0")/.."
TIME="${1:-60}"
NAME="${2:-ManualJobFiles}"
TARGET="${NAME}Fuzzer"

[ -f build/fuzz/build.ninja ] || cmake --preset fuzz >/dev/null
flock /tmp/orvane-build.lock cmake --build build/fuzz --target "$TARGET"

work="build/fuzz/corpus-work/$NAME"
artifacts="build/fuzz/artifacts/$NAME"
mkdir -p "$work" "$artifacts"
dict=()
[ -f "fuzz/$NAME.dict" ] && dict=(-dict="fuzz/$NAME.dict")
# Every save flushes to disk; on a memory file system that costs nothing.
scratch_base=/dev/shm
[ -d "$scratch_base" ] && [ -w "$scratch_base" ] || scratch_base="${TMPDIR:-/tmp}"
scratch=$(mktemp -d "$scratch_base/orvane-fuzz-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

TMPDIR="$scratch" "build/fuzz/bin/$TARGET" \
  -max_total_time="$TIME" -timeout=10 -max_len=65536 -print_final_stats=1 \
  "${dict[@]}" -artifact_prefix="$artifacts/" \
  "$work" "fuzz/corpus/$NAME"

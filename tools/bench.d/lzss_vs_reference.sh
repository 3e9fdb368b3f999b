#!/usr/bin/env bash
# LZSS: our coder against the public-domain reference coder (Okumura's LZSS.C, 1989), in one
# process (bench/lzss_race.cpp), on the reference vectors and on a 16 MB input made of them:
# the best of seven alternating rounds each, and every output must be identical. The reference
# is not part of this repository: give the path of its source in LW_LZSS_REFERENCE. It is
# compiled as C, like our coder for this race with -O2, into a temporary folder.
# With LW_LZSS_FUZZ_SECONDS set, the two coders are then also compared on random inputs.
# Usage: LW_LZSS_REFERENCE=/path/to/LZSS.C lzss_vs_reference.sh [BUILD_DIR]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
VECTORS="$ROOT/tests/data/lzss"
if [ -z "${LW_LZSS_REFERENCE:-}" ] || [ ! -f "$LW_LZSS_REFERENCE" ]; then
  echo "LW_LZSS_REFERENCE (path of the reference LZSS.C) not set: skipped"
  exit 0
fi
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cc -O2 -w -x c -Dmain=lzss_reference_main -c "$LW_LZSS_REFERENCE" -o "$WORK/reference.o"
c++ -O2 -std=c++20 -I "$ROOT/src" "$ROOT/bench/lzss_race.cpp" "$ROOT/src/engine/lzss.cpp" "$WORK/reference.o" \
  -o "$WORK/lzss_race"
(cd "$WORK" && ./lzss_race "$VECTORS")
if [ -n "${LW_LZSS_FUZZ_SECONDS:-}" ]; then
  (cd "$WORK" && ./lzss_race --fuzz "$LW_LZSS_FUZZ_SECONDS" "${LW_LZSS_FUZZ_SEED:-1}") || {
    cp "$WORK/lzss_race_mismatch.in" . 2>/dev/null || true
    exit 1
  }
fi

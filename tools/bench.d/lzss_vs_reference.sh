#!/usr/bin/env bash
# LZSS: loftwise-cli compress against the public-domain reference coder (Okumura's LZSS.C,
# 1989) on the reference vectors and on a 16 MB input made of them, best of 7 alternating runs each; every
# output must be identical. The reference is not part of this repository: give the path of its
# source in LW_LZSS_REFERENCE (it is compiled with -O2 into a temporary folder).
# Usage: LW_LZSS_REFERENCE=/path/to/LZSS.C lzss_vs_reference.sh BUILD_DIR
set -euo pipefail
BUILD=${1:?usage: lzss_vs_reference.sh BUILD_DIR}
CLI="$BUILD/bin/loftwise-cli"
VECTORS="$(cd "$(dirname "$0")/../.." && pwd)/tests/data/lzss"
if [ -z "${LW_LZSS_REFERENCE:-}" ] || [ ! -f "$LW_LZSS_REFERENCE" ]; then
  echo "LW_LZSS_REFERENCE (path of the reference LZSS.C) not set: skipped"
  exit 0
fi
[ -x "$CLI" ] || { echo "$CLI missing: build loftwise-cli first" >&2; exit 2; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cp "$LW_LZSS_REFERENCE" "$WORK/lzss.c"
cc -O2 -w -o "$WORK/lzss" "$WORK/lzss.c"

# Times two commands, alternating between them so that both see the same machine load, and
# prints the best wall time of each in microseconds: "OURS THEIRS". The commands are the
# shell functions ours and theirs.
race() {
  local a="" b="" t0 t1 us
  for _ in 1 2 3 4 5 6 7; do
    t0=$(date +%s%N); ours >/dev/null; t1=$(date +%s%N); us=$(( (t1 - t0) / 1000 ))
    if [ -z "$a" ] || [ "$us" -lt "$a" ]; then a=$us; fi
    t0=$(date +%s%N); theirs >/dev/null; t1=$(date +%s%N); us=$(( (t1 - t0) / 1000 ))
    if [ -z "$b" ] || [ "$us" -lt "$b" ]; then b=$us; fi
  done
  echo "$a $b"
}

for f in "$VECTORS"/*.in; do cat "$f"; done > "$WORK/one_round.in"
: > "$WORK/big16m.in"
while [ "$(stat -c %s "$WORK/big16m.in")" -lt 16000000 ]; do cat "$WORK/one_round.in" >> "$WORK/big16m.in"; done
head -c 16000000 "$WORK/big16m.in" > "$WORK/big16m.tmp" && mv "$WORK/big16m.tmp" "$WORK/big16m.in"

printf "%-18s %10s %12s %12s  %s\n" input bytes "ours ms" "reference ms" output
total_ours=0; total_ref=0
for f in "$VECTORS"/*.in "$WORK/big16m.in"; do
  name=$(basename "$f" .in)
  ours() { "$CLI" compress "$f" "$WORK/$name.ours"; }
  theirs() { "$WORK/lzss" e "$f" "$WORK/$name.ref"; }
  read -r ours_us ref_us < <(race)
  ours=$(awk -v u="$ours_us" 'BEGIN { printf "%.1f", u / 1000 }')
  ref=$(awk -v u="$ref_us" 'BEGIN { printf "%.1f", u / 1000 }')
  same=identical
  cmp -s "$WORK/$name.ours" "$WORK/$name.ref" || same=DIFFERENT
  printf "%-18s %10s %12s %12s  %s\n" "$name" "$(stat -c %s "$f")" "$ours" "$ref" "$same"
  [ "$same" = identical ] || exit 1
  total_ours=$(awk -v a="$total_ours" -v b="$ours" 'BEGIN { print a + b }')
  total_ref=$(awk -v a="$total_ref" -v b="$ref" 'BEGIN { print a + b }')
done
awk -v a="$total_ours" -v b="$total_ref" 'BEGIN { printf "total: ours %.1f ms, reference %.1f ms: %.2fx the reference speed (goal >= 1x) %s\n", a, b, b / a, (b >= a ? "OK" : "BELOW GOAL") }'

#!/usr/bin/env bash
# HEX reading: loftwise-cli hex (load, pack, write image and segment table) against
# `objcopy -I ihex -O binary` on the same generated 30 MB HEX file, best of 7 alternating runs each.
# Goal: at least 2x as fast as objcopy. Usage: hex_vs_objcopy.sh BUILD_DIR
set -euo pipefail
BUILD=${1:?usage: hex_vs_objcopy.sh BUILD_DIR}
CLI="$BUILD/bin/loftwise-cli"
command -v objcopy >/dev/null || { echo "objcopy not found (binutils): skipped"; exit 0; }
[ -x "$CLI" ] || { echo "$CLI missing: build loftwise-cli first" >&2; exit 2; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# 10.9 MB of data give about 30 MB of HEX text (16 data bytes per 44-character line).
head -c 10900000 /dev/urandom > "$WORK/data.bin"
objcopy -I binary -O ihex "$WORK/data.bin" "$WORK/in.hex"
echo "input: $(stat -c %s "$WORK/in.hex") bytes of HEX text"

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

ours() { "$CLI" hex "$WORK/in.hex" --image "$WORK/ours.bin" --table "$WORK/table.bin"; }
theirs() { objcopy -I ihex -O binary "$WORK/in.hex" "$WORK/objcopy.bin"; }
read -r ours_us theirs_us < <(race)
ours=$(( ours_us / 1000 )); theirs=$(( theirs_us / 1000 ))
# The packed image is the data padded to whole pages of 0xFF.
cmp -n "$(stat -c %s "$WORK/data.bin")" "$WORK/ours.bin" "$WORK/data.bin" >/dev/null \
  || { echo "FAIL: packed image differs from the data"; exit 1; }
echo "loftwise-cli hex: ${ours} ms   objcopy: ${theirs} ms"
awk -v a="$ours" -v b="$theirs" 'BEGIN { r = (a > 0) ? b / a : 0; printf "speed-up over objcopy: %.2fx (goal >= 2x) %s\n", r, (r >= 2 ? "OK" : "BELOW GOAL") }'

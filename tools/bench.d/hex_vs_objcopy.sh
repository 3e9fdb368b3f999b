#!/usr/bin/env bash
# HEX reading: loftwise-cli hex (load, pack, write image and segment table) against
# `objcopy -I ihex -O binary` on the same generated 30 MB HEX file, best of 5 runs each.
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

best_ms() {  # runs "$@" 5 times, prints the fastest wall time in milliseconds
  local best=""
  for _ in 1 2 3 4 5; do
    local t0 t1
    t0=$(date +%s%N); "$@" >/dev/null; t1=$(date +%s%N)
    local ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

ours=$(best_ms "$CLI" hex "$WORK/in.hex" --image "$WORK/ours.bin" --table "$WORK/table.bin")
theirs=$(best_ms objcopy -I ihex -O binary "$WORK/in.hex" "$WORK/objcopy.bin")
# The packed image is the data padded to whole pages of 0xFF.
cmp -n "$(stat -c %s "$WORK/data.bin")" "$WORK/ours.bin" "$WORK/data.bin" >/dev/null \
  || { echo "FAIL: packed image differs from the data"; exit 1; }
echo "loftwise-cli hex: ${ours} ms   objcopy: ${theirs} ms"
awk -v a="$ours" -v b="$theirs" 'BEGIN { r = (a > 0) ? b / a : 0; printf "speed-up over objcopy: %.2fx (goal >= 2x) %s\n", r, (r >= 2 ? "OK" : "BELOW GOAL") }'

#!/usr/bin/env bash
# Several radios at once: the demo package burned into one, then into eight simulated portables
# (53 MB/s each, serial numbers of their own) with "loftwise-cli upgrade --all", one worker
# process per radio. Prints both wall times, eight over one (the goal is at most 1.25 on a
# 2-core machine) and the host CPU per radio (user + system of all processes, over the radios).
set -euo pipefail
BUILD=$1
BIN=$BUILD/bin
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/loftwise-all.XXXXXX")
trap 'rm -rf "$work"' EXIT

home=$work/home
mkdir -p "$home/sim"
for f in set.ini Torvex.ini English.lng Chinese.lng conversion.so Lumaret.txt EquipmentSn.txt; do
  cp "$BIN/$f" "$home/"
done
for i in 1 2 3 4 5 6 7 8; do
  sed "s/^serial = .*/serial = PT2400010$i/" "$ROOT/data/sim/portable-data.manifest" >"$work/r$i.manifest"
  "$BIN/rcdbpack" "$work/r$i.manifest" -o "$home/sim/r$i.rcdb" >/dev/null
  sed -e "s/^path = .*/path = sim:r$i/" -e "s/^radio_data = .*/radio_data = r$i.rcdb/" \
      -e "s|^burn_script = .*|burn_script = ../Torvex.ini|" "$ROOT/data/sim/portable.ini" >"$home/sim/r$i.ini"
done

# The demo package, made as tools/demo.sh makes it.
cp "$ROOT/tools/demo/demo-package.ini" "$ROOT/tools/demo/arm_main.hex" "$work/"
head -c 1572864 /dev/zero | tr '\0' '\132' >"$work/dsp_main.bin"
head -c 262144 /dev/zero | tr '\0' '\105' >"$work/english.bin"
"$BIN/rcdbpack" --sample -o "$work/rcdb_data.rcdb" >/dev/null
"$BIN/fudpack" "$work/demo-package.ini" -o "$work/demo.fud" >/dev/null

# Runs one --all upgrade over the radios given; sets wall (s) and cpu (s, user + system of the
# command and every worker it waited for).
run() {
  local sims=() i
  for i in "$@"; do sims+=(--sim "r$i"); done
  local t0 t1 times
  t0=$(date +%s%N)
  times=$( { TIMEFORMAT='%U %S'; time "$BIN/loftwise-cli" upgrade --all "${sims[@]}" "$work/demo.fud" --no \
             --home "$home" >"$work/out.txt" 2>&1; } 2>&1 ) || { cat "$work/out.txt" >&2; exit 1; }
  t1=$(date +%s%N)
  wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", (b - a) / 1e9 }')
  cpu=$(awk -v t="$times" 'BEGIN { split(t, p, " "); printf "%.2f", p[1] + p[2] }')
}

run 1
one=$wall; one_cpu=$cpu
run 1 2 3 4 5 6 7 8
eight=$wall; eight_cpu=$cpu
awk -v one="$one" -v eight="$eight" -v c1="$one_cpu" -v c8="$eight_cpu" -v n="$(nproc)" 'BEGIN {
  printf "upgrade --all, demo package, 53 MB/s per radio, %d cores\n", n
  printf "  one radio:    %6.2f s wall, %5.2f s host CPU\n", one, c1
  printf "  eight radios: %6.2f s wall, %5.2f s host CPU (%.2f s per radio)\n", eight, c8, c8 / 8
  printf "  eight over one: %.2f (goal: at most 1.25)\n", eight / one
}'

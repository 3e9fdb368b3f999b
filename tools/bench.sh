#!/usr/bin/env bash
# Runs every benchmark program of an optimised build, then the scripted comparisons in
# tools/bench.d/ (each prints its own figures).
set -euo pipefail
BUILD=$1; shift || true
for b in "$BUILD"/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" "$@"
done
for s in "$(dirname "$0")"/bench.d/*.sh; do
  [ -x "$s" ] || continue
  echo "== $(basename "$s")"
  "$s" "$BUILD"
done

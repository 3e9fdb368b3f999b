#!/usr/bin/env bash
# loftwise-cli inspect of a 40 MB package, as a whole process: wall time per run, and (with
# strace when installed) the bytes the process reads from the package, which must stay far
# below the package size.
set -euo pipefail
BUILD=$1
BIN=$BUILD/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((40 * 1024 * 1024)) /dev/zero > "$work/arm.bin"
cat > "$work/big.ini" <<'INI'
[package]
targetVersion = A5.00.09.000
forPortable = 1
[versionList]
record = A5.00.07.000
[entry]
kindName = arm_main
source = arm.bin
origin = 0x10000
areaLength = 0x2800000
INI
"$BIN/fudpack" "$work/big.ini" -o "$work/big.fud" >/dev/null
size=$(stat -c %s "$work/big.fud")
runs=50
start=$(date +%s%N)
for _ in $(seq $runs); do "$BIN/loftwise-cli" inspect "$work/big.fud" --json --home "$work" >/dev/null; done
end=$(date +%s%N)
echo "inspect of a $size-byte package: $(( (end - start) / runs / 1000 )) us per run (whole process, $runs runs)"
if command -v strace >/dev/null; then
  # Sum the reads made on the package's descriptor (from its open to its close).
  strace -e trace=openat,close,read,pread64 -o "$work/trace" "$BIN/loftwise-cli" inspect "$work/big.fud" \
    --home "$work" >/dev/null 2>&1 || true
  fd_bytes=$(awk '
    /openat\(.*big\.fud/ { fd = $NF }
    fd != "" && ($1 ~ "^(pread64|read)\\(" fd ",") { n = $NF; if (n > 0) s += n }
    fd != "" && $1 ~ "^close\\(" fd "\\)" { fd = "" }
    END { print s + 0 }' "$work/trace")
  echo "bytes read from the package: $fd_bytes of $size"
else
  echo "(strace not installed: see bench_inspect's bytes_read counter for the read count)"
fi

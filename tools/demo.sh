#!/usr/bin/env bash
# The demo: builds an upgrade package with fudpack from tools/demo/demo-package.ini and upgrades
# the simulated portable radio (data/sim/portable.ini) with it through loftwise-cli, the same
# controller, worker and burn script the window uses. It ends with "Upgrading Finished!" and
# then reads the radio's InfoBlock over the link to show the completion mark.
set -euo pipefail
BUILD=$1; shift || true
BIN=$BUILD/bin
ROOT=$(cd "$(dirname "$0")/.." && pwd)
for p in loftwise-cli fudpack rcdbpack; do
  [ -x "$BIN/$p" ] || { echo "demo: $BIN/$p was not built" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/loftwise-demo.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cp "$ROOT/tools/demo/demo-package.ini" "$ROOT/tools/demo/arm_main.hex" "$WORK/"
# Images made here, the same on every run: a DSP firmware of 1.5 MiB, an English language
# package of 256 KiB and, as the new configuration database, the sample portable image.
head -c 1572864 /dev/zero | tr '\0' '\132' >"$WORK/dsp_main.bin"
head -c 262144 /dev/zero | tr '\0' '\105' >"$WORK/english.bin"
"$BIN/rcdbpack" --sample -o "$WORK/rcdb_data.rcdb" >/dev/null

echo "== Building the demo package"
"$BIN/fudpack" "$WORK/demo-package.ini" -o "$WORK/demo.fud"
"$BIN/loftwise-cli" inspect "$WORK/demo.fud" --home "$BIN" | sed -n '1,12p'

echo
echo "== The simulated radio before the upgrade"
"$BIN/loftwise-cli" probe --sim portable --home "$BIN"

echo
echo "== Upgrading it"
# --no: should an earlier run have left a backup of this radio, go on with the upgrade.
"$BIN/loftwise-cli" upgrade --sim portable "$WORK/demo.fud" --no --show-mark --home "$BIN" "$@"

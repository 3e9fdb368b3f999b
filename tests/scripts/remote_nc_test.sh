#!/usr/bin/env bash
# The remote control listener as a test station meets it: "loftwise-cli serve" with the
# simulated portable radio and a package built by fudpack, driven over TCP by nc. Checks an
# identity check ("ok"), a missing file, a request without a colon (no reply), a remote upgrade
# from a radio data file (its .fuc result file is written), and a clean stop on SIGINT.
set -euo pipefail
BIN=$1
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
for p in loftwise-cli fudpack rcdbpack; do
  [ -x "$BIN/$p" ] || { echo "remote_nc_test: $BIN/$p was not built" >&2; exit 1; }
done
command -v nc >/dev/null || { echo "remote_nc_test: nc is not installed" >&2; exit 1; }
command -v python3 >/dev/null || { echo "remote_nc_test: python3 is not installed" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/loftwise-remote.XXXXXX")
SERVER=
cleanup() {
  if [ -n "$SERVER" ] && kill -0 "$SERVER" 2>/dev/null; then kill "$SERVER" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "remote_nc_test: $*" >&2; echo "--- server output:" >&2; cat "$WORK/serve.out" >&2 || true; exit 1; }

# A program directory of its own, so that backups and the port map stay in the scratch folder.
mkdir -p "$WORK/home"
cp -r "$BIN"/. "$WORK/home/"
cp "$ROOT/tools/demo/demo-package.ini" "$ROOT/tools/demo/arm_main.hex" "$WORK/"
head -c 65536 /dev/zero | tr '\0' '\132' >"$WORK/dsp_main.bin"
head -c 4096 /dev/zero | tr '\0' '\105' >"$WORK/english.bin"
"$BIN/rcdbpack" --sample -o "$WORK/rcdb_data.rcdb" >/dev/null
"$BIN/fudpack" "$WORK/demo-package.ini" -o "$WORK/demo.fud" >/dev/null

# The identity file of the simulated portable (model, version, serial in UTF-16LE).
python3 - "$WORK/radio.xuid" <<'EOF'
import struct, sys
data = bytearray(400)
def put(at, text):
    raw = text.encode("utf-16-le")
    data[at:at + len(raw)] = raw
put(68, "KX412-000G0000-M00000-U1-0-F")
put(132, "A5.00.07.000")
put(164, "2.0")
put(196, "PT24000001")
data[287:289] = struct.pack("<h", 0)
open(sys.argv[1], "wb").write(data)
EOF
cp "$ROOT/data/sim/portable.rcdb" "$WORK/radio.rcd"

XDG_CONFIG_HOME="$WORK/config" "$WORK/home/loftwise-cli" serve --home "$WORK/home" --sim portable \
  --port-number 0 --no "$WORK/demo.fud" >"$WORK/serve.out" 2>&1 &
SERVER=$!
PORT=
for _ in $(seq 1 100); do
  PORT=$(sed -n 's/^Listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/serve.out")
  [ -n "$PORT" ] && break
  kill -0 "$SERVER" 2>/dev/null || fail "the server ended before it listened"
  sleep 0.1
done
[ -n "$PORT" ] || fail "the server did not say where it listens"

# One request per connection; the reply as hex, so that CR LF is checked too.
ask() { printf '%s\r\n' "$1" | timeout 120 nc -N 127.0.0.1 "$PORT" | od -An -tx1 | tr -d ' \n'; }
hex() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }

[ "$(ask "XUID:$WORK/radio.xuid")" = "$(hex $'ok\r\n')" ] || fail "XUID of an eligible identity is not answered ok"
[ "$(ask "XUID:$WORK/missing.xuid")" = "$(hex $'Error_Code=-1\r\n')" ] || fail "XUID of a missing file is not -1"
[ -z "$(ask "no colon here")" ] || fail "a request without a colon was answered"
[ "$(ask "UPGRADE:$WORK/radio.rcd")" = "$(hex $'ok\r\n')" ] || fail "the remote upgrade was not admitted"
[ -s "$WORK/radio.fuc" ] || fail "the remote upgrade wrote no result file"

kill -INT "$SERVER"
for _ in $(seq 1 100); do kill -0 "$SERVER" 2>/dev/null || break; sleep 0.1; done
kill -0 "$SERVER" 2>/dev/null && fail "the server did not stop on SIGINT"
wait "$SERVER" || fail "the server did not exit with status 0 after SIGINT"
SERVER=
grep -q "Request: no colon here" "$WORK/serve.out" || fail "the request without a colon was not logged"
grep -q "Upgrading Finished!" "$WORK/serve.out" || fail "the remote upgrade did not finish"
grep -q "^Stopped\.$" "$WORK/serve.out" || fail "no clean stop"
[ -n "${REMOTE_TEST_SHOW:-}" ] && cat "$WORK/serve.out"
echo "remote_nc_test: ok"

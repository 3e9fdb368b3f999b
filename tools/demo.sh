#!/usr/bin/env bash
# The demo: runs the most complete job the program can do from the build tree.
set -euo pipefail
BUILD=$1; shift || true
BIN=$BUILD/bin
if [ -x "$BIN/loftwise-cli" ]; then
  exec "$BIN/loftwise-cli" config
fi
echo "loftwise-cli was not built" >&2
exit 1

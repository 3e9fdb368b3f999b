#!/usr/bin/env bash
# Starts the Loftwise window from a build tree, with the simulated portable radio attached and
# the demo package chosen, so that pressing Upgrade shows a whole upgrade.
#   tools/gui.sh BUILD_DIR [loftwise options]        (./run.sh gui calls it with build/)
#   tools/gui.sh BUILD_DIR --usb [loftwise options]  the build's program directory and real USB
#   tools/gui.sh BUILD_DIR --demo-package DIR        only build the demo package into DIR
# The demo runs in a program directory of its own (BUILD_DIR/gui-demo: its files link to the
# build's, set.ini and the backup folder are its own), so the build's set.ini is never changed.
# The demo package is the one tools/demo.sh builds: tools/demo/demo-package.ini through
# fudpack. Needs a display; without one, run it under xvfb-run.
set -euo pipefail
build=${1:?usage: tools/gui.sh BUILD_DIR [--usb | --demo-package DIR] [loftwise options]}
shift
build=$(cd "$build" && pwd)
bin=$build/bin
root=$(cd "$(dirname "$0")/.." && pwd)

# The demo package, built like tools/demo.sh builds it, into folder $1 (kept when it is newer
# than its manifest).
demo_package() {
  local out=$1
  mkdir -p "$out"
  if [ -s "$out/demo.fud" ] && [ "$out/demo.fud" -nt "$root/tools/demo/demo-package.ini" ]; then return; fi
  for p in fudpack rcdbpack; do
    [ -x "$bin/$p" ] || { echo "gui: $bin/$p was not built" >&2; exit 2; }
  done
  cp "$root/tools/demo/demo-package.ini" "$root/tools/demo/arm_main.hex" "$out/"
  head -c 1572864 /dev/zero | tr '\0' '\132' >"$out/dsp_main.bin"
  head -c 262144 /dev/zero | tr '\0' '\105' >"$out/english.bin"
  "$bin/rcdbpack" --sample -o "$out/rcdb_data.rcdb" >/dev/null
  "$bin/fudpack" "$out/demo-package.ini" -o "$out/demo.fud" >/dev/null
}

if [ "${1:-}" = --demo-package ]; then
  demo_package "${2:?--demo-package needs a folder}"
  exit 0
fi

[ -x "$bin/loftwise" ] || { echo "gui: $bin/loftwise is missing; build first" >&2; exit 2; }
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "gui: no display (DISPLAY is not set); try: xvfb-run tools/gui.sh $build" >&2
  exit 2
fi
if [ "${1:-}" = --usb ]; then
  shift
  exec "$bin/loftwise" "$@"
fi

home=$build/gui-demo
mkdir -p "$home/Restore"
for f in "$bin"/*; do
  name=$(basename "$f")
  case $name in set.ini|Restore|gui-demo) continue ;; esac
  [ -e "$home/$name" ] || ln -sfn "$f" "$home/$name"
done
[ -f "$home/set.ini" ] || cp "$bin/set.ini" "$home/set.ini"
demo_package "$home/demo"
echo "gui: simulated portable radio on USB(001), package $home/demo/demo.fud; press Upgrade" >&2
exec "$bin/loftwise" --home "$home" --sim portable --package "$home/demo/demo.fud" "$@"

#!/usr/bin/env bash
# Starts the Loftwise window from a build tree.
#   tools/gui.sh BUILD_DIR [loftwise options]     (./run.sh gui calls it with build/)
# Uses the build's program directory (BUILD_DIR/bin) unless --home or LOFTWISE_HOME says
# otherwise. Needs a display; without one, run it under xvfb-run to check that it starts.
set -euo pipefail
build=${1:?usage: tools/gui.sh BUILD_DIR [loftwise options]}
shift
[ -x "$build/bin/loftwise" ] || { echo "gui: $build/bin/loftwise is missing; build first" >&2; exit 2; }
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "gui: no display (DISPLAY is not set); try: xvfb-run tools/gui.sh $build" >&2
  exit 2
fi
exec "$build/bin/loftwise" "$@"

#!/usr/bin/env bash
# Screenshots of the Loftwise window in a real X server (Xvfb): every skin in English and
# Chinese, at 100% and at 200% scaling, plus the pop-up menu, an upgrade under way (a simulated
# radio on a slow link), the restore list and the "For Radio" viewer.
#   tools/screenshots.sh BUILD_DIR        (./run.sh screenshots calls it with build/)
# Pictures land in BUILD_DIR/screenshots/. Each run uses its own copy of set.ini, so the
# program directory of the build is never changed.
set -euo pipefail

build=${1:?usage: tools/screenshots.sh BUILD_DIR}
build=$(cd "$build" && pwd)
bin=$build/bin
out=$build/screenshots
[ -x "$bin/loftwise" ] || { echo "screenshots: $bin/loftwise is missing; build first" >&2; exit 2; }
for tool in Xvfb import; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is not installed" >&2; exit 2; }
done
have_xdotool=0
command -v xdotool >/dev/null && have_xdotool=1
mkdir -p "$out"

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  # Wait for Xvfb to go: one that is still shutting down removes the socket of the next run's
  # server when that one got the same display number.
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and reports its number. -noreset: by default the server
# resets when its last client leaves, which happens after every picture; a window started
# during that reset cannot connect ("could not connect to display").
Xvfb -displayfd 3 -screen 0 1600x1100x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "screenshots: Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshots: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

# Waits until the server takes connections.
wait_server() {
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "screenshots: the X server on $DISPLAY takes no connections" >&2
  exit 1
}
if command -v xdpyinfo >/dev/null; then wait_server; else sleep 0.3; fi
unset QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb

# A program directory whose files link to the build's, with set.ini of its own.
home=$work/home
mkdir -p "$home"
for f in "$bin"/*; do ln -s "$f" "$home/$(basename "$f")"; done
rm "$home/set.ini"

set_key() {  # KEY VALUE: rewrite the key's line in the private set.ini
  sed -i "s|^$1=.*|$1=$2|" "$home/set.ini"
}

# Waits for the window to be mapped and painted.
wait_window() {
  for _ in $(seq 100); do
    if command -v xwininfo >/dev/null && xwininfo -root -tree 2>/dev/null | grep -q '"Loftwise\|"Loftwise'; then
      break
    fi
    sleep 0.1
  done
  sleep 1.2
}

# The demo package (as ./run.sh gui uses it), and a simulated portable on a slow link, so that
# a picture taken a few seconds after Upgrade shows the upgrade under way.
"$(dirname "$0")/gui.sh" "$build" --demo-package "$work/demo"
package=$work/demo/demo.fud
rm "$home/sim"
mkdir -p "$home/sim"
for f in "$bin"/sim/*; do ln -s "$f" "$home/sim/$(basename "$f")"; done
sed 's/^bytes_per_second *=.*/bytes_per_second = 150000/' "$bin/sim/portable.ini" >"$home/sim/slow.ini"

click() {  # X Y [BUTTON]: window coordinates at 100 %
  xdotool mousemove $((40 + $1 * scale)) $((40 + $2 * scale)) click "${3:-1}"
}

shot() {  # NAME SKIN LANGUAGE SCALE [menu|backups|upgrade|restore|viewer]
  local name=$1 skin=$2 language=$3 scale=$4 mode=${5:-}
  local args=() w=$((700 * scale)) h=$((520 * scale)) at=+20+20
  cp "$bin/set.ini" "$home/set.ini"
  rm -rf "$home/Restore"
  mkdir -p "$home/Restore"
  case $mode in
    backups)
      # An empty stand-in backup file, only so that the second function button shows.
      : >"$home/Restore/screenshot-sample.rcd" ;;
    restore)
      # Backups of two radios; the dialog only lists them.
      for f in "PT24000001[2024-05-04 13.45.10]" "PT24000001[2024-06-11 09.02.55]" "RP31000007[2024-06-12 17.20.01]"; do
        : >"$home/Restore/$f.rcd"
      done
      # The list is wider than the window: it is kept on the screen, from its left edge.
      w=$((960 * scale)) h=$((520 * scale)) at=+0+0 ;;
    upgrade) args=(--sim slow --package "$package") ;;
    viewer) args=(--sim portable) ;;  # no package yet: the viewer shows set.ini's rules
  esac
  set_key Skin "$skin"
  set_key Language "$language"
  if command -v xdpyinfo >/dev/null; then wait_server; fi
  QT_SCALE_FACTOR=$scale "$bin/loftwise" --home "$home" "${args[@]}" -geometry +40+40 >"$work/app.log" 2>&1 &
  app_pid=$!
  wait_window
  if ! kill -0 "$app_pid" 2>/dev/null; then
    echo "screenshots: loftwise ended early:" >&2
    cat "$work/app.log" >&2
    exit 1
  fi
  if [ -n "$mode" ] && [ "$have_xdotool" = 1 ]; then
    case $mode in
      menu) click 300 130 3; sleep 0.8 ;;
      upgrade) click 426 258; sleep 4 ;;
      restore) click 327 258; sleep 1.2 ;;
      viewer)
        # The fifth entry of the pop-up menu is "For Radio".
        click 300 130 3; sleep 0.6
        xdotool key Down Down Down Down Down Return; sleep 1.2 ;;
    esac
  fi
  import -window root -crop "${w}x${h}${at}" +repage "$out/$name.png"
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
  echo "  $out/$name.png"
}

echo "Screenshots into $out:"
for skin in 1 2 3; do
  for language in English Chinese; do
    shot "skin${skin}-${language,,}" "$skin" "$language" 1
  done
done
shot "skin1-english-backups" 1 English 1 backups
shot "skin3-chinese-backups" 3 Chinese 1 backups
shot "skin1-english-200" 1 English 2
shot "skin2-chinese-200" 2 Chinese 2
if [ "$have_xdotool" = 1 ]; then
  shot "menu-english" 1 English 1 menu
  shot "menu-chinese" 3 Chinese 1 menu
  shot "upgrade-english" 1 English 1 upgrade
  shot "upgrade-chinese" 2 Chinese 1 upgrade
  shot "restore-list-english" 1 English 1 restore
  shot "restore-list-chinese" 3 Chinese 1 restore
  shot "viewer-english" 1 English 1 viewer
  shot "viewer-chinese" 2 Chinese 1 viewer
else
  echo "  (xdotool is not installed: no pictures of the menu, an upgrade, the restore list or the viewer)"
fi

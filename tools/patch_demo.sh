#!/usr/bin/env bash
# The patch installer end to end: installs Loftwise from the build into a throw-away prefix
# (cmake --install, which also writes the install record), lays out a patch folder with the
# patch_folder build target (lumaret beside the four replacement files and loftwise-cli), then
# lets lumaret find the installation through the record and patch it from the command line. A
# wrong directory is shown as well.
#   tools/patch_demo.sh BUILD_DIR        (./run.sh patch-demo calls it)
# LUMARET_DEMO_KEEP=1 keeps the temporary folder for a look afterwards.
set -euo pipefail
BUILD=$(cd "${1:?usage: patch_demo.sh BUILD_DIR}" && pwd)
BIN=$BUILD/bin
FILES=(conversion.so loftwise English.lng Chinese.lng loftwise-cli)

for f in lumaret "${FILES[@]}"; do
  if [ ! -e "$BIN/$f" ]; then
    echo "patch_demo: $BIN/$f is missing: build the whole project first" >&2
    exit 1
  fi
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/lumaret-demo.XXXXXX")
if [ "${LUMARET_DEMO_KEEP:-}" = 1 ]; then
  echo "(keeping $WORK)"
else
  trap 'rm -rf "$WORK"' EXIT
fi
# The record goes into the demo folder, never among the records of real installations.
export LOFTWISE_INSTALL_RECORD_DIR=$WORK/install-records
PREFIX=$WORK/prefix
INSTALLED=$PREFIX/lib/loftwise
PATCH=$WORK/patch

step() { printf '\n== %s\n' "$*"; }
show_files() {  # DIR: size, inode and checksum of the patched files
  for f in "${FILES[@]}"; do
    if [ -e "$1/$f" ]; then
      printf '   %-14s %9s bytes  inode %-9s sha256 %.16s\n' "$f" "$(stat -c %s "$1/$f")" \
        "$(stat -c %i "$1/$f")" "$(sha256sum "$1/$f" | cut -d' ' -f1)"
    else
      printf '   %-14s (absent)\n' "$f"
    fi
  done
}

step "1. Install Loftwise into $PREFIX"
cmake --install "$BUILD" --prefix "$PREFIX" | grep -E "Install record|loftwise$|conversion|\.lng" || true
echo "   the install record:"
sed 's/^/     /' "$LOFTWISE_INSTALL_RECORD_DIR"/*.ini
echo "   installed files before the patch:"
show_files "$INSTALLED"

step "2. The patch folder $PATCH: lumaret beside the files it replaces"
cmake --build "$BUILD" --target patch_folder >/dev/null
cp -r "$BUILD/patch" "$PATCH"
# Both builds are the same here, so the language files of the patch carry a comment line
# (ignored by the program) to make the replacement visible in the checksums.
for f in English.lng Chinese.lng; do printf '// patch DMR_LOFTWISE_SUBSCRIBE_TO_V7.06.06.000\n' >> "$PATCH/$f"; done
ls -l "$PATCH" | sed 's/^/   /'

step "3. A wrong directory is refused before anything is copied"
set +e
"$PATCH/lumaret" --install-dir "$WORK" 2>&1 | sed 's/^/   /'
status=${PIPESTATUS[0]}
set -e
echo "   exit status $status"

step "4. lumaret --batch: the directory comes from the install record"
set +e
"$PATCH/lumaret" --batch 2>&1 | sed 's/^/   /'
status=${PIPESTATUS[0]}
set -e
echo "   exit status $status"

step "5. The installation after the patch"
show_files "$INSTALLED"
ok=1
for f in "${FILES[@]}"; do cmp -s "$PATCH/$f" "$INSTALLED/$f" || { echo "   $f differs from the patch"; ok=0; }; done
[ -x "$INSTALLED/loftwise" ] || { echo "   loftwise lost its executable bit"; ok=0; }
if [ "$status" -eq 0 ] && [ "$ok" = 1 ]; then
  echo "   all files match the patch; loftwise is still executable"
  if [ -x "$PREFIX/bin/loftwise-cli" ]; then
    echo "   the installed loftwise-cli still runs:"
    "$PREFIX/bin/loftwise-cli" --help | head -1 | sed 's/^/     /'
  fi
else
  echo "patch_demo: the patch was not installed" >&2
  exit 1
fi

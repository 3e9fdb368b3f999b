#!/usr/bin/env bash
# The Debian package from end to end, the way an operator meets it:
#   1. the .deb holds what it should (file list, control fields, udev rule, desktop entry, icon,
#      man pages, bash completion, install record) and every program prints the version;
#   2. installed with dpkg, an unprivileged user upgrades a simulated radio from the read-only
#      /usr/lib/loftwise (report 2);
#   3. a patch whose conversion.so (and so its digest) differs is installed with lumaret, and
#      the same user's next upgrade still ends in report 2, showing the patch's language text.
#   tests/scripts/package_test.sh PACKAGE_BUILD_DIR SOURCE_DIR VERSION
# PACKAGE_BUILD_DIR is the build of ./run.sh package (build-package). The test installs the
# package into this machine and removes it again at the end, so it needs root (CI runs as root);
# elsewhere it is skipped (exit 77).
set -euo pipefail
PKG=$(cd "${1:?usage: package_test.sh PACKAGE_BUILD_DIR SOURCE_DIR VERSION}" && pwd)
SRC=$(cd "${2:?}" && pwd)
VERSION=${3:?}

fail() { echo "package_test: $*" >&2; exit 1; }
step() { printf '\n== %s\n' "$*"; }

if [ "$(id -u)" -ne 0 ]; then
  echo "package_test: needs root to install the package (skipped)"
  exit 77
fi
shopt -s nullglob
debs=("$PKG"/loftwise_*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one loftwise_*.deb in $PKG (run ./run.sh package)"
DEB=${debs[0]}
[ "$(basename "$DEB")" = "loftwise_${VERSION}_amd64.deb" ] || fail "$(basename "$DEB") is not loftwise_${VERSION}_amd64.deb"
if dpkg-query -W -f='${Status}' loftwise 2>/dev/null | grep -q "install ok installed"; then
  fail "loftwise is installed on this machine already; the test will not replace it"
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/loftwise-package-test.XXXXXX")
chmod 755 "$WORK"
cleanup() {
  dpkg --purge loftwise >/dev/null 2>&1 || true
  # The package build goes back to making the library of the package.
  cmake -DLW_CONVERSION_BUILD_ID= "$PKG" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

step "1. What the package holds"
dpkg-deb -c "$DEB" | awk '{ path = $6; if ($7 == "->") path = path " -> " $8; print path }' | sed 's|^\./|/|' >"$WORK/files"
GUID=$(sed -n 's/.*kProductGuid\[\] = "\({[^"]*}\)".*/\1/p' "$SRC/src/patch/install_record.h")
for f in /usr/lib/loftwise/loftwise /usr/lib/loftwise/loftwise-cli /usr/lib/loftwise/conversion.so \
  /usr/lib/loftwise/fudpack /usr/lib/loftwise/rcdbpack /usr/lib/loftwise/set.ini /usr/lib/loftwise/Torvex.ini \
  /usr/lib/loftwise/English.lng /usr/lib/loftwise/Chinese.lng /usr/lib/loftwise/Lumaret.txt \
  /usr/lib/loftwise/EquipmentSn.txt /usr/lib/loftwise/skin.ini /usr/lib/loftwise/Skin1/skin.ini \
  /usr/lib/loftwise/Skin3/Mask.bmp /usr/lib/loftwise/sim/portable.ini /usr/lib/loftwise/sim/portable.rcdb \
  "/usr/bin/loftwise -> ../lib/loftwise/loftwise" "/usr/bin/loftwise-cli -> ../lib/loftwise/loftwise-cli" \
  /usr/lib/udev/rules.d/70-loftwise.rules /usr/share/applications/loftwise.desktop \
  /usr/share/icons/hicolor/scalable/apps/loftwise.svg /usr/share/man/man1/loftwise.1.gz \
  /usr/share/man/man1/loftwise-cli.1.gz /usr/share/man/man1/lumaret.1.gz \
  /usr/share/bash-completion/completions/loftwise-cli /usr/share/doc/loftwise/copyright \
  /usr/share/doc/loftwise/changelog.gz /usr/share/doc/loftwise/usb-access.md \
  "/var/lib/loftwise/install-records/$GUID.ini"; do
  grep -qxF -- "$f" "$WORK/files" || fail "the package lacks $f"
done
# Lumaret travels in the patch folder, and nothing of the build tree may leak in.
if grep -E '/lumaret$|CMakeLists|\.o$|/build|/tests?/' "$WORK/files"; then fail "the package holds files it should not"; fi
echo "   $(grep -vc '/$' "$WORK/files") entries, all expected ones present"

depends=$(dpkg-deb -f "$DEB" Depends)
for lib in libqt6widgets6 libusb-1.0-0 libstdc++6; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
echo "   Depends: $depends"

mkdir "$WORK/x"
dpkg-deb -x "$DEB" "$WORK/x"
X=$WORK/x
grep -q "InstallLocation=/usr/lib/loftwise/$" "$X/var/lib/loftwise/install-records/$GUID.ini" ||
  fail "the install record does not name /usr/lib/loftwise/"
# The udev rule: uaccess for exactly the built-in identifiers (set.ini leaves them empty).
grep -qE '^USB (Primary|Fallback) IDs=$' "$X/usr/lib/loftwise/set.ini" || fail "set.ini no longer uses the built-in IDs"
for id in 1209:0001 1209:0002; do
  grep -qE "ATTR\{idVendor\}==\"${id%:*}\", ATTR\{idProduct\}==\"${id#*:}\", TAG\+=\"uaccess\"" \
    "$X/usr/lib/udev/rules.d/70-loftwise.rules" || fail "the udev rule does not give $id to the seat"
done
if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
  udevadm verify "$X/usr/lib/udev/rules.d/70-loftwise.rules"
fi
desktop-file-validate "$X/usr/share/applications/loftwise.desktop" || fail "desktop-file-validate refused the desktop entry"
grep -qx "Icon=loftwise" "$X/usr/share/applications/loftwise.desktop" || fail "the desktop entry names another icon"
for page in "$X"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $(basename "$page") warns: $warnings"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q -- "--version" ||
    fail "$(basename "$page") does not describe --version"
done
echo "   udev rule, desktop entry and man pages check out"

step "2. Install it with dpkg"
dpkg -i "$DEB" >/dev/null
for program in loftwise loftwise-cli fudpack rcdbpack; do
  line=$("$program" --version)
  [ "$line" = "$program $VERSION" ] || fail "$program --version says \"$line\", not \"$program $VERSION\""
done
echo "   loftwise, loftwise-cli, fudpack and rcdbpack --version: $VERSION"

# Completion of commands and of a command's options, as bash does it at the prompt.
complete_words() {
  bash -c 'source /usr/share/bash-completion/bash_completion
           source /usr/share/bash-completion/completions/loftwise-cli
           COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
           _loftwise_cli loftwise-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
           printf "%s\n" "${COMPREPLY[@]}"' _ "$@"
}
complete_words loftwise-cli upg | grep -qx upgrade || fail "bash completion does not offer upgrade"
complete_words loftwise-cli po | grep -qx ports || fail "bash completion does not offer ports"
complete_words loftwise-cli upgrade --s | grep -qx -- --sim || fail "bash completion does not offer upgrade --sim"
complete_words loftwise-cli ports --w | grep -qx -- --watch || fail "bash completion does not offer ports --watch"
echo "   bash completion offers commands and their options"

# An operator: no root, a home of their own, the installation read-only to them.
OPERATOR_HOME=$WORK/operator
mkdir -p "$OPERATOR_HOME"
chown 65534:65534 "$OPERATOR_HOME"
as_operator() {
  setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH=/usr/bin:/bin HOME="$OPERATOR_HOME" \
    XDG_RUNTIME_DIR="$OPERATOR_HOME" LANG=C.UTF-8 "$@"
}
as_operator test ! -w /usr/lib/loftwise || fail "the operator may write to /usr/lib/loftwise"

# An upgrade package, made with the installed tools from the demo's manifest.
DEMO=$WORK/demo
mkdir -p "$DEMO"
cp "$SRC/tools/demo/demo-package.ini" "$SRC/tools/demo/arm_main.hex" "$DEMO/"
head -c 1572864 /dev/zero | tr '\0' '\132' >"$DEMO/dsp_main.bin"
head -c 262144 /dev/zero | tr '\0' '\105' >"$DEMO/english.bin"
rcdbpack --sample -o "$DEMO/rcdb_data.rcdb" >/dev/null
fudpack "$DEMO/demo-package.ini" -o "$DEMO/demo.fud" >/dev/null
chmod -R a+rX "$DEMO"

upgrade() {  # LOG: a simulated upgrade by the operator; the output goes to LOG
  local status=0
  as_operator loftwise-cli upgrade --sim portable "$DEMO/demo.fud" --no --json >"$1" 2>&1 || status=$?
  grep -q '"event":"report","code":2' "$1" || { cat "$1" >&2; fail "the upgrade did not end in report 2 (exit $status)"; }
  [ "$status" -eq 0 ] || { cat "$1" >&2; fail "loftwise-cli upgrade exited with $status"; }
}

step "3. The operator upgrades a simulated radio from the installed program"
upgrade "$WORK/first.log"
USER_COPY=$OPERATOR_HOME/.local/share/loftwise
[ -f "$USER_COPY/conversion.so" ] || fail "no per-user copy in $USER_COPY"
grep -q 'Upgrading Finished!' "$WORK/first.log" || fail "the upgrade did not show \"Upgrading Finished!\""
echo "   report 2, \"Upgrading Finished!\"; the user's files are in $USER_COPY"
# The operator's own setting must survive the patch.
printf '\n// the operator was here\n' | as_operator tee -a "$USER_COPY/set.ini" >/dev/null

step "4. A patch with another conversion.so, installed by lumaret"
cmake -DLW_CONVERSION_BUILD_ID=0x4c6f66747769736550617463680001 "$PKG" >/dev/null
cmake --build "$PKG" --target patch_folder >/dev/null
PATCH=$PKG/patch
for f in lumaret conversion.so loftwise loftwise-cli English.lng Chinese.lng; do
  [ -f "$PATCH/$f" ] || fail "the patch folder lacks $f"
done
cmp -s "$PATCH/conversion.so" /usr/lib/loftwise/conversion.so && fail "the patch's conversion.so is the installed one"
[ "$("$PATCH/lumaret" --version)" = "lumaret $VERSION" ] || fail "lumaret --version is not $VERSION"
sed -i 's/^Upgrading Finished!=.*/Upgrading Finished!=Upgrading Finished! (patched)/' "$PATCH/English.lng"
# The directory comes from the package's install record: no other record may be found first.
env -u LOFTWISE_INSTALL_RECORD_DIR XDG_DATA_HOME="$WORK/no-records" "$PATCH/lumaret" --batch | sed 's/^/   /'
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "lumaret --batch failed"
for f in conversion.so loftwise loftwise-cli English.lng Chinese.lng; do
  cmp -s "$PATCH/$f" "/usr/lib/loftwise/$f" || fail "lumaret did not install $f"
done

step "5. The same operator upgrades again"
upgrade "$WORK/second.log"
grep -q 'Upgrading Finished! (patched)' "$WORK/second.log" || fail "the patched language text does not show"
cmp -s "$PATCH/conversion.so" "$USER_COPY/conversion.so" || fail "the user's copy kept the old conversion.so"
grep -q 'the operator was here' "$USER_COPY/set.ini" || fail "the operator's set.ini was replaced"
echo "   report 2, \"Upgrading Finished! (patched)\"; the user's set.ini kept"
echo
echo "package_test: all checks passed"

#!/usr/bin/env bash
# Loftwise build and run entry point. Every subcommand installs what is missing first, so it
# works on a fresh Debian 12 machine.
#   ./run.sh demo                 build, then upgrade a simulated radio from the demo package
#   ./run.sh test                 build with sanitizers and run every test
#   ./run.sh fuzz NAME SECONDS    build the libFuzzer target NAME with clang and run it
#   ./run.sh bench                build optimised and run the benchmark programs
#   ./run.sh gui                  start the window with the demo radio attached
#   ./run.sh screenshots          screenshots of the window under Xvfb (into build/screenshots)
#   ./run.sh patch-demo           fake installation, then Lumaret patches it
#   ./run.sh package              the Debian package (build-package/loftwise_*.deb), checked by lintian
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}

BUILD_PACKAGES=(cmake g++ ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  libusb-1.0-0-dev qt6-base-dev qt6-base-dev-tools libgl-dev fonts-noto-cjk)
TEST_PACKAGES=(umockdev libumockdev-dev netcat-openbsd python3 xvfb xauth clang-format git)
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# The Debian package and its test: CPack's DEB generator needs dpkg-shlibdeps (dpkg-dev) and
# file; the man pages come from help2man; the checks are lintian, desktop-file-validate and
# man; the test completes loftwise-cli's commands with bash-completion and switches users
# with setpriv (util-linux).
PACKAGE_PACKAGES=(dpkg-dev file xz-utils help2man lintian desktop-file-utils man-db bash-completion util-linux)

install_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_and_build() {  # DIR then cmake options (the project's builds treat warnings as errors)
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja -DLW_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

# The Debian package, built as Debian builds its own: the distribution's hardening flags,
# binaries stripped when they are linked (so the digest of conversion.so that the programs
# carry is the digest of the file that ships), then checked by lintian.
build_package() {
  local flags ldflags
  flags="$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS) $(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)"
  ldflags="$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS) -s"
  # The patch test may have left a build mark behind; the package is always built without.
  CXXFLAGS=$flags CFLAGS=$flags LDFLAGS=$ldflags \
    configure_and_build build-package -DCMAKE_BUILD_TYPE=None -DLW_TESTS=OFF -DLW_BENCH=OFF -DLW_WERROR=OFF \
    -DLW_PACKAGE=ON -DCMAKE_INSTALL_PREFIX=/usr -DLW_CONVERSION_BUILD_ID=
  rm -f build-package/loftwise_*.deb
  (cd build-package && cpack -G DEB >/dev/null)
  local deb
  deb=$(ls build-package/loftwise_*.deb)
  echo "Built $deb"
  # lintian: errors fail the build; warnings and notes are shown.
  lintian --fail-on error --info --display-level '>=warning' "$deb"
}

cmd=${1:-}
shift || true
case "$cmd" in
  demo)
    install_packages "${BUILD_PACKAGES[@]}"
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLW_TESTS=OFF -DLW_BENCH=OFF
    exec "$ROOT/tools/demo.sh" "$ROOT/build" "$@"
    ;;
  test)
    install_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
    # The layout of the lines changed since it was set (.clang-format); untouched lines stay.
    "$ROOT/tools/format_check.sh"
    # The package first: the packaging test among the tests installs it.
    build_package
    configure_and_build build-test -DCMAKE_BUILD_TYPE=Debug -DLW_SANITIZE=ON -DLW_BENCH=OFF \
      -DLW_PACKAGE_BUILD="$ROOT/build-package"
    cd build-test
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$JOBS" --timeout 600 "$@"
    ;;
  fuzz)
    [ $# -ge 1 ] || { echo "usage: ./run.sh fuzz NAME [SECONDS]" >&2; exit 2; }
    name=$1; seconds=${2:-60}
    install_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
    cmake -S "$ROOT" -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLW_FUZZ=ON -DLW_GUI=OFF >/dev/null
    cmake --build build-fuzz -j "$JOBS" --target "fuzz_$name"
    mkdir -p "build-fuzz/corpus/$name"
    seeds=()
    [ -d "$ROOT/fuzz/seeds/$name" ] && seeds+=("$ROOT/fuzz/seeds/$name")
    exec "build-fuzz/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
      "build-fuzz/corpus/$name" "${seeds[@]}"
    ;;
  bench)
    install_packages "${BUILD_PACKAGES[@]}"
    configure_and_build build-bench -DCMAKE_BUILD_TYPE=Release -DLW_TESTS=OFF
    exec "$ROOT/tools/bench.sh" "$ROOT/build-bench" "$@"
    ;;
  gui)
    install_packages "${BUILD_PACKAGES[@]}"
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLW_TESTS=OFF -DLW_BENCH=OFF
    exec "$ROOT/tools/gui.sh" "$ROOT/build" "$@"
    ;;
  screenshots)
    install_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" imagemagick x11-apps x11-utils xdotool
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLW_TESTS=OFF -DLW_BENCH=OFF
    exec "$ROOT/tools/screenshots.sh" "$ROOT/build" "$@"
    ;;
  patch-demo)
    install_packages "${BUILD_PACKAGES[@]}"
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLW_TESTS=OFF -DLW_BENCH=OFF
    exec "$ROOT/tools/patch_demo.sh" "$ROOT/build" "$@"
    ;;
  package)
    install_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
    build_package
    ;;
  *)
    sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
    [ -z "$cmd" ] || [ "$cmd" = "--help" ] || [ "$cmd" = "-h" ] || exit 2
    ;;
esac

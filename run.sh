#!/usr/bin/env bash
# Loftwise build and run entry point. Every subcommand installs what is missing first, so it
# works on a fresh Debian 12 machine.
#   ./run.sh demo                 build, then upgrade a simulated radio from the demo package
#   ./run.sh test                 build with sanitizers and run every test
#   ./run.sh tsan                 build with ThreadSanitizer (clang) and run the threaded tests
#   ./run.sh soak N SEED          N upgrades of simulated radios with random faults, stops and package changes, and restores (optimised)
#   ./run.sh fuzz NAME SECONDS    build the libFuzzer target NAME with clang and run it
#   ./run.sh fuzz-all SECONDS     every fuzz target in turn, SECONDS each
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
  soak)
    [ $# -ge 2 ] || { echo "usage: ./run.sh soak N SEED" >&2; exit 2; }
    install_packages "${BUILD_PACKAGES[@]}"
    cmake -S "$ROOT" -B build-soak -G Ninja -DCMAKE_BUILD_TYPE=Release -DLW_GUI=OFF -DLW_BENCH=OFF >/dev/null
    cmake --build build-soak -j "$JOBS" --target lw_soak
    exec build-soak/tests/lw_soak "$@"
    ;;
  tsan)
    # The tests that run threads: controller, runner and remote server (test_app), the link
    # (test_link), the window offscreen (test_gui_*), and libusb hot-plug (test_link_usb).
    install_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
    tsan_targets=(test_app test_link test_gui_main_window_test test_gui_operations_test test_link_usb)
    cmake -S "$ROOT" -B build-tsan -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=Debug -DLW_TSAN=ON -DLW_BENCH=OFF >/dev/null
    cmake --build build-tsan -j "$JOBS" --target "${tsan_targets[@]}" lw_program_data
    export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$ROOT/tools/tsan.supp"
    export LOFTWISE_TEST=1 QT_QPA_PLATFORM=offscreen
    status=0
    for t in test_app test_link test_gui_main_window_test test_gui_operations_test; do
      echo "== $t"
      "build-tsan/tests/$t" >"build-tsan/$t.log" 2>&1 || { status=1; tail -60 "build-tsan/$t.log"; }
    done
    echo "== test_link_usb"
    umockdev-wrapper build-tsan/tests/test_link_usb >build-tsan/test_link_usb.log 2>&1 ||
      { status=1; tail -60 build-tsan/test_link_usb.log; }
    [ $status -eq 0 ] && echo "tsan: clean" || echo "tsan: FAILED (logs in build-tsan/)"
    exit $status
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
  fuzz-all)
    # Every fuzz target in turn for SECONDS each. What a run finds that adds coverage is merged
    # into the target's corpus in the repository (fuzz/corpus/NAME), kept minimal by libFuzzer's
    # merge; a crash is left in build-fuzz/ and ends the command with status 1.
    # (./run.sh fuzz-all SECONDS NAME... runs only the targets named.)
    seconds=${1:-60}
    shift || true
    install_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
    cmake -S "$ROOT" -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLW_FUZZ=ON -DLW_GUI=OFF >/dev/null
    names=("$@")
    if [ ${#names[@]} -eq 0 ]; then
      for src in fuzz/*_fuzz.cpp; do n=$(basename "$src" _fuzz.cpp); names+=("$n"); done
    fi
    cmake --build build-fuzz -j "$JOBS" --target "${names[@]/#/fuzz_}"
    status=0
    summary=()
    for name in "${names[@]}"; do
      mkdir -p "build-fuzz/corpus/$name" "fuzz/corpus/$name"
      inputs=("build-fuzz/corpus/$name" "fuzz/corpus/$name")
      [ -d "fuzz/seeds/$name" ] && inputs+=("fuzz/seeds/$name")
      echo "== $name ($seconds s)"
      if "build-fuzz/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
          -artifact_prefix="build-fuzz/crash-$name-" "${inputs[@]}" >"build-fuzz/$name.log" 2>&1; then
        result="no findings"
      else
        result="FINDING (build-fuzz/$name.log)"
        status=1
      fi
      runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "build-fuzz/$name.log" | grep -o '[0-9]*$' || echo "?")
      merged=$(mktemp -d)
      "build-fuzz/fuzz/fuzz_$name" -merge=1 "$merged" "${inputs[@]}" >/dev/null 2>&1 || true
      rm -rf "fuzz/corpus/$name" && mv "$merged" "fuzz/corpus/$name"
      summary+=("$name: $runs runs in $seconds s, $result, corpus $(ls "fuzz/corpus/$name" | wc -l) files")
    done
    printf '%s\n' "${summary[@]}"
    exit $status
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
    sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
    [ -z "$cmd" ] || [ "$cmd" = "--help" ] || [ "$cmd" = "-h" ] || exit 2
    ;;
esac

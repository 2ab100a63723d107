#!/usr/bin/env bash
# Set-up entry point: installs what is missing (Debian 12), configures, builds,
# then runs what was asked for.
#
#   scripts/zv.sh test    build and run the test suite
#   scripts/zv.sh demo    build and run the program against the recorder simulator
#   scripts/zv.sh build   only install and build
#
# `test` also builds the benchmarks and the picture tool. With CI set (as CI
# services do), warnings are errors and the formatting is checked too
# (scripts/check-format.sh).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build_dir=${ZV_BUILD_DIR:-$root/build}
action=${1:-build}
shift || true

packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
    qttools5-dev qttools5-dev-tools qttranslations5-l10n
    fonts-dejavu-core fonts-ipafont-gothic xvfb xauth x11-utils imagemagick
)
cmake_args=()
if [ "$action" = test ]; then
    cmake_args+=(-DZV_BUILD_BENCH=ON -DZV_BUILD_PICTURE_TOOL=ON)
    packages+=(dpkg-dev file desktop-file-utils appstream lintian) # the package check
    if [ -n "${CI:-}" ]; then
        packages+=(clang-format-14)
        cmake_args+=(-DZV_WERROR=ON)
    fi
fi

# shellcheck source=aptinstall.sh
source "$here/aptinstall.sh"

configure_and_build() {
    cmake -S "$root" -B "$build_dir" -G Ninja "${cmake_args[@]}" ${ZV_CMAKE_ARGS:-}
    cmake --build "$build_dir" --parallel "$(nproc)"
}

install_missing "${packages[@]}"
configure_and_build

case "$action" in
    build)
        ;;
    test)
        status=0
        (cd "$build_dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" "$@") || status=$?
        if [ -n "${CI:-}" ]; then
            bash "$here/check-format.sh" || status=1
        fi
        exit "$status"
        ;;
    demo)
        exec "$here/demo.sh" "$build_dir" "$@"
        ;;
    *)
        echo "usage: $0 [build|test|demo]" >&2
        exit 2
        ;;
esac

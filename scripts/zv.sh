#!/usr/bin/env bash
# Set-up entry point: installs what is missing (Debian 12), configures, builds,
# then runs what was asked for.
#
#   scripts/zv.sh test    build and run the test suite
#   scripts/zv.sh demo    build and run the program against the recorder simulator
#   scripts/zv.sh build   only install and build
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build_dir=${ZV_BUILD_DIR:-$root/build}
action=${1:-build}
shift || true

packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5svg5-dev
    fonts-dejavu-core xvfb xauth x11-utils imagemagick
)

# shellcheck source=aptinstall.sh
source "$here/aptinstall.sh"

configure_and_build() {
    cmake -S "$root" -B "$build_dir" -G Ninja ${ZV_CMAKE_ARGS:-}
    cmake --build "$build_dir" --parallel "$(nproc)"
}

install_missing "${packages[@]}"
configure_and_build

case "$action" in
    build)
        ;;
    test)
        cd "$build_dir"
        QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" "$@"
        ;;
    demo)
        exec "$here/demo.sh" "$build_dir" "$@"
        ;;
    *)
        echo "usage: $0 [build|test|demo]" >&2
        exit 2
        ;;
esac

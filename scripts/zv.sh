#!/usr/bin/env bash
# Set-up entry point: installs what is missing (Debian 12), configures, builds,
# then runs what was asked for.
#
#   scripts/zv.sh test    build and run the test suite, with Qt 5 and with Qt 6,
#                         and the Qt-only build's suites (label qtonly)
#   scripts/zv.sh demo    build and run the program against the recorder simulator
#   scripts/zv.sh build   only install and build
#
# `test` also builds the benchmarks and the picture tool. With CI set (as CI
# services do), warnings are errors and the formatting is checked too
# (scripts/check-format.sh).
#
# Qt: `test` builds and tests twice, Qt 5 in build/ and Qt 6 in build-qt6/, and
# fails if either fails; `build` and `demo` use Qt 5. ZV_QT=5 or ZV_QT=6 chooses
# one for every action (ZV_QT=both for both), as does -DZV_QT_MAJOR=5|6 in
# ZV_CMAKE_ARGS. ZV_BUILD_DIR replaces build/;
# the Qt 6 folder beside it is then ZV_BUILD_DIR-qt6 when both are built, and
# ZV_BUILD_DIR itself when only Qt 6 is. Sanitizer builds (ZV_SANITIZE_* in
# ZV_CMAKE_ARGS) use Qt 5 unless ZV_QT says otherwise.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
action=${1:-build}
shift || true
case "$action" in
    build | test | demo) ;;
    *)
        echo "usage: $0 [build|test|demo]" >&2
        exit 2
        ;;
esac

qt=${ZV_QT:-}
if [ -z "$qt" ]; then
    case "$action ${ZV_CMAKE_ARGS:-}" in
        *-DZV_QT_MAJOR=5*) qt=5 ;;
        *-DZV_QT_MAJOR=6*) qt=6 ;;
        *ZV_SANITIZE_*) qt=5 ;;
        test*) qt=both ;;
        *) qt=5 ;;
    esac
fi
case "$qt" in
    5) majors=(5) ;;
    6) majors=(6) ;;
    both) majors=(5 6) ;;
    *)
        echo "ZV_QT must be 5, 6 or both, not '$qt'" >&2
        exit 2
        ;;
esac

# build_dir_for MAJOR: where that Qt version's build goes.
build_dir_for() {
    if [ "$1" = 5 ] || [ "$qt" = 6 ]; then
        if [ -n "${ZV_BUILD_DIR:-}" ]; then
            echo "$ZV_BUILD_DIR"
        elif [ "$1" = 5 ]; then
            echo "$root/build"
        else
            echo "$root/build-qt6"
        fi
    else
        echo "${ZV_BUILD_DIR:-$root/build}-qt6"
    fi
}

packages=(
    build-essential cmake ninja-build pkg-config
    fonts-dejavu-core fonts-ipafont-gothic xvfb xauth x11-utils imagemagick
)
qt5_packages=(qtbase5-dev qtbase5-dev-tools libqt5svg5-dev qttools5-dev qttools5-dev-tools qttranslations5-l10n)
qt6_packages=(qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
    qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n)
for major in "${majors[@]}"; do
    if [ "$major" = 5 ]; then
        packages+=("${qt5_packages[@]}")
    else
        packages+=("${qt6_packages[@]}")
    fi
done
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

# configure_and_build MAJOR
configure_and_build() {
    local dir
    dir=$(build_dir_for "$1")
    echo "== Qt $1: building in $dir"
    cmake -S "$root" -B "$dir" -G Ninja -DZV_QT_MAJOR="$1" "${cmake_args[@]}" ${ZV_CMAKE_ARGS:-} || return 1
    cmake --build "$dir" --parallel "$(nproc)" || return 1
}

install_missing "${packages[@]}"

case "$action" in
    build)
        for major in "${majors[@]}"; do
            configure_and_build "$major" || exit 1
        done
        ;;
    test)
        # One Qt version after the other: a failure of the first still lets
        # the second build and run, and the script fails if either failed.
        status=0
        for major in "${majors[@]}"; do
            dir=$(build_dir_for "$major")
            if ! configure_and_build "$major"; then
                echo "== Qt $major: the build failed" >&2
                status=1
                continue
            fi
            echo "== Qt $major: testing in $dir"
            # Twice as many suites as cores: most of their time they wait on
            # the recorder's pauses, not on the processor.
            if ! (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$((2 * $(nproc)))" "$@"); then
                echo "== Qt $major: tests failed" >&2
                status=1
            fi
        done
        # The Qt-only path (files, sockets and signals through Qt alone, as a
        # port to another system starts from): the suites labelled qtonly,
        # with the first Qt version of the run.
        dir="${ZV_BUILD_DIR:-$root/build}-qtonly"
        echo "== Qt ${majors[0]}, Qt only: building and testing in $dir"
        if ! cmake -S "$root" -B "$dir" -G Ninja -DZV_QT_MAJOR="${majors[0]}" -DZV_QT_ONLY=ON \
            ${ZV_CMAKE_ARGS:-} || ! cmake --build "$dir" --parallel "$(nproc)" --target qtonly_tests; then
            echo "== Qt only: the build failed" >&2
            status=1
        elif ! (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$((2 * $(nproc)))" \
            -L qtonly "$@"); then
            echo "== Qt only: tests failed" >&2
            status=1
        fi
        if [ -n "${CI:-}" ]; then
            bash "$here/check-format.sh" || status=1
        fi
        exit "$status"
        ;;
    demo)
        if [ "${#majors[@]}" -ne 1 ]; then
            echo "demo runs one Qt version: set ZV_QT=5 or ZV_QT=6" >&2
            exit 2
        fi
        configure_and_build "${majors[0]}" || exit 1
        exec "$here/demo.sh" "$(build_dir_for "${majors[0]}")" "$@"
        ;;
esac

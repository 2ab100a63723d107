#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang (ZV_FUZZ=ON, in
# build-fuzz) and runs one of them.
#
#   scripts/fuzz.sh build                     install what is missing, configure, build all targets
#   scripts/fuzz.sh TARGET [SECONDS] [ARGS]   ... and fuzz TARGET (framing, filelist, download,
#                                             session) for SECONDS (default 600)
#
# New inputs go to build-fuzz/fuzz-corpus/TARGET, crashes to
# build-fuzz/fuzz-artifacts/; the seeds in tests/fuzz/corpus/TARGET are read,
# not written. Extra ARGS go to libFuzzer (e.g. -fork=1, -jobs=...).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build_dir=${ZV_FUZZ_BUILD_DIR:-$root/build-fuzz}
targets=(framing filelist download session)
action=${1:-build}
shift || true

packages=(clang libclang-rt-14-dev cmake ninja-build qtbase5-dev qtbase5-dev-tools qttools5-dev qttools5-dev-tools)

# shellcheck source=aptinstall.sh
source "$here/aptinstall.sh"

build() {
    cmake -S "$root" -B "$build_dir" -G Ninja \
        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_FUZZ=ON
    # One build at a time: two fuzzers may be started side by side.
    flock "$build_dir" cmake --build "$build_dir" --parallel "$(nproc)" \
        --target "${targets[@]/#/fuzz_}" "${targets[@]/#/fuzz_replay_}"
}

install_missing "${packages[@]}"
build
[ "$action" = build ] && exit 0

if [[ ! " ${targets[*]} " =~ " $action " ]]; then
    echo "usage: $0 build | $0 {${targets[*]}} [SECONDS] [libFuzzer args]" >&2
    exit 2
fi
target=$action
seconds=${1:-600}
shift || true

# The controller pauses up to 1.2 s on some inputs of the session target.
timeout=10
[ "$target" = session ] && timeout=30

work="$build_dir/fuzz-corpus/$target"
mkdir -p "$work" "$build_dir/fuzz-artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$build_dir/tests/fuzz/fuzz_$target" \
    -max_total_time="$seconds" -timeout="$timeout" -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$build_dir/fuzz-artifacts/$target-" \
    "$@" "$work" "$root/tests/fuzz/corpus/$target"

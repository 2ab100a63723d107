#!/bin/sh
# Builds zv-draw-pictures if needed and redraws every picture into
# resources/images. Usage: tools/draw-pictures.sh [build-dir]
# (default build dir: build-pics)
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-pics"}

cmake -S "$root" -B "$build" -G Ninja -DBUILD_TESTING=OFF -DZV_BUILD_PICTURE_TOOL=ON
cmake --build "$build" --target zv-draw-pictures

QT_QPA_PLATFORM=offscreen "$build/tools/zv-draw-pictures" "$root/resources/images"

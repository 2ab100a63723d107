#!/usr/bin/env bash
# Runs the program against the built-in recorder simulator.
set -euo pipefail
echo "The demo arrives with the window; for now the build is ready in ${1:-build}." >&2

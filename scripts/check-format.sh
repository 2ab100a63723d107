#!/usr/bin/env bash
# Checks every C++ source of the project against .clang-format (clang-format-14).
#
#   scripts/check-format.sh         list the files that need formatting; exit 1 if any
#   scripts/check-format.sh --fix   format them in place
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
clang_format=${CLANG_FORMAT:-clang-format-14}

fix=0
case "${1:-}" in
    "") ;;
    --fix) fix=1 ;;
    *)
        echo "usage: $0 [--fix]" >&2
        exit 2
        ;;
esac

mapfile -t files < <(find src sim tools tests bench -type f \( -name '*.cpp' -o -name '*.h' \) | sort)

if [ "$fix" -eq 1 ]; then
    "$clang_format" -i --style=file "${files[@]}"
    exit 0
fi

unformatted=()
for f in "${files[@]}"; do
    if ! "$clang_format" --dry-run --Werror --style=file "$f" 2>/dev/null; then
        unformatted+=("$f")
    fi
done
if [ ${#unformatted[@]} -gt 0 ]; then
    echo "These files need formatting (scripts/check-format.sh --fix):" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    exit 1
fi
echo "All ${#files[@]} C++ files are formatted."

#!/usr/bin/env bash
# Builds the Debian package of a build directory, unpacks it into a scratch
# root and checks what it carries: the programs (each answers --version with
# the project's version), the manual pages, the desktop entry and metainfo
# (both validated), the icons, the completion, the copyright and changelog,
# and the control fields worked out or set for it.
#
#   tests/checkpackage.sh BUILD_DIR VERSION
#
# Exits 77 (skipped) where a tool it needs is missing; runs lintian on the
# package where it is installed and fails on its errors and warnings.
set -uo pipefail

build_dir=$1
version=$2
app_id=org.zvtransfer.ZVFileTransfer

for tool in cpack dpkg-deb dpkg-shlibdeps file desktop-file-validate appstreamcli gzip; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is missing (scripts/zv.sh test installs it)"
        exit 77
    fi
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    echo "FAIL: cpack -G DEB"
    exit 1
fi
debs=("$scratch"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "FAIL: expected one .deb, got: ${debs[*]}"
    exit 1
fi
deb=${debs[0]}
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = zv-file-transfer ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Section)" = sound ] || fail "Section is '$(field Section)'"
depends=$(field Depends)
echo "Depends: $depends"
# From dpkg-shlibdeps: the C++ runtime and the Qt libraries the programs link.
for library in 'libc6' 'libstdc\+\+6' 'libqt[56]core' 'libqt[56]network' 'libqt[56]widgets'; do
    grep -Eq "(^|, )($library)" <<<"$depends" || fail "Depends lacks $library"
done
grep -q 'fonts-noto-cjk' <<<"$(field Recommends)" || fail "Recommends lacks fonts-noto-cjk"

root=$scratch/root
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x"; exit 1; }

# What no step below reads: those files are checked where they are read.
for path in usr/share/doc/zv-file-transfer/copyright usr/share/bash-completion/completions/zv-transfer \
    usr/share/doc/zv-file-transfer/examples/zv-transfer-sync.service; do
    [ -s "$root/$path" ] || fail "missing or empty: /$path"
done
# Each icon is there and as big as the folder it is in says.
for side in 16 24 32 48 64 128 256; do
    icon=$root/usr/share/icons/hicolor/${side}x${side}/apps/$app_id.png
    size=$(od -An -tu1 -j16 -N8 "$icon" 2>/dev/null | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
    [ "$size" = "${side}x${side}" ] || fail "the ${side}x${side} icon is missing or '$size'"
done
# Nothing but the programs and data: no test, benchmark or picture tool.
unexpected=$(cd "$root" && find usr/bin -type f ! -name zv-file-transfer ! -name zv-transfer ! -name zv-recorder-sim)
[ -z "$unexpected" ] || fail "unexpected programs: $unexpected"

# desktop-file-validate lets some errors pass with status 0: any line it
# prints counts.
if ! report=$(desktop-file-validate "$root/usr/share/applications/$app_id.desktop" 2>&1) || [ -n "$report" ]; then
    fail "desktop-file-validate: $report"
fi
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" || fail "appstreamcli validate"
grep -q "<release version=\"$version\" date=\"[0-9-]*\"" "$root/usr/share/metainfo/$app_id.metainfo.xml" \
    || fail "the metainfo has no release entry for $version"
grep -q "^zv-file-transfer ($version) " <(gzip -dc "$root/usr/share/doc/zv-file-transfer/changelog.gz") \
    || fail "the changelog's first entry is not $version"

# The unpacked programs run and say which version they are (away from the
# user's settings), as their manual pages do.
for program in zv-file-transfer zv-transfer zv-recorder-sim; do
    page=$root/usr/share/man/man1/$program.1.gz
    grep -q "\"ZV File Transfer $version\"" <(gzip -dc "$page") || fail "$program.1.gz is missing or does not name $version"
    output=$(XDG_CONFIG_HOME=$scratch/config QT_QPA_PLATFORM=offscreen timeout 10 "$root/usr/bin/$program" --version 2>&1) \
        || fail "$program --version: exit $?"
    grep -q "$version" <<<"$output" || fail "$program --version says: $output"
done

# About ten seconds; where lintian is not installed the rest still counts.
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb" || fail "lintian found errors or warnings"
else
    echo "lintian is missing: not run"
fi

[ $failures -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "package checks passed"

#!/usr/bin/env bash
# Runs ZV File Transfer against the recorder simulator, so the whole program
# can be tried without a recorder.
#
#   scripts/demo.sh [BUILD_DIR]        (scripts/zv.sh demo builds first, then calls this)
#
# What it does:
#   - starts build/sim/zv-recorder-sim --demo on a loopback address (127.0.0.100,
#     port 8010) serving generated demo recordings;
#   - gives the program a private settings folder (XDG_CONFIG_HOME in a scratch
#     folder, removed on exit) whose network name is ZV-61KT-DEMO, the save folder
#     ${TMPDIR:-/tmp}/zv-demo-downloads (kept);
#   - makes ZV-61KT-DEMO resolve to the simulator's address for the program only:
#     a private mount namespace (unshare) with a copy of /etc/hosts bound over
#     /etc/hosts. Where that is not possible (no root and no user namespaces, nscd
#     running, or "files" not looked up first), the network name is the address
#     itself; everything works except the Music/MTR buttons, which a real ZV-61KT
#     name enables.
#   - without a display (DISPLAY and WAYLAND_DISPLAY unset) the program runs under
#     xvfb-run for a few seconds and the script saves a screenshot of the window.
#
# Environment: ZV_DEMO_ADDRESS (default 127.0.0.100), ZV_DEMO_SECONDS (headless run
# time, default 8); QT_SCALE_FACTOR (e.g. 2) also enlarges the virtual screen.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)

demo_name=ZV-61KT-DEMO
address=${ZV_DEMO_ADDRESS:-127.0.0.100}
port=8010

# Second stage, run inside the private mount namespace: put the hosts file in
# place, make sure the name now resolves locally, then run the given command.
if [ "${1:-}" = "--inside" ]; then
    hosts_file=$2
    shift 2
    mount --bind "$hosts_file" /etc/hosts
    resolved=$(getent ahostsv4 "$demo_name" | awk 'NR == 1 { print $1 }')
    if [ "$resolved" != "$address" ]; then
        echo "demo: $demo_name does not resolve to $address inside the namespace" >&2
        exit 3
    fi
    exec "$@"
fi

build_dir=$(cd "${1:-$root/build}" && pwd)
app="$build_dir/src/zv-file-transfer"
sim="$build_dir/sim/zv-recorder-sim"
for program in "$app" "$sim"; do
    if [ ! -x "$program" ]; then
        echo "demo: $program is missing; build first (bash scripts/zv.sh build)." >&2
        exit 1
    fi
done
case "$address" in
    127.*) ;;
    *) echo "demo: ZV_DEMO_ADDRESS must be a 127.x.x.x address." >&2; exit 1 ;;
esac

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zv-demo.XXXXXX")
downloads="${TMPDIR:-/tmp}/zv-demo-downloads"
mkdir -p "$downloads" "$scratch/config/PALVEN"
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- How the program will find the simulator --------------------------------
# Only a name in /etc/hosts, looked up before any name server, stays on this
# machine; otherwise the address itself is the network name.
namespace=()
why_not=""
if [ -S /var/run/nscd/socket ] || [ -S /run/nscd/socket ]; then
    why_not="nscd is running (it would answer from the real /etc/hosts)"
elif ! awk '$1 == "hosts:" { for (i = 2; i <= NF; i++) { if ($i == "files") ok = 1; if ($i !~ /^files|\[/ && !ok) bad = 1 } } END { exit !(ok && !bad) }' /etc/nsswitch.conf 2>/dev/null; then
    why_not="/etc/nsswitch.conf does not look up \"files\" first"
elif ! command -v unshare >/dev/null; then
    why_not="unshare is not installed"
elif [ "$(id -u)" -eq 0 ] && unshare --mount --propagation private true 2>/dev/null; then
    namespace=(unshare --mount --propagation private)
elif unshare --user --map-root-user --mount true 2>/dev/null; then
    namespace=(unshare --user --map-root-user --mount)
else
    why_not="neither root nor user namespaces are available for a private /etc/hosts"
fi

hosts_file="$scratch/hosts"
if [ ${#namespace[@]} -gt 0 ]; then
    { cat /etc/hosts; printf '%s\t%s\n' "$address" "$demo_name"; } > "$hosts_file"
    network_name=$demo_name
else
    network_name=$address
    echo "demo: cannot give the program a private name for the simulator: $why_not." >&2
    echo "demo: using the address $address as the network name instead; the Music and MTR" >&2
    echo "demo: buttons stay disabled (they need a name beginning with ZV-61KT)." >&2
fi

# --- Settings -----------------------------------------------------------------
cat > "$scratch/config/PALVEN/ZV_FILE_TRANSFER.ini" <<EOF
[main]
SSID=$network_name
savedirectory=$downloads
sameoption=0
EOF
export XDG_CONFIG_HOME="$scratch/config"

# --- Simulator ----------------------------------------------------------------
"$sim" --demo --address "$address" --port "$port" > "$scratch/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
    grep -q "listening on" "$scratch/sim.log" 2>/dev/null && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then break; fi
    sleep 0.1
done
if ! grep -q "listening on" "$scratch/sim.log" 2>/dev/null; then
    echo "demo: the simulator did not start:" >&2
    cat "$scratch/sim.log" >&2
    exit 1
fi

run_app() {
    if [ ${#namespace[@]} -gt 0 ]; then
        "${namespace[@]}" bash "$here/demo.sh" --inside "$hosts_file" "$@"
    else
        "$@"
    fi
}

echo "demo: simulator on $address:$port; the program's network name is $network_name."
echo "demo: downloads are offered into $downloads."

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: close the window to end the demo."
    run_app "$app"
    exit $?
fi

# --- No display: a short run on a virtual screen, kept as a picture --------------
echo "demo: no display (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
if ! command -v xvfb-run >/dev/null || ! command -v import >/dev/null; then
    echo "demo: install xvfb and imagemagick to run it on a virtual screen, or run it on a desktop." >&2
    exit 1
fi
seconds=${ZV_DEMO_SECONDS:-8}
picture="${TMPDIR:-/tmp}/zv-demo-window.png"
echo "demo: running it on a virtual screen for $seconds s instead; the window ends up in $picture."
export ZV_DEMO_APP="$app" ZV_DEMO_PICTURE="$picture" ZV_DEMO_SECONDS_INNER="$seconds"
# The virtual screen grows with QT_SCALE_FACTOR, so a scaled window fits.
screen=$(awk -v s="${QT_SCALE_FACTOR:-1}" 'BEGIN { if (s + 0 < 1) s = 1; printf "%dx%d", 1024 * s, 700 * s }')
run_app xvfb-run -a -s "-screen 0 ${screen}x24" bash -c '
    "$ZV_DEMO_APP" & app=$!
    sleep "$ZV_DEMO_SECONDS_INNER"
    import -window root "$ZV_DEMO_PICTURE"
    kill "$app"; wait "$app" 2>/dev/null || true'
echo "demo: saved $picture"

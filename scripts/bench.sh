#!/usr/bin/env bash
# Runs the performance benchmarks in interleaved rounds and prints every
# round's figures and the ratios the performance goals are stated in (see
# bench/README.md). Installs what is missing (nginx, curl, python3) with
# apt-get, builds the benchmark programs, starts the recorder simulators on
# 127.0.0.60-64 (the framing benchmark's peer takes 127.0.0.65) and nginx on
# 127.0.0.1, and stops them again at the end.
#
#   bash scripts/bench.sh
#
# Environment:
#   ZV_BENCH_ROUNDS      rounds (default 5)
#   ZV_BENCH_BUILD_DIR   build directory (default build-bench)
#   ZV_BENCH_DIR         scratch directory: demo trees, downloads, logs,
#                        results (default /tmp/zv-bench)
#   ZV_BENCH_NGINX_PORT  nginx's port on 127.0.0.1 (default 18080)
#   ZV_BENCH_WINDOW      0 to leave out the window benchmarks
#   ZV_BENCH_DIAGNOSTICS 0 to leave out the extra 1 KiB runs (one queued
#                        progress call per packet, no progress receiver)
#   ZV_BENCH_QT_ONLY     0 to leave out the second tree built with
#                        -DZV_QT_ONLY=ON (default <build dir>-qtonly), whose
#                        link reads through QTcpSocket alone
#
# Debug logging is off in every program (QT_LOGGING_RULES="zv.*.debug=false");
# the program logs every packet when it is on.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ZV_BENCH_BUILD_DIR:-$root/build-bench}
work=${ZV_BENCH_DIR:-/tmp/zv-bench}
rounds=${ZV_BENCH_ROUNDS:-5}
nginx_port=${ZV_BENCH_NGINX_PORT:-18080}
with_window=${ZV_BENCH_WINDOW:-1}
diagnostics=${ZV_BENCH_DIAGNOSTICS:-1}
with_qt_only=${ZV_BENCH_QT_ONLY:-1}
export QT_LOGGING_RULES="zv.*.debug=false"

# --- what the benchmarks need ------------------------------------------------
# shellcheck source=aptinstall.sh
source "$root/scripts/aptinstall.sh"
install_missing build-essential cmake ninja-build pkg-config qtbase5-dev qtbase5-dev-tools \
    qttools5-dev qttools5-dev-tools \
    fonts-dejavu-core nginx curl python3 diffutils
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

# --- build -----------------------------------------------------------------------
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DZV_BUILD_BENCH=ON >/dev/null
targets=(zv-recorder-sim zv-bench-download zv-bench-sim-discard zv-bench-framing)
[ "$with_window" = 1 ] && targets+=(zv-bench-window)
ninja -C "$build" "${targets[@]}" >/dev/null
sim=$build/sim/zv-recorder-sim
bin=$build/bench
qt_only_bin=$build-qtonly/bench
if [ "$with_qt_only" = 1 ]; then
    cmake -S "$root" -B "$build-qtonly" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
        -DZV_BUILD_BENCH=ON -DZV_QT_ONLY=ON >/dev/null
    ninja -C "$build-qtonly" zv-bench-download zv-bench-framing >/dev/null
fi

# --- simulators and nginx ------------------------------------------------------------
mkdir -p "$work/logs"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if [ -f "$work/nginx/nginx.pid" ]; then kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true; fi
    rm -rf "$work/out"
}
trap cleanup EXIT

# start_sim ADDRESS LOGNAME ARGS...: waits until it listens.
start_sim() {
    local address=$1 log=$work/logs/sim-$2.log
    shift 2
    "$sim" --address "$address" "$@" >"$log" 2>&1 &
    pids+=($!)
    for _ in $(seq 600); do
        grep -q "listening on" "$log" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "bench: the simulator on $address did not start; see $log" >&2
    exit 1
}
big=$work/demo-big
start_sim 127.0.0.60 big32k --demo-dir "$big" --big-file 1G --chunk 32K
start_sim 127.0.0.61 small32k --demo-dir "$work/demo-64m" --big-file 64M --chunk 32K
start_sim 127.0.0.62 big1k --demo-dir "$big" --big-file 1G --chunk 1024
start_sim 127.0.0.64 window --demo-dir "$big" --big-file 1G --chunk 32K
[ "$with_window" = 1 ] && start_sim 127.0.0.63 many --demo-dir "$work/demo-many" --many-files 5000
source_file=$big/MUSIC/BIG_FILE.WAV
small_file=$work/demo-64m/MUSIC/BIG_FILE.WAV

mkdir -p "$work/nginx/tmp"
cat >"$work/nginx/nginx.conf" <<EOF
worker_processes 1;
daemon on;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $work/nginx/tmp;
    proxy_temp_path $work/nginx/tmp;
    fastcgi_temp_path $work/nginx/tmp;
    uwsgi_temp_path $work/nginx/tmp;
    scgi_temp_path $work/nginx/tmp;
    server {
        listen 127.0.0.1:$nginx_port;
        root $big/MUSIC;
    }
}
EOF
"$nginx_bin" -c "$work/nginx/nginx.conf" -p "$work/nginx" 2>>"$work/logs/nginx.log"

# --- rounds ------------------------------------------------------------------------------
results=$work/results.txt
: >"$results"
out=$work/out

# An empty output folder for the next run, after the last run's file is gone
# and the file system has settled, and the same page cache for every program
# measured: emptied (where we may), then holding only the sources. Without
# this, a run after a fast 1 GiB write spent most of its time in the kernel
# filling page-cache pages (copy_folio_from_iter_atomic), whatever it was.
fresh() {
    rm -rf "$out"
    mkdir -p "$out"
    sync
    if [ -w /proc/sys/vm/drop_caches ]; then echo 3 >/proc/sys/vm/drop_caches; fi
    cat "$source_file" "$small_file" >/dev/null
    sleep 0.5
}
# same FILE SOURCE KIND ROUND: the output must equal its source.
same() {
    if cmp -s "$1" "$2"; then echo "cmp kind=$3 round=$4 same=1" >>"$results"
    else echo "cmp kind=$3 round=$4 same=0" >>"$results"; echo "bench: $3 output differs (round $4)" >&2; fi
}
record() { # KIND ROUND LINE
    echo "$1 round=$2 ${3#* }" >>"$results"
    echo "  $1: ${3#* }"
}

run_client() { # KIND ROUND HOST SOURCE [ENV=VALUE...] [-- OPTIONS...]
    local kind=$1 round=$2 host=$3 source=$4 line client=$bin/zv-bench-download
    shift 4
    case $kind in *-qtonly) client=$qt_only_bin/zv-bench-download ;; esac
    local env=() options=()
    while [ $# -gt 0 ] && [ "$1" != -- ]; do env+=("$1"); shift; done
    [ $# -gt 0 ] && shift && options=("$@")
    fresh
    line=$(env "${env[@]}" "$client" --host "$host" --dest "$out" "${options[@]}" \
        2>>"$work/logs/client.log") || true
    record "$kind" "$round" "${line:-x failed=1}"
    same "$out/BIG_FILE.WAV" "$source" "$kind" "$round"
}
run_curl() { # ROUND
    fresh
    local line
    line=$(curl -s -o "$out/BIG_FILE.WAV" -w '%{time_total} %{size_download}' "http://127.0.0.1:$nginx_port/BIG_FILE.WAV")
    set -- "$1" $line
    record curl "$1" "x seconds=$2 bytes=$3 mbps=$(python3 -c "print(f'{$3 / $2 / 1e6:.1f}')")"
    same "$out/BIG_FILE.WAV" "$source_file" curl "$1"
}

echo "bench: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), QT_LOGGING_RULES=$QT_LOGGING_RULES"
for round in $(seq "$rounds"); do
    echo "round $round"
    if [ $((round % 2)) = 1 ]; then
        run_client client32k "$round" 127.0.0.60 "$source_file"
        run_curl "$round"
    else
        run_curl "$round"
        run_client client32k "$round" 127.0.0.60 "$source_file"
    fi
    run_client client1k "$round" 127.0.0.62 "$source_file"
    if [ "$diagnostics" = 1 ]; then
        # What the byte counts cost at 1 KiB: one queued call per data packet
        # (the receiving thread sets the pace), and no receiver at all.
        run_client client1k-queued "$round" 127.0.0.62 "$source_file" -- --queued-progress
        run_client client1k-noprogress "$round" 127.0.0.62 "$source_file" -- --no-progress
    fi
    if [ "$with_qt_only" = 1 ]; then
        run_client client32k-qtonly "$round" 127.0.0.60 "$source_file"
        run_client client1k-qtonly "$round" 127.0.0.62 "$source_file"
    fi
    run_client client64m "$round" 127.0.0.61 "$small_file"
    record framing "$round" "$("$bin/zv-bench-framing" 1024 32768 127.0.0.65 2>>"$work/logs/framing.log" || echo x failed=1)"
    record framing1k "$round" "$("$bin/zv-bench-framing" 256 1024 127.0.0.65 2>>"$work/logs/framing.log" || echo x failed=1)"
    if [ "$with_qt_only" = 1 ]; then
        record framing-qtonly "$round" \
            "$("$qt_only_bin/zv-bench-framing" 1024 32768 127.0.0.65 2>>"$work/logs/framing.log" || echo x failed=1)"
        record framing1k-qtonly "$round" \
            "$("$qt_only_bin/zv-bench-framing" 256 1024 127.0.0.65 2>>"$work/logs/framing.log" || echo x failed=1)"
    fi
    record simsend "$round" "$("$bin/zv-bench-sim-discard" --host 127.0.0.60 2>>"$work/logs/simsend.log" || echo x failed=1)"
    if [ "$with_window" = 1 ]; then
        fresh
        line=$("$bin/zv-bench-window" download --host 127.0.0.64 --dest "$out" 2>>"$work/logs/window.log") || true
        record window "$round" "${line:-x failed=1}"
        same "$out/BIG_FILE.WAV" "$source_file" window "$round"
        line=$("$bin/zv-bench-window" folder --host 127.0.0.63 --count 5000 2>>"$work/logs/window.log") || true
        record folder "$round" "${line:-x failed=1}"
    fi
done
rm -rf "$out"
echo "bench: load average at the end $(cut -d' ' -f1-3 /proc/loadavg)"

# --- summary -------------------------------------------------------------------------------
python3 - "$results" <<'EOF'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    kind, *fields = line.split()
    values = dict(f.split("=", 1) for f in fields if "=" in f)
    rows.setdefault(kind, []).append(values)

def column(kind, key):
    return [float(r[key]) for r in rows.get(kind, []) if key in r] or [float("nan")]

def median(kind, key):
    return statistics.median(column(kind, key))

def by_round(kind, key):
    return {int(r["round"]): float(r[key]) for r in rows.get(kind, []) if key in r}

def verdict(ok):
    return "MET" if ok else "NOT MET"

print()
print("summary (medians over %d rounds)" % len(rows.get("client32k", [])))
client, curl = by_round("client32k", "mbps"), by_round("curl", "mbps")
ratios = [client[r] / curl[r] for r in sorted(client) if r in curl and curl[r] > 0]
c32 = median("client32k", "mbps")
print("  client 32 KiB %.0f MB/s, curl %.0f MB/s" % (c32, median("curl", "mbps")))
if ratios:
    med = statistics.median(ratios)
    print("1 throughput: client/curl per round %s; median %.2fx (>= 1.5), lowest %.2fx (>= 1.0): %s"
          % (" ".join("%.2f" % r for r in ratios), med, min(ratios), verdict(med >= 1.5 and min(ratios) >= 1.0)))
c1 = median("client1k", "mbps")
print("2 small packets: 1 KiB %.0f MB/s = %.2fx the 32 KiB rate (>= 0.8): %s" % (c1, c1 / c32, verdict(c1 / c32 >= 0.8)))
if "client1k-queued" in rows:
    print("  1 KiB diagnostics: one queued progress call per packet %.0f MB/s (%.2fx); without a progress receiver %.0f MB/s (%.2fx)"
          % (median("client1k-queued", "mbps"), median("client1k-queued", "mbps") / c32,
             median("client1k-noprogress", "mbps"), median("client1k-noprogress", "mbps") / c32))
cpu = median("client32k", "cpu_s_per_gb")
print("3 CPU: %.3f CPU-s/GB for the whole client process (<= 0.8; transfer only %.3f s per GiB): %s"
      % (cpu, median("client32k", "transfer_cpu_s"), verdict(cpu <= 0.8)))
big, small = median("client32k", "maxrss_kb"), median("client64m", "maxrss_kb")
print("4 memory: peak RSS 1 GiB %.0f KiB - 64 MiB %.0f KiB = %.0f KiB (<= 2048): %s"
      % (big, small, big - small, verdict(big - small <= 2048)))
if "window" in rows:
    w = median("window", "mbps")
    p99 = max(column("window", "lat_p99_ms"))
    shown = all(r.get("started_shown") == "1" and r.get("final_count_shown") == "1" for r in rows["window"])
    print("5 window: %.0f MB/s = %.2fx headless (>= 0.8); GUI lateness p99 worst round %.1f ms (< 50), max %.1f ms;"
          " start and final count shown every round: %s; %s"
          % (w, w / c32, p99, max(column("window", "lat_max_ms")), shown,
             verdict(w / c32 >= 0.8 and p99 < 50 and shown)))
if "folder" in rows:
    fill = median("folder", "fill_gui_cpu_ms")
    sort = max(column("folder", "sort_max_ms"))
    print("6 large folder: 5000 entries filled in %.0f ms GUI-thread CPU (< 500; wall %.0f ms with the protocol);"
          " slowest sort %.1f ms (< 100); %.0f B resident, %.0f B heap per entry: %s"
          % (fill, median("folder", "fill_wall_ms"), sort, median("folder", "rss_per_entry_b"),
             median("folder", "heap_per_entry_b"), verdict(fill < 500 and sort < 100)))
print("  framing alone (zv-bench-framing, 32 KiB packets): %.0f MB/s, %.2f CPU-s/GB of its thread"
      % (median("framing", "mbps"), median("framing", "thread_cpu_s_per_gb")))
print("  framing alone, 1 KiB packets: %.0f MB/s, %.2f CPU-s/GB of its thread"
      % (median("framing1k", "mbps"), median("framing1k", "thread_cpu_s_per_gb")))
if "client32k-qtonly" in rows:
    for kind in ("client32k", "client1k", "framing", "framing1k"):
        key = "thread_cpu_s_per_gb" if kind.startswith("framing") else "cpu_s_per_gb"
        print("  read path, %s: raw read %.0f MB/s, %.3f CPU-s/GB; Qt-only %.0f MB/s, %.3f CPU-s/GB"
              % (kind, median(kind, "mbps"), median(kind, key), median(kind + "-qtonly", "mbps"),
                 median(kind + "-qtonly", key)))
s = median("simsend", "mbps")
print("7 simulator: %.0f MB/s to a discarding reader = %.2fx the client (>= 1.5): %s" % (s, s / c32, verdict(s / c32 >= 1.5)))
bad = [r for r in rows.get("cmp", []) if r.get("same") != "1"]
print("outputs identical to the source: %s" % ("all" if not bad else "NO: %s" % bad))
failed = [k for k, rs in rows.items() if any(r.get("ok", "1") != "1" or "failed" in r for r in rs)]
if failed:
    print("runs that did not complete cleanly: %s" % failed)
EOF

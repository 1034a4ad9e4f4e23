#!/bin/sh
# Our HTTP file server against nginx, side by side in one run, both serving the same 200 MB
# file on loopback. Prints MB/s per round for each, the ratio, and the resident memory of our
# server sampled during the run. Run as root (nginx wants to be root to start as configured).
#   bench/http/run.sh [BUILD_DIR] [ROUNDS]      (default: build/bench-http, configured as Release)
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD_DIR=${1:-$ROOT/build/bench-http}
ROUNDS=${2:-5}
SIZE_MB=200
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C "$BUILD_DIR" http_bench_server >/dev/null
SERVER="$BUILD_DIR/bench/http/http_bench_server"
for tool in nginx curl; do
    command -v $tool >/dev/null || { echo "missing: $tool (deps/bench-net.txt)"; exit 2; }
done

WORK=$(mktemp -d /tmp/stbmate-httpbench.XXXXXX)
cleanup() {
    [ -n "${OUR_PID:-}" ] && kill "$OUR_PID" 2>/dev/null || true
    [ -f "$WORK/nginx.pid" ] && kill "$(cat "$WORK/nginx.pid")" 2>/dev/null || true
    [ -n "${SAMPLER_PID:-}" ] && kill "$SAMPLER_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

head -c $((SIZE_MB * 1024 * 1024)) /dev/urandom > "$WORK/proftpd.tar.bz2"

"$SERVER" "$WORK/proftpd.tar.bz2" 0 > "$WORK/our.out" &
OUR_PID=$!
for _ in 1 2 3 4 5 6 7 8 9 10; do grep -qs PORT "$WORK/our.out" && break; sleep 0.2; done
OUR_PORT=$(awk '/PORT/ {print $2}' "$WORK/our.out")

# nginx on a free loopback port, with a config of our own and nothing else.
NGINX_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$WORK/nginx"
cat > "$WORK/nginx.conf" <<CONF
daemon on;
user root;
pid $WORK/nginx.pid;
worker_processes 1;
error_log $WORK/nginx/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $WORK/nginx;
    proxy_temp_path $WORK/nginx;
    fastcgi_temp_path $WORK/nginx;
    uwsgi_temp_path $WORK/nginx;
    scgi_temp_path $WORK/nginx;
    server {
        listen 127.0.0.1:$NGINX_PORT;
        root $WORK;
        location / { try_files /proftpd.tar.bz2 =404; }
    }
}
CONF
nginx -c "$WORK/nginx.conf" -p "$WORK/nginx"
sleep 0.3

# Warm the page cache so both read the file from memory.
cat "$WORK/proftpd.tar.bz2" > /dev/null

# RSS of our server every 100 ms while the rounds run.
( while kill -0 "$OUR_PID" 2>/dev/null; do
      awk '/VmRSS/ {print $2}' "/proc/$OUR_PID/status" 2>/dev/null
      sleep 0.1
  done > "$WORK/rss.txt" ) &
SAMPLER_PID=$!

speed() { # URL -> MB/s; a short or failed download counts as 0
    curl -s -o /dev/null -w '%{speed_download} %{size_download}\n' "$1" |
        awk -v want=$((SIZE_MB * 1024 * 1024)) '{ if ($2 != want) print 0; else printf "%.0f", $1 / 1048576 }'
}

echo "round  ours MB/s  nginx MB/s"
OURS_TOTAL=0; NGINX_TOTAL=0
i=1
while [ $i -le "$ROUNDS" ]; do
    # Alternate who goes first, so neither always gets the quieter moment.
    if [ $((i % 2)) -eq 1 ]; then
        O=$(speed "http://127.0.0.1:$OUR_PORT/proftpd.tar.bz2"); N=$(speed "http://127.0.0.1:$NGINX_PORT/proftpd.tar.bz2")
    else
        N=$(speed "http://127.0.0.1:$NGINX_PORT/proftpd.tar.bz2"); O=$(speed "http://127.0.0.1:$OUR_PORT/proftpd.tar.bz2")
    fi
    printf '%5d  %9s  %10s\n' "$i" "$O" "$N"
    OURS_TOTAL=$((OURS_TOTAL + O)); NGINX_TOTAL=$((NGINX_TOTAL + N))
    i=$((i + 1))
done
kill "$SAMPLER_PID" 2>/dev/null || true; SAMPLER_PID=
echo "mean   $((OURS_TOTAL / ROUNDS))  $((NGINX_TOTAL / ROUNDS))"
awk -v o="$OURS_TOTAL" -v n="$NGINX_TOTAL" 'BEGIN { printf "ratio ours/nginx: %.2f (target >= 0.90)\n", o / n }'
sort -n "$WORK/rss.txt" | awk 'NR == 1 {min = $1} {max = $1} END {printf "our RSS during the run: min %d KiB, max %d KiB\n", min, max}'

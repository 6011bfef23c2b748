#!/usr/bin/env bash
# An HLS stream downloaded by orvello-get, measured against ffmpeg on the same loopback nginx:
# a video-on-demand playlist of 500 fragments of about 256 KiB each (one second of MPEG-TS
# each, made by ffmpeg; about 125 MiB in all), fetched whole by `orvello-get --any-site URL` and by
# `ffmpeg -v error -i URL -c copy OUT.ts`, three times each, in turns; the best time of each
# and its rate in MB/s (target: orvello-get at least ffmpeg's). orvello-get's file must be
# the fragments joined in order, byte for byte.
# Usage: bench/hls_bench.sh [BUILD_DIR] [FRAGMENTS]   (defaults: build, 500)
# Exit status: 0 when the file is right and the target met, 3 when the target is missed, 1
# when the file is wrong, 2 when the benchmark can't run.
set -euo pipefail

build=$(realpath "${1:-build}")
count=${2:-500}
get="$build/orvello-get"
nginx=$(command -v nginx || echo /usr/sbin/nginx)
for tool in "$get" "$nginx" ffmpeg python3 cmp; do
    if ! command -v "$tool" >/dev/null && [ ! -x "$tool" ]; then
        echo "hls_bench: $tool is missing" >&2
        exit 2
    fi
done

work=$(mktemp -d)
cleanup() {
    [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# The fragments: one second each of a noisy 160x120 MPEG-2 picture (noise keeps each near
# 256 KiB), made by ffmpeg; the reference file is the fragments joined in order.
mkdir -p "$work/www/hls" "$work/home" "$work/logs" "$work/out"
(cd "$work/www/hls" && ffmpeg -loglevel fatal -f lavfi -i testsrc2=size=160x120:rate=25 \
    -t "$count" -vf noise=alls=60:allf=t -c:v mpeg2video -q:v 11 -g 25 -f hls -hls_time 1 \
    -hls_playlist_type vod -hls_segment_filename 'f%05d.ts' index.m3u8 </dev/null)
cat "$work/www/hls"/f*.ts > "$work/joined"
size=$(stat -c %s "$work/joined")
chmod -R a+rX "$work" # nginx's workers may run as another user

port=$(free_port)
cat > "$work/nginx.conf" <<EOF
daemon on;
pid $work/nginx.pid;
error_log $work/logs/error.log;
worker_processes 1;
events { worker_connections 64; }
http {
    access_log off;
    types { application/vnd.apple.mpegurl m3u8; video/mp2t ts; }
    client_body_temp_path $work/logs;
    proxy_temp_path $work/logs;
    fastcgi_temp_path $work/logs;
    uwsgi_temp_path $work/logs;
    scgi_temp_path $work/logs;
    server {
        listen 127.0.0.1:$port;
        root $work/www;
    }
}
EOF
"$nginx" -c "$work/nginx.conf" -p "$work" 2>"$work/logs/start.log" || {
    echo "hls_bench: nginx did not start: $(cat "$work/logs/start.log")" >&2
    exit 2
}
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache"
export XDG_DATA_HOME="$work/home/data"
url="http://127.0.0.1:$port/hls/index.m3u8"

best_get=999999
best_ffmpeg=999999
status=0
echo "HLS: $count fragments, $((size / 1048576)) MiB, best of three (target: orvello-get >= ffmpeg)"
for round in 1 2 3; do
    rm -rf "$work/out"/*
    sync
    t0=$(date +%s.%N)
    "$get" --any-site --folder "$work/out/get" --quiet "$url" >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    if ! cmp -s "$work/out/get/index.ts" "$work/joined"; then
        echo "hls_bench: orvello-get's file is not the fragments joined" >&2
        status=1
    fi
    sync
    t2=$(date +%s.%N)
    ffmpeg -v error -i "$url" -c copy "$work/out/ffmpeg.ts" </dev/null || true
    t3=$(date +%s.%N)
    get_time=$(python3 -c "print(f'{$t1 - $t0:.3f}')")
    ffmpeg_time=$(python3 -c "print(f'{$t3 - $t2:.3f}')")
    printf '   round %s: orvello-get %s s   ffmpeg %s s\n' "$round" "$get_time" "$ffmpeg_time"
    best_get=$(python3 -c "print(min($best_get, $get_time))")
    best_ffmpeg=$(python3 -c "print(min($best_ffmpeg, $ffmpeg_time))")
done
get_rate=$(python3 -c "print(f'{$size / $best_get / 1e6:.0f}')")
ffmpeg_rate=$(python3 -c "print(f'{$size / $best_ffmpeg / 1e6:.0f}')")
printf '   best: orvello-get %s s (%s MB/s)   ffmpeg %s s (%s MB/s)\n' "$best_get" "$get_rate" \
    "$best_ffmpeg" "$ffmpeg_rate"
if [ "$status" = 0 ] && ! python3 -c "import sys; sys.exit(0 if $best_get <= $best_ffmpeg else 1)"; then
    echo "   slower than ffmpeg (repeat on a quiet machine)"
    status=3
fi
exit "$status"

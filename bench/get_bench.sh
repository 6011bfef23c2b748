#!/usr/bin/env bash
# orvello-get's downloads, measured against the curl command line on the same loopback nginx:
#  1. broken: the connection is cut when 30 % and again when 60 % of the file has come; the
#     bytes received in all until the file is complete, as a share of its size (target: at
#     most 1.05). orvello-get tries again by itself; curl is run again with -C - after each
#     break, as a user would.
#  2. killed: the program is killed (SIGKILL) once half of the file is on disk, then run
#     again; the bytes the second run receives, as a share of the size (target: at most
#     0.52).
#  3. throughput: one whole download of the file by each, the two taking turns ($ROUNDS
#     rounds, 3 by default), in MB/s and CPU seconds (targets: orvello-get's best rate at
#     least curl's best, its least CPU time at most curl's).
#  4. four at a time: four files of a quarter of the size each, `orvello-get -j 4` against
#     `curl --parallel --parallel-max 4`, taking turns as in 3: the best aggregate rate
#     (target: at least curl's) and orvello-get's peak resident memory (target: at most
#     100 MiB).
#  5. a speed limit of 500 KiB/s: the average rate over 20 s, beside curl --limit-rate 500K
#     (target: within 10 %).
# Usage: [ROUNDS=N] bench/get_bench.sh [BUILD_DIR] [SIZE_MIB]   (defaults: 3, build, 1024)
# Exit status: 0 when every file is right and every target is met, 3 when a target is
# missed, 1 when a file is wrong, 2 when the benchmark can't run.
set -euo pipefail

build=$(realpath "${1:-build}")
mib=${2:-1024}
get="$build/orvello-get"
nginx=$(command -v nginx || echo /usr/sbin/nginx)
for tool in "$get" "$nginx" curl python3 cmp; do
    if ! command -v "$tool" >/dev/null && [ ! -x "$tool" ]; then
        echo "get_bench: $tool is missing" >&2
        exit 2
    fi
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

size=$((mib * 1024 * 1024))
mkdir -p "$work/www" "$work/home" "$work/logs" "$work/out"
head -c "$size" /dev/urandom > "$work/www/clip.flv"
quarter=$((size / 4))
for n in 1 2 3 4; do
    head -c "$quarter" /dev/urandom > "$work/www/part$n.flv"
done
chmod 755 "$work" "$work/www" # nginx's workers may run as another user

# nginx: the file (with its ETag, Last-Modified and ranges), the pages naming it directly or
# through the cutting proxy, and a log of the body bytes each answer sent.
port=$(free_port)
proxy_port=$(free_port)
printf '<html><a href="http://127.0.0.1:%s/clip.flv">Download</a></html>' "$port" \
    > "$work/www/direct"
printf '<html><a href="http://127.0.0.1:%s/clip.flv">Download</a></html>' "$proxy_port" \
    > "$work/www/cut"
for n in 1 2 3 4; do
    printf '<html><a href="http://127.0.0.1:%s/part%s.flv">Download</a></html>' "$port" "$n" \
        > "$work/www/part$n"
done
chmod 644 "$work/www"/*
cat > "$work/nginx.conf" <<EOF
daemon on;
pid $work/nginx.pid;
error_log $work/logs/error.log;
worker_processes 1;
events { worker_connections 64; }
http {
    log_format bytes '\$request \$status \$body_bytes_sent';
    access_log $work/logs/access.log bytes;
    default_type application/octet-stream;
    client_body_temp_path $work/logs;
    proxy_temp_path $work/logs;
    fastcgi_temp_path $work/logs;
    uwsgi_temp_path $work/logs;
    scgi_temp_path $work/logs;
    server {
        listen 127.0.0.1:$port;
        root $work/www;
        location /putfile.com/ { alias $work/www/; default_type text/html; }
    }
}
EOF
"$nginx" -c "$work/nginx.conf" -p "$work" 2>"$work/logs/start.log" || {
    echo "get_bench: nginx did not start: $(cat "$work/logs/start.log")" >&2
    exit 2
}

# The cutting proxy: forwards to nginx and counts the bytes it hands back; the connection
# that carries the total past the next cut point (a share of the size) is closed there.
cat > "$work/proxy.py" <<'EOF'
import socket, sys, threading
listen, upstream, size = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
state = {"sent": 0, "cuts": [], "next": 0}
lock = threading.Lock()
def pump(client):
    up = socket.create_connection(("127.0.0.1", upstream))
    def upward():
        try:
            while True:
                data = client.recv(65536)
                if not data:
                    break
                up.sendall(data)
        except OSError:
            pass
    threading.Thread(target=upward, daemon=True).start()
    try:
        while True:
            data = up.recv(1 << 20)
            if not data:
                break
            with lock:
                cut = None
                if state["next"] < len(state["cuts"]):
                    cut = int(state["cuts"][state["next"]] * size)
                if cut is not None and state["sent"] + len(data) >= cut:
                    data = data[: max(cut - state["sent"], 0)]
                    state["next"] += 1
                    state["sent"] += len(data)
                    client.sendall(data)
                    break
                state["sent"] += len(data)
            client.sendall(data)
    except OSError:
        pass
    for s in (client, up):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        s.close()
def control():
    # "reset 0.3 0.6" starts a count with these cut points; "sent" prints the count.
    for line in sys.stdin:
        words = line.split()
        with lock:
            if words[0] == "reset":
                state.update(sent=0, cuts=[float(w) for w in words[1:]], next=0)
                print("ok", flush=True)
            elif words[0] == "sent":
                print(state["sent"], flush=True)
threading.Thread(target=control, daemon=True).start()
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", listen))
server.listen(16)
while True:
    conn, _ = server.accept()
    threading.Thread(target=pump, args=(conn,), daemon=True).start()
EOF
coproc PROXY { exec python3 "$work/proxy.py" "$proxy_port" "$port" "$size"; }
pids+=("$PROXY_PID")
proxy() { # proxy <command...>: a command to the proxy, and its answer
    echo "$*" >&"${PROXY[1]}"
    local answer
    read -r answer <&"${PROXY[0]}"
    echo "$answer"
}
sleep 0.5

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache"
page() { echo "http://127.0.0.1:$port/putfile.com/$1"; }
status=0
check() { # check <file> [served name]: byte for byte against the served file
    if ! cmp -s "$1" "$work/www/${2:-clip.flv}"; then
        echo "WRONG FILE: $1"
        status=1
    fi
}
ratio() { python3 -c "print(f'{$1 / $2:.3f}')"; }
meets() { python3 -c "import sys; sys.exit(0 if $1 else 1)"; }

echo "file: $mib MiB, nginx on loopback"
echo
echo "1. broken at 30 % and at 60 %: bytes received / size (target <= 1.05)"
rm -rf "$work/out"/*
proxy reset 0.3 0.6 >/dev/null
"$get" --folder "$work/out/get" --quiet "$(page cut)" >/dev/null 2>&1 || true
get_ratio=$(ratio "$(proxy sent)" "$size")
check "$work/out/get/clip.flv"
proxy reset 0.3 0.6 >/dev/null
mkdir -p "$work/out/curl"
tries=0
until curl -s -C - -o "$work/out/curl/clip.flv" "http://127.0.0.1:$proxy_port/clip.flv"; do
    tries=$((tries + 1))
    [ "$tries" -lt 5 ] || break
done
curl_ratio=$(ratio "$(proxy sent)" "$size")
check "$work/out/curl/clip.flv"
printf '   orvello-get %s   curl -C - %s\n' "$get_ratio" "$curl_ratio"
meets "$get_ratio <= 1.05" || { echo "   TARGET MISSED"; status=${status/0/3}; }

echo
echo "2. killed at 50 %, run again: bytes the second run receives / size (target <= 0.52)"
kill_at_half() { # kill_at_half <partial file> <command...>
    local part=$1
    shift
    "$@" >/dev/null 2>&1 &
    local pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        if [ -f "$part" ] && [ "$(stat -c %s "$part")" -ge $((size / 2)) ]; then
            kill -9 "$pid"
            break
        fi
        sleep 0.002
    done
    wait "$pid" 2>/dev/null || true
}
second_run_bytes() { # the body bytes of the answers logged since line $1
    tail -n +"$(($1 + 1))" "$work/logs/access.log" | awk '$2 == "/clip.flv" {s += $NF} END {print s + 0}'
}
rm -rf "$work/out"/*
kill_at_half "$work/out/get/clip.flv.part" "$get" --folder "$work/out/get" "$(page direct)"
at_kill=$(stat -c %s "$work/out/get/clip.flv.part" 2>/dev/null || echo 0)
lines=$(wc -l < "$work/logs/access.log")
"$get" --folder "$work/out/get" "$(page direct)" 2>"$work/logs/get2.err" >/dev/null || true
get_second=$(ratio "$(second_run_bytes "$lines")" "$size")
check "$work/out/get/clip.flv"
mkdir -p "$work/out/curl"
kill_at_half "$work/out/curl/clip.flv" curl -s -o "$work/out/curl/clip.flv" \
    "http://127.0.0.1:$port/clip.flv"
lines=$(wc -l < "$work/logs/access.log")
curl -s -C - -o "$work/out/curl/clip.flv" "http://127.0.0.1:$port/clip.flv" || true
curl_second=$(ratio "$(second_run_bytes "$lines")" "$size")
check "$work/out/curl/clip.flv"
printf '   orvello-get %s (partial file at the kill: %s; %s)   curl -C - %s\n' "$get_second" \
    "$(ratio "$at_kill" "$size")" "$(tr -d '\n' < "$work/logs/get2.err")" "$curl_second"
meets "$get_second <= 0.52" || { echo "   TARGET MISSED"; status=${status/0/3}; }

# Runs a command and prints "<wall s> <CPU s> <peak KiB>": the wall time from its start to its
# end, its user + system time and its peak resident memory.
timed() {
    local t0 t1
    t0=$(date +%s.%N)
    /usr/bin/time -f '%U %S %M' -o "$work/logs/time" "$@" >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    read -r user sys peak < "$work/logs/time"
    python3 -c "print(f'{$t1 - $t0:.3f} {$user + $sys:.2f} $peak')"
}
# Before each measured run, as the C++ benchmarks do: scratch data of the run's size written
# and deleted, so each side writes into memory the kernel has just freed (this virtual
# machine hands memory that stayed free back to its host, and writes that land on it cost
# about ten times as much).
freshen() {
    head -c "$1" /dev/zero > "$work/out/scratch"
    rm -f "$work/out/scratch"
    sync
}
best() { # best <"wall cpu peak" lines> : the least wall time, the least CPU, the largest peak
    python3 -c "
import sys
rows = [tuple(map(float, l.split())) for l in sys.argv[1].splitlines() if l.strip()]
print(min(r[0] for r in rows), min(r[1] for r in rows), max(r[2] for r in rows))" "$1"
}
rounds=${ROUNDS:-3}

echo
echo "3. one whole download, $rounds rounds in turn (orvello-get first): MB/s and CPU s"
echo "   (targets: orvello-get's best rate >= curl's, its least CPU time <= curl's)"
rm -rf "$work/out"/*
get_rows="" curl_rows=""
for round in $(seq "$rounds"); do
    freshen "$size"
    row=$(timed "$get" --folder "$work/out/get" --quiet "$(page direct)")
    check "$work/out/get/clip.flv"
    rm -rf "$work/out/get"
    get_rows+="$row"$'\n'
    freshen "$size"
    mkdir -p "$work/out/curl"
    row2=$(timed curl -s -o "$work/out/curl/clip.flv" "http://127.0.0.1:$port/clip.flv")
    check "$work/out/curl/clip.flv"
    rm -rf "$work/out/curl"
    curl_rows+="$row2"$'\n'
    read -r w c _ <<< "$row"
    read -r w2 c2 _ <<< "$row2"
    printf '   round %s: orvello-get %s MB/s, CPU %s s   curl %s MB/s, CPU %s s\n' "$round" \
        "$(python3 -c "print(f'{$size / $w / 1e6:.0f}')")" "$c" \
        "$(python3 -c "print(f'{$size / $w2 / 1e6:.0f}')")" "$c2"
done
read -r gw gc _ <<< "$(best "$get_rows")"
read -r cw cc _ <<< "$(best "$curl_rows")"
get_rate=$(python3 -c "print(f'{$size / $gw / 1e6:.0f}')")
curl_rate=$(python3 -c "print(f'{$size / $cw / 1e6:.0f}')")
printf '   best: orvello-get %s MB/s (the page and a header request included), CPU %s s   curl %s MB/s, CPU %s s\n' \
    "$get_rate" "$gc" "$curl_rate" "$cc"
meets "$get_rate >= $curl_rate" || { echo "   RATE TARGET MISSED"; status=${status/0/3}; }
meets "$gc <= $cc" || { echo "   CPU TARGET MISSED"; status=${status/0/3}; }

echo
echo "4. four at a time, 4 x $((mib / 4)) MiB, $rounds rounds in turn: aggregate MB/s, CPU s"
echo "   (targets: orvello-get's best rate >= curl's; its peak memory <= 100 MiB)"
rm -rf "$work/out"/*
get_rows="" curl_rows=""
for round in $(seq "$rounds"); do
    freshen "$size"
    row=$(timed "$get" --folder "$work/out/get" --quiet --jobs 4 \
        "$(page part1)" "$(page part2)" "$(page part3)" "$(page part4)")
    for n in 1 2 3 4; do check "$work/out/get/part$n.flv" "part$n.flv"; done
    rm -rf "$work/out/get"
    get_rows+="$row"$'\n'
    freshen "$size"
    mkdir -p "$work/out/curl"
    row2=$(cd "$work/out/curl" && timed curl -s --parallel --parallel-max 4 \
        -O "http://127.0.0.1:$port/part1.flv" -O "http://127.0.0.1:$port/part2.flv" \
        -O "http://127.0.0.1:$port/part3.flv" -O "http://127.0.0.1:$port/part4.flv")
    for n in 1 2 3 4; do check "$work/out/curl/part$n.flv" "part$n.flv"; done
    rm -rf "$work/out/curl"
    curl_rows+="$row2"$'\n'
    read -r w c p <<< "$row"
    read -r w2 c2 p2 <<< "$row2"
    printf '   round %s: orvello-get -j 4 %s MB/s, CPU %s s, peak %s MiB   curl --parallel %s MB/s, CPU %s s, peak %s MiB\n' \
        "$round" "$(python3 -c "print(f'{4 * $quarter / $w / 1e6:.0f}')")" "$c" \
        "$(python3 -c "print(f'{$p / 1024:.1f}')")" \
        "$(python3 -c "print(f'{4 * $quarter / $w2 / 1e6:.0f}')")" "$c2" \
        "$(python3 -c "print(f'{$p2 / 1024:.1f}')")"
done
read -r gw gc gp <<< "$(best "$get_rows")"
read -r cw cc _ <<< "$(best "$curl_rows")"
get_rate=$(python3 -c "print(f'{4 * $quarter / $gw / 1e6:.0f}')")
curl_rate=$(python3 -c "print(f'{4 * $quarter / $cw / 1e6:.0f}')")
rss_mib=$(python3 -c "print(f'{$gp / 1024:.1f}')")
printf '   best: orvello-get -j 4 %s MB/s, CPU %s s, largest peak %s MiB   curl --parallel %s MB/s, CPU %s s\n' \
    "$get_rate" "$gc" "$rss_mib" "$curl_rate" "$cc"
meets "$rss_mib <= 100" || { echo "   MEMORY TARGET MISSED"; status=${status/0/3}; }
meets "$get_rate >= $curl_rate" || { echo "   RATE TARGET MISSED"; status=${status/0/3}; }

echo
echo "5. --limit-rate 500K for 20 s: average rate (target: 512000 B/s within 10 %)"
echo "   (from the growth of the file on disk over 20 s, counted from its first appearance)"
limited_rate() { # limited_rate <file that grows> <command...>: bytes a second over 20 s
    local file=$1
    shift
    "$@" >/dev/null 2>&1 &
    local pid=$!
    pids+=("$pid")
    local waited=0
    until [ -f "$file" ] || [ "$waited" -ge 1000 ]; do
        sleep 0.01
        waited=$((waited + 1))
    done
    local start_bytes end_bytes t0 t1
    start_bytes=$(stat -c %s "$file" 2>/dev/null || echo 0)
    t0=$(date +%s.%N)
    sleep 20
    end_bytes=$(stat -c %s "$file" 2>/dev/null || echo 0)
    t1=$(date +%s.%N)
    # A command started in the background by a script ignores SIGINT; both take SIGTERM.
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
    python3 -c "print(f'{($end_bytes - $start_bytes) / ($t1 - $t0):.0f}')"
}
rm -rf "$work/out"/*
rate=$(limited_rate "$work/out/get/clip.flv.part" \
    "$get" --folder "$work/out/get" --limit-rate 500K "$(page direct)")
mkdir -p "$work/out/curl"
curl_limited=$(limited_rate "$work/out/curl/clip.flv" \
    curl -s --limit-rate 500K -o "$work/out/curl/clip.flv" "http://127.0.0.1:$port/clip.flv")
printf '   orvello-get %s B/s (%s of the limit)   curl --limit-rate 500K %s B/s (%s)\n' "$rate" \
    "$(ratio "$rate" 512000)" "$curl_limited" "$(ratio "$curl_limited" 512000)"
meets "abs($rate / 512000 - 1) <= 0.10" || { echo "   TARGET MISSED"; status=${status/0/3}; }
exit "$status"

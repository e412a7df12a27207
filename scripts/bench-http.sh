# The reference engine's updates over HTTP, measured against nginx on loopback. Sourced
# by scripts/bench, which has set up Wine (KV_WINE, the bench prefix) and defines `run`.
# bench_http RUNS prints the rows of the HTTP goal table, each a ratio of figures from
# this run:
#   - a 100 MiB set (10 files of 10 MiB), first install: the engine's time against the
#     WinHTTP floor (kv_bench_winhttp: the same requests, written, hashed once, flushed),
#     and curl for reference (medians of RUNS);
#   - the check of an unchanged set: requests, body bytes served, bytes read from the disk
#     (trusting the recorded identities; FullVerifyDays=0 beside it);
#   - one 100 MiB file with 64 KiB overwritten at a random offset: bytes served (index
#     included), bytes written and read against the file's size;
#   - the same file with 100 KiB inserted at 8 MiB: bytes served;
#   - one changed file of 50 (256 KiB each): bytes written against the file's size;
#   - a new 100 MiB file whose transfer is cut at 60 % (bench/cut-proxy.py), then the
#     next update against the sound server: bytes it was served against the file's size;
#   - the engine process's private bytes during the 100 MiB download.
# Wire bytes come from nginx's access log. Disk bytes come from /proc/<pid>/io of the Wine
# process, less what a process that fails at once reads and writes: read from rchar, less
# the wire where rchar counts it; written from write_bytes, the bytes it dirtied in the
# page cache (wchar also counts every request a Wine process writes to its wineserver
# over a pipe, several hundred KiB for a small update).
#
# bench_http_nginx start|stop DIR starts the bench's own nginx (plain HTTP on a free
# loopback port, written to DIR/port) with the log format below; the fleet run
# (scripts/bench-fleet.sh) shares it.

# One line per request: end time, connection number, method, address, status, body bytes,
# bytes sent (headers included), request length, Range asked for, request time.
bench_http_log_format='$msec $connection $request_method $request_uri $status $body_bytes_sent $bytes_sent $request_length "$http_range" $request_time'

bench_http_nginx() {  # start|stop DIR
  local dir=$2
  if [[ $1 == stop ]]; then
    [[ -f $dir/nginx.pid ]] && kill "$(cat "$dir/nginx.pid")" 2>/dev/null
    for _ in $(seq 1 50); do [[ -f $dir/nginx.pid ]] || break; sleep 0.1; done
    return 0
  fi
  mkdir -p "$dir/www" "$dir/logs" "$dir/temp"
  local port
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  cat >"$dir/nginx.conf" <<NGINX
user $(id -un) $(id -gn);
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/logs/error.log;
events { worker_connections 256; }
http {
  default_type application/octet-stream;
  log_format bench '$bench_http_log_format';
  access_log $dir/logs/access.log bench;
  client_body_temp_path $dir/temp/body;
  proxy_temp_path $dir/temp/proxy;
  fastcgi_temp_path $dir/temp/fastcgi;
  uwsgi_temp_path $dir/temp/uwsgi;
  scgi_temp_path $dir/temp/scgi;
  sendfile on;
  server {
    listen 127.0.0.1:$port;
    server_name localhost;
    root $dir/www;
    # The fleet's machines each ask under an address of their own (/fleet/m<N>/), so the
    # log tells them apart; all are served the one set.
    location /fleet/ { rewrite ^/fleet/m[0-9]+/(.*)\$ /fleetset/\$1 break; }
  }
}
NGINX
  nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/logs/error.log" || return 1
  for _ in $(seq 1 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
  echo "$port" >"$dir/port"
}

# The requests nginx logged for addresses under PREFIX after line FROM (it logs just after
# each response, so give it a moment): "requests body_bytes bytes_sent request_bytes".
bench_http_served() {  # log prefix from
  sleep 0.5
  tail -n +"$(($3 + 1))" "$1" | awk -v p="$2" 'index($4, p) == 1 { n++; b += $6; s += $7; q += $8 }
                                               END { print n + 0, b + 0, s + 0, q + 0 }'
}

# The run's folder, server and key, set by bench_http_start for the functions below (and
# scripts/bench-packed.sh).
bh_dir="" bh_www="" bh_log="" bh_base="" bh_cut="" bh_key="" bh_public=""

bench_http_lines() { wc -l <"$bh_log"; }
bench_http_set_served() { bench_http_served "$bh_log" "/$1/" "$2"; }  # set from
bench_median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

# Starts the bench's nginx, the pass-through that cuts a transfer at 60 % in front of it,
# and makes the publisher's key.
bench_http_start() {
  bh_dir="$KV_BUILD/bench-http"
  rm -rf "$bh_dir"
  bench_http_nginx start "$bh_dir" || return 1
  bh_www="$bh_dir/www" bh_log="$bh_dir/logs/access.log" bh_base="http://localhost:$(cat "$bh_dir/port")"
  python3 "$KV_ROOT/bench/cut-proxy.py" "$bh_dir/cut-port" "$(cat "$bh_dir/port")" >"$bh_dir/logs/cut-proxy.log" 2>&1 </dev/null &
  echo $! >"$bh_dir/cut-proxy.pid"
  for _ in $(seq 1 100); do [[ -s $bh_dir/cut-port ]] && break; sleep 0.1; done
  bh_cut="http://localhost:$(cat "$bh_dir/cut-port")"
  bh_key="$bh_dir/bench.key"
  bh_public=$(kv_kvtool keygen "$(kv_winpath "$bh_key")" | sed -n 's/^PublicKey=//p')
}

bench_http_sign() { kv_sign_set "${@:3}" "$bh_key" "$1" "$2" >/dev/null; }  # folder version [--previous DIR]

bench_http_publish() {  # folder version count size
  mkdir -p "$1"
  for i in $(seq -w 1 "$3"); do head -c "$4" /dev/urandom >"$1/part$i.def"; done
  bench_http_sign "$1" "$2"
}

# The settings file of one machine, NAME.ini, updating from the set SET into inst/SET.
bench_http_settings() {  # name set [base] [engine lines]
  printf '[AntiVirus]\r\nUpdateTypeKey=UpdateHttp\r\nDefDatFolder=%s\r\n[ScanEngine]\r\nUpdateUrl=%s/%s/\r\nPublicKey=%s\r\n%s' \
    "$(kv_winpath "$bh_dir/inst/$2")" "${3:-$bh_base}" "$2" "$bh_public" "${4:-}" >"$bh_dir/$1.ini"
}

bench_http_update() { run kv_bench_http.exe "$(kv_winpath "$bh_dir/$1.ini")"; }  # name

# What a Wine program's process read and wrote ("rchar wchar write_bytes" of
# /proc/<pid>/io; Wine's GetProcessIoCounters answers zeros), polled until it exits:
# wine64 execs the program in its own process, and bash reaps it only at `wait`, so its
# last counts stay readable. What it prints goes to OUT.
bench_http_process_io() {  # out program args...
  local out=$1; shift
  "$KV_WINE" "$KV_BUILD/bin/$1" "${@:2}" >"$out" &
  local pid=$! io="0 0 0" now
  while [[ -r /proc/$pid/io ]]; do
    now=$(awk '/^rchar/ { r = $2 } /^wchar/ { w = $2 } /^write_bytes/ { b = $2 }
               END { if (r != "") print r, w, b }' "/proc/$pid/io" 2>/dev/null) &&
      [[ -n $now ]] && io=$now
    [[ $(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null) == Z ]] && break
    sleep 0.02
  done
  wait "$pid" || true
  echo "$io"
}

bench_http_update_io() {  # name
  local io
  io=$(bench_http_process_io "$bh_dir/$1.out" kv_bench_http.exe "$(kv_winpath "$bh_dir/$1.ini")")
  echo "HTTP: $1: $(grep -a '^result' "$bh_dir/$1.out" | tr -d '\r'); rchar wchar write_bytes $io" >&2
  echo "$io"
}

# The sets: 10 files of 10 MiB, 50 of 256 KiB, one of 100 MiB; and the machines' settings.
bench_http_publish_sets() {
  echo "HTTP: publishing a 100 MiB set, one 100 MiB file and a set of 50 files ..." >&2
  bench_http_publish "$bh_www/big" 1.0 10 $((10 * 1048576))
  bench_http_publish "$bh_www/fifty" 1.0 50 $((256 * 1024))
  mkdir -p "$bh_www/one"
  head -c $((100 * 1048576)) /dev/urandom >"$bh_www/one/one.def"
  bench_http_sign "$bh_www/one" 1.0
  bench_http_settings big big
  bench_http_settings bigfull big "" $'FullVerifyDays=0\r\n'
  bench_http_settings fifty fifty
  bench_http_settings one one "$bh_cut"
  # The same program and engine, failing at once (no such update type): what a Wine
  # process reads and writes by starting, loading and ending, to subtract.
  bench_http_settings idle idle
  sed -i 's/UpdateTypeKey=UpdateHttp/UpdateTypeKey=None/' "$bh_dir/idle.ini"
}

# The 100 MiB set installed RUNS times by curl, the WinHTTP floor and the engine; sets
# bh_first to the medians "curl floor engine growth" (ms, ms, ms, private bytes).
bench_http_first_installs() {  # runs
  local files=(defset.ini defset.sig) curl_ms="" floor_ms="" engine_ms="" growth="" out r f
  for i in $(seq -w 1 10); do files+=("part$i.def"); done
  for r in $(seq 1 "$1"); do
    echo "HTTP: 100 MiB set, run $r of $1 (curl, the WinHTTP floor, the engine) ..." >&2
    rm -rf "$bh_dir/curl" "$bh_dir/floor" "$bh_dir/inst"
    mkdir -p "$bh_dir/curl" "$bh_dir/inst"
    local args=() start
    for f in "${files[@]}"; do args+=(-o "$bh_dir/curl/$f" "$bh_base/big/$f"); done
    start=$(date +%s%N)
    curl -s --fail "${args[@]}" || return 1
    curl_ms+="$(( ($(date +%s%N) - start) / 1000000 ))"$'\n'
    out=$(run kv_bench_winhttp.exe "$bh_base/big/" "$(kv_winpath "$bh_dir/floor")") ||
      { echo "HTTP: the WinHTTP floor failed: $out" >&2; return 1; }
    floor_ms+="$(sed -n 's/^elapsed_ms //p' <<<"$out")"$'\n'
    out=$(bench_http_update big)
    grep -q '^result 0x0:Success' <<<"$out" || { echo "HTTP: the update failed: $out" >&2; return 1; }
    engine_ms+="$(sed -n 's/^update_ms //p' <<<"$out")"$'\n'
    growth+="$(awk '/^private_before/ { b = $2 } /^private_peak/ { p = $2 } END { print p - b }' <<<"$out")"$'\n'
  done
  bh_first="$(bench_median <<<"${curl_ms%$'\n'}") $(bench_median <<<"${floor_ms%$'\n'}")"
  bh_first+=" $(bench_median <<<"${engine_ms%$'\n'}") $(bench_median <<<"${growth%$'\n'}")"
}

# Whether the wire's bytes show in rchar at all (Wine's sockets may use calls that
# /proc/<pid>/io does not count): the floor reads nothing from the disk, so what it read
# beyond a floor that fails at once is the wire's share of rchar. Likewise whether
# write_bytes counts here (some file systems leave it 0): the floor wrote its files; where
# it does not, written falls back to wchar (column 2). Sets bh_wire_share and
# bh_written_column.
bench_http_io_columns() {
  local floor_io floor_idle_io floor_bytes
  rm -rf "$bh_dir/floor"
  floor_io=$(bench_http_process_io "$bh_dir/floor.out" kv_bench_winhttp.exe "$bh_base/big/" "$(kv_winpath "$bh_dir/floor")")
  floor_idle_io=$(bench_http_process_io "$bh_dir/floor-idle.out" kv_bench_winhttp.exe "$bh_base/none/" \
                  "$(kv_winpath "$bh_dir/floor")")
  floor_bytes=$(sed -n 's/^bytes //p' "$bh_dir/floor.out" | tr -d '\r')
  read -r bh_wire_share bh_written_column < <(awk -v a="$floor_io" -v b="$floor_idle_io" -v n="$floor_bytes" '
    BEGIN {
      split(a, x, " "); split(b, y, " ")
      s = n > 0 ? (x[1] - y[1]) / n : 0; w = n > 0 ? (x[3] - y[3]) / n : 0
      print (s < 0.5 ? 0 : 1), (w < 0.5 ? 2 : 3)
    }')
  echo "HTTP: floor: rchar wchar write_bytes $floor_io, failing at once: $floor_idle_io; wire in rchar: $bh_wire_share; written from column $bh_written_column" >&2
  rm -rf "$bh_dir/curl" "$bh_dir/floor"
}

# The unchanged set checked twice (trusting the recorded identities, then FullVerifyDays=0),
# and a process failing at once; sets bh_idle_io, bh_check, bh_check_io, bh_full_io.
bench_http_unchanged() {
  echo "HTTP: checking the unchanged set ..." >&2
  local from
  bh_idle_io=$(bench_http_update_io idle)
  from=$(bench_http_lines)
  bh_check_io=$(bench_http_update_io big)
  bh_check=$(bench_http_set_served big "$from")
  bh_full_io=$(bench_http_update_io bigfull)
  rm -rf "$bh_dir/inst/big"
}

# One changed file of 50; sets bh_changed and bh_changed_io.
bench_http_one_of_fifty() {
  echo "HTTP: one changed file of 50 ..." >&2
  bench_http_update fifty >/dev/null
  head -c $((256 * 1024)) /dev/urandom >"$bh_www/fifty/part17.def"
  bench_http_sign "$bh_www/fifty" 1.1
  local from
  from=$(bench_http_lines)
  bh_changed_io=$(bench_http_update_io fifty)
  bh_changed=$(bench_http_set_served fifty "$from")
}

# The 100 MiB file with 64 KiB overwritten at a random offset, then with 100 KiB
# inserted at 8 MiB; sets bh_edited, bh_edited_io and bh_inserted.
bench_http_edits() {
  echo "HTTP: one 100 MiB file: installed, 64 KiB changed, 100 KiB inserted ..." >&2
  local file="$bh_www/one/one.def" big=$((100 * 1048576)) from
  bench_http_update one >/dev/null
  local offset=$(( (RANDOM * 32768 + RANDOM) % (big - 65536) ))
  head -c 65536 /dev/urandom | dd of="$file" bs=65536 seek="$offset" oflag=seek_bytes conv=notrunc status=none
  bench_http_sign "$bh_www/one" 1.1
  from=$(bench_http_lines)
  bh_edited_io=$(bench_http_update_io one)
  bh_edited=$(bench_http_set_served one "$from")
  { head -c $((8 * 1048576)) "$file"; head -c $((100 * 1024)) /dev/urandom; tail -c +$((8 * 1048576 + 1)) "$file"; } \
    >"$file.new"
  mv "$file.new" "$file"
  bench_http_sign "$bh_www/one" 1.2
  from=$(bench_http_lines)
  bench_http_update_io one >/dev/null
  bh_inserted=$(bench_http_set_served one "$from")
}

# A new 100 MiB file whose transfer is cut at 60 %, then the next update against the
# sound server; sets bh_resumed (or "failed").
bench_http_resume() {
  echo "HTTP: a new 100 MiB file, its transfer cut at 60 %, then the next update ..." >&2
  local big=$((100 * 1048576)) from
  head -c "$big" /dev/urandom >"$bh_www/one/one.def.new"
  mv "$bh_www/one/one.def.new" "$bh_www/one/one.def"
  bench_http_sign "$bh_www/one" 1.3
  curl -s "$bh_cut/__cut__/arm?path=/one/one.def&bytes=$((big * 6 / 10))" >/dev/null
  bench_http_update_io one >/dev/null
  curl -s "$bh_cut/__cut__/sound" >/dev/null
  from=$(bench_http_lines)
  bench_http_update_io one >/dev/null
  bh_resumed=$(bench_http_set_served one "$from")
  grep -aq '^result 0x0:Success' "$bh_dir/one.out" || bh_resumed="failed"
  kill "$(cat "$bh_dir/cut-proxy.pid")" 2>/dev/null
}

bench_http_table() {
  local c f e g
  read -r c f e g <<<"$bh_first"
  awk -v c="$c" -v f="$f" -v e="$e" -v g="$g" \
      -v check="$bh_check" -v changed="$bh_changed" -v edited="$bh_edited" -v inserted="$bh_inserted" \
      -v resumed="$bh_resumed" -v check_io="$bh_check_io" -v full_io="$bh_full_io" -v changed_io="$bh_changed_io" \
      -v edited_io="$bh_edited_io" -v idle_io="$bh_idle_io" -v wire_share="$bh_wire_share" \
      -v wc="$bh_written_column" -v small=$((256 * 1024)) -v big=$((100 * 1048576)) -f "$KV_ROOT/scripts/bench-http.awk"
}

bench_http() {  # runs
  bench_http_start || return 1
  bench_http_publish_sets
  bench_http_first_installs "$1" || return 1
  bench_http_io_columns
  bench_http_unchanged
  bench_http_one_of_fifty
  bench_http_edits
  bench_http_resume
  local packed_rows
  packed_rows=$(bench_http_packed) || packed_rows="compressed copies and patches: failed (see above)"
  bench_http_nginx stop "$bh_dir"
  bench_http_table
  echo "-- compressed copies and patches (kvtool manifest --previous), real databases first:"
  echo "$packed_rows"
}

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

bench_http() {
  local runs=$1 dir="$KV_BUILD/bench-http"
  rm -rf "$dir"
  bench_http_nginx start "$dir" || return 1
  local port www="$dir/www" log="$dir/logs/access.log"
  port=$(cat "$dir/port")
  local base="http://localhost:$port"
  winp() { printf 'Z:%s' "${1//\//\\}"; }
  # The cut at 60 % goes through a pass-through of its own in front of nginx.
  python3 "$KV_ROOT/bench/cut-proxy.py" "$dir/cut-port" "$port" >"$dir/logs/cut-proxy.log" 2>&1 </dev/null &
  echo $! >"$dir/cut-proxy.pid"
  for _ in $(seq 1 100); do [[ -s $dir/cut-port ]] && break; sleep 0.1; done
  local cut="http://localhost:$(cat "$dir/cut-port")"

  echo "HTTP: publishing a 100 MiB set, one 100 MiB file and a set of 50 files ..." >&2
  local public
  public=$(run kvtool.exe keygen "$(winp "$dir/bench.key")" | sed -n 's/^PublicKey=//p')
  sign() {  # folder version [manifest options]
    run kvtool.exe manifest "${@:3}" "$(winp "$1")" "$2" >/dev/null
    run kvtool.exe sign "$(winp "$1")" "$(winp "$dir/bench.key")" >/dev/null
  }
  publish() {  # folder version count size
    mkdir -p "$1"
    for i in $(seq -w 1 "$3"); do head -c "$4" /dev/urandom >"$1/part$i.def"; done
    sign "$1" "$2"
  }
  local mib=1048576 big=$((100 * 1048576))
  publish "$www/big" 1.0 10 $((10 * mib))
  publish "$www/fifty" 1.0 50 $((256 * 1024))
  mkdir -p "$www/one"
  head -c "$big" /dev/urandom >"$www/one/one.def"
  sign "$www/one" 1.0
  settings() {  # name set [base] [engine lines]
    printf '[AntiVirus]\r\nUpdateTypeKey=UpdateHttp\r\nDefDatFolder=%s\r\n[ScanEngine]\r\nUpdateUrl=%s/%s/\r\nPublicKey=%s\r\n%s' \
      "$(winp "$dir/inst/$2")" "${3:-$base}" "$2" "$public" "${4:-}" >"$dir/$1.ini"
  }
  settings big big
  settings bigfull big "" $'FullVerifyDays=0\r\n'
  settings fifty fifty
  settings one one "$cut"
  # The same program and engine, failing at once (no such update type): what a Wine
  # process reads and writes by starting, loading and ending, to subtract.
  settings idle idle
  sed -i 's/UpdateTypeKey=UpdateHttp/UpdateTypeKey=None/' "$dir/idle.ini"
  update() { run kv_bench_http.exe "$(winp "$dir/$1.ini")"; }
  # What a Wine program's process read and wrote ("rchar wchar write_bytes" of
  # /proc/<pid>/io; Wine's
  # GetProcessIoCounters answers zeros), polled until it exits: wine64 execs the program
  # in its own process, and bash reaps it only at `wait`, so its last counts stay readable.
  # What it prints goes to OUT.
  process_io() {  # out program args...
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
  update_io() {  # name
    local io
    io=$(process_io "$dir/$1.out" kv_bench_http.exe "$(winp "$dir/$1.ini")")
    echo "HTTP: $1: $(grep -a '^result' "$dir/$1.out" | tr -d '\r'); rchar wchar write_bytes $io" >&2
    echo "$io"
  }
  median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
  served() { bench_http_served "$log" "/$1/" "$2"; }
  lines() { wc -l <"$log"; }

  local files=(defset.ini defset.sig) curl_ms="" floor_ms="" engine_ms="" growth="" out
  for i in $(seq -w 1 10); do files+=("part$i.def"); done
  for r in $(seq 1 "$runs"); do
    echo "HTTP: 100 MiB set, run $r of $runs (curl, the WinHTTP floor, the engine) ..." >&2
    rm -rf "$dir/curl" "$dir/floor" "$dir/inst"
    mkdir -p "$dir/curl" "$dir/inst"
    local args=() start
    for f in "${files[@]}"; do args+=(-o "$dir/curl/$f" "$base/big/$f"); done
    start=$(date +%s%N)
    curl -s --fail "${args[@]}" || return 1
    curl_ms+="$(( ($(date +%s%N) - start) / 1000000 ))"$'\n'
    out=$(run kv_bench_winhttp.exe "$base/big/" "$(winp "$dir/floor")") ||
      { echo "HTTP: the WinHTTP floor failed: $out" >&2; return 1; }
    floor_ms+="$(sed -n 's/^elapsed_ms //p' <<<"$out")"$'\n'
    out=$(update big)
    grep -q '^result 0x0:Success' <<<"$out" || { echo "HTTP: the update failed: $out" >&2; return 1; }
    engine_ms+="$(sed -n 's/^update_ms //p' <<<"$out")"$'\n'
    growth+="$(awk '/^private_before/ { b = $2 } /^private_peak/ { p = $2 } END { print p - b }' <<<"$out")"$'\n'
  done
  # Whether the wire's bytes show in rchar/wchar at all (Wine's sockets may use calls
  # that /proc/<pid>/io does not count): the floor reads nothing from the disk, so what it
  # read beyond a floor that fails at once is the wire's share of rchar.
  local floor_io floor_idle_io
  rm -rf "$dir/floor"
  floor_io=$(process_io "$dir/floor.out" kv_bench_winhttp.exe "$base/big/" "$(winp "$dir/floor")")
  floor_idle_io=$(process_io "$dir/floor-idle.out" kv_bench_winhttp.exe "$base/none/" "$(winp "$dir/floor")")
  # Likewise whether write_bytes counts here (some file systems leave it 0): the floor
  # wrote its files; where it does not, written falls back to wchar (column 2).
  local floor_bytes wire_share written_column
  floor_bytes=$(sed -n 's/^bytes //p' "$dir/floor.out" | tr -d '\r')
  read -r wire_share written_column < <(awk -v a="$floor_io" -v b="$floor_idle_io" -v n="$floor_bytes" '
    BEGIN {
      split(a, x, " "); split(b, y, " ")
      s = n > 0 ? (x[1] - y[1]) / n : 0; w = n > 0 ? (x[3] - y[3]) / n : 0
      print (s < 0.5 ? 0 : 1), (w < 0.5 ? 2 : 3)
    }')
  echo "HTTP: floor: rchar wchar write_bytes $floor_io, failing at once: $floor_idle_io; wire in rchar: $wire_share; written from column $written_column" >&2
  rm -rf "$dir/curl" "$dir/floor"

  echo "HTTP: checking the unchanged set ..." >&2
  local from check check_io full_io idle_io
  idle_io=$(update_io idle)
  from=$(lines)
  check_io=$(update_io big)
  check=$(served big "$from")
  full_io=$(update_io bigfull)
  rm -rf "$dir/inst/big"

  echo "HTTP: one changed file of 50 ..." >&2
  update fifty >/dev/null
  head -c $((256 * 1024)) /dev/urandom >"$www/fifty/part17.def"
  sign "$www/fifty" 1.1
  from=$(lines)
  local changed changed_io
  changed_io=$(update_io fifty)
  changed=$(served fifty "$from")

  echo "HTTP: one 100 MiB file: installed, 64 KiB changed, 100 KiB inserted ..." >&2
  update one >/dev/null
  local offset=$(( (RANDOM * 32768 + RANDOM) % (big - 65536) ))
  head -c 65536 /dev/urandom | dd of="$www/one/one.def" bs=65536 seek="$offset" oflag=seek_bytes conv=notrunc status=none
  sign "$www/one" 1.1
  from=$(lines)
  local edited edited_io inserted
  edited_io=$(update_io one)
  edited=$(served one "$from")
  { head -c $((8 * mib)) "$www/one/one.def"; head -c $((100 * 1024)) /dev/urandom
    tail -c +$((8 * mib + 1)) "$www/one/one.def"; } >"$www/one/one.def.new"
  mv "$www/one/one.def.new" "$www/one/one.def"
  sign "$www/one" 1.2
  from=$(lines)
  update_io one >/dev/null
  inserted=$(served one "$from")

  echo "HTTP: a new 100 MiB file, its transfer cut at 60 %, then the next update ..." >&2
  head -c "$big" /dev/urandom >"$www/one/one.def.new"
  mv "$www/one/one.def.new" "$www/one/one.def"
  sign "$www/one" 1.3
  curl -s "$cut/__cut__/arm?path=/one/one.def&bytes=$((big * 6 / 10))" >/dev/null
  update_io one >/dev/null
  curl -s "$cut/__cut__/sound" >/dev/null
  from=$(lines)
  local resumed
  update_io one >/dev/null
  resumed=$(served one "$from")
  grep -aq '^result 0x0:Success' "$dir/one.out" || resumed="failed"
  kill "$(cat "$dir/cut-proxy.pid")" 2>/dev/null
  local packed_rows
  packed_rows=$(bench_http_packed) || packed_rows="compressed copies and patches: failed (see above)"
  bench_http_nginx stop "$dir"

  local curl_median floor_median engine_median growth_median
  curl_median=$(median <<<"${curl_ms%$'\n'}")
  floor_median=$(median <<<"${floor_ms%$'\n'}")
  engine_median=$(median <<<"${engine_ms%$'\n'}")
  growth_median=$(median <<<"${growth%$'\n'}")
  awk -v c="$curl_median" -v f="$floor_median" -v e="$engine_median" -v g="$growth_median" \
      -v check="$check" -v changed="$changed" -v edited="$edited" -v inserted="$inserted" -v resumed="$resumed" \
      -v check_io="$check_io" -v full_io="$full_io" -v changed_io="$changed_io" -v edited_io="$edited_io" \
      -v idle_io="$idle_io" -v wire_share="$wire_share" -v wc="$written_column" -v small=$((256 * 1024)) -v big="$big" '
    function row(label, figure, reference, ratio, goal, met) {
      printf "%-44s %14s %14s %8s  %-36s %s\n", label, figure, reference, ratio, goal, met ? "met" : "NOT met"
    }
    function kib(b) { return sprintf("%.0f KiB", b / 1024) }
    function mib(b) { return sprintf("%.2f MiB", b / 1048576) }
    # Disk bytes, less what a process failing at once costs: read, less what came over
    # the wire (bytes sent by nginx) where rchar counts it; written, from write_bytes.
    function disk(io, wire, out,   x) {
      split(io, x, " "); out[1] = x[1] - idle[1] - wire_share * wire[3]; out[2] = x[wc] - idle[wc]
    }
    BEGIN {
      split(idle_io, idle, " ")
      row("100 MiB set, first install: engine / floor", sprintf("%.0f ms", e), sprintf("%.0f ms", f),
          (f > 0 ? sprintf("%.2fx", e / f) : "-"), "<= 1.2x the WinHTTP floor", f > 0 && e <= 1.2 * f)
      printf "%-44s %14s %14s %8s  %s\n", "  (curl, for reference)", sprintf("%.0f ms", c), sprintf("%.0f ms", f),
             (f > 0 ? sprintf("%.2fx", c / f) : "-"), "curl / floor"
      split(check, k, " "); disk(check_io, k, ci); disk(full_io, k, fi)
      row("unchanged set: requests, body bytes", k[1] " / " k[2], "1 / 0", "-", "1 request, 0 body bytes",
          k[1] == 1 && k[2] == 0)
      row("unchanged set: disk read", mib(ci[1]), mib(fi[1]), "-", "<= 1 MiB (ref.: FullVerifyDays=0)",
          ci[1] <= 1048576)
      split(edited, d, " "); disk(edited_io, d, di)
      row("64 KiB changed in 100 MiB: served", kib(d[2]), kib(256 * 1024), sprintf("%.2fx", d[2] / (256 * 1024)),
          "<= 256 KiB, index included", d[2] <= 256 * 1024)
      row("64 KiB changed in 100 MiB: disk written", mib(di[2]), mib(big), sprintf("%.2fx", di[2] / big),
          "<= 1.05x the file", di[2] <= 1.05 * big)
      row("64 KiB changed in 100 MiB: disk read", mib(di[1]), mib(big), sprintf("%.2fx", di[1] / big),
          "<= 2.2x the file", di[1] <= 2.2 * big)
      split(inserted, n, " ")
      row("100 KiB inserted in 100 MiB: served", kib(n[2]), kib(512 * 1024), sprintf("%.2fx", n[2] / (512 * 1024)),
          "<= 512 KiB", n[2] <= 512 * 1024)
      split(changed, m, " "); disk(changed_io, m, xi)
      row("1 of 50 files changed: disk written", kib(xi[2]), kib(small), sprintf("%.2fx", xi[2] / small),
          "<= 1.1x that file", xi[2] <= 1.1 * small)
      printf "%-44s %14s %14s %8s  %s\n", "  (served; disk read)", kib(m[2]), kib(xi[1]), sprintf("%.2fx", m[2] / small),
             m[1] " requests"
      if (resumed == "failed") row("cut at 60 %, then resumed: served", "failed", mib(big), "-", "<= 0.45x the file", 0)
      else {
        split(resumed, s, " ")
        row("cut at 60 %, then resumed: served", mib(s[2]), mib(big), sprintf("%.2fx", s[2] / big),
            "<= 0.45x the file", s[2] <= 0.45 * big)
      }
      printf "%-44s %14s %14s %8s  %s\n", "private bytes during the 100 MiB download", sprintf("+%.1f MB", g / 1048576),
             "before", "-", "<= +8 MB"
      printf "  (disk read: rchar, which %s the bytes of the wire here, as the floor program shows;\n",
             wire_share ? "counts" : "does not count"
      if (wc == 3) printf "   disk written: write_bytes, as wchar also counts the requests to the wineserver)\n"
      else printf "   disk written: wchar, with the requests to the wineserver: write_bytes is not counted here)\n"
    }'
  echo "-- compressed copies and patches (kvtool manifest --previous), real databases first:"
  echo "$packed_rows"
}

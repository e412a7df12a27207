# The reference engine's updates over HTTP, measured against nginx on loopback. Sourced
# by scripts/bench, which has set up Wine (KV_WINE, the bench prefix) and defines `run`
# and `row`. bench_http RUNS prints rows of scripts/bench's table:
#   - a 100 MB set (10 files of 10 MiB): the engine's install time against curl fetching
#     the same files (manifest and signature included) from the same server, one
#     connection each;
#   - the check of an unchanged set: requests and body bytes nginx served, and the bytes
#     the engine's process read from the disk, trusting the recorded file identities and
#     with FullVerifyDays=0 (every file hashed);
#   - one changed file of 50 (256 KiB each): bytes nginx served against the file's size,
#     and the bytes read from and written to the disk;
#   - the engine process's private bytes during the 100 MB download against before.

bench_http() {
  local runs=$1 dir="$KV_BUILD/bench-http"
  "$http_fixture" start "$KV_BUILD" bench-http >/dev/null || return 1
  local port www="$dir/www" log="$dir/logs/access.log"
  port=$(sed -n 's/^HttpPort=\([0-9]*\).*/\1/p' "$dir/endpoints.ini")
  local base="http://localhost:$port"
  winp() { printf 'Z:%s' "${1//\//\\}"; }

  echo "HTTP: publishing a 100 MB set and a set of 50 files ..." >&2
  local public
  public=$(run kvtool.exe keygen "$(winp "$dir/bench.key")" | sed -n 's/^PublicKey=//p')
  publish() {  # folder version count size
    local folder=$1
    mkdir -p "$folder"
    for i in $(seq -w 1 "$3"); do head -c "$4" /dev/urandom >"$folder/part$i.def"; done
    run kvtool.exe manifest "$(winp "$folder")" "$2" >/dev/null
    run kvtool.exe sign "$(winp "$folder")" "$(winp "$dir/bench.key")" >/dev/null
  }
  publish "$www/big" 1.0 10 $((10 * 1024 * 1024))
  publish "$www/fifty" 1.0 50 $((256 * 1024))
  settings() {  # name set [engine lines]
    printf '[AntiVirus]\r\nUpdateTypeKey=UpdateHttp\r\nDefDatFolder=%s\r\n[ScanEngine]\r\nUpdateUrl=%s/%s/\r\nPublicKey=%s\r\n%s' \
      "$(winp "$dir/inst/$2")" "$base" "$2" "$public" "${3:-}" >"$dir/$1.ini"
  }
  settings big big
  settings bigfull big $'FullVerifyDays=0\r\n'
  settings fifty fifty
  # The same program and engine, failing at once (no such update type): what a Wine
  # process reads and writes by starting, loading and ending, to subtract.
  settings idle idle
  sed -i 's/UpdateTypeKey=UpdateHttp/UpdateTypeKey=None/' "$dir/idle.ini"
  update() { run kv_bench_http.exe "$(winp "$dir/$1.ini")"; }
  # What the update's process read and wrote ("rchar wchar" of /proc/<pid>/io; Wine's
  # GetProcessIoCounters answers zeros), polled until it exits: wine64 execs the program
  # in its own process, and bash reaps it only at `wait`, so its last counts stay readable.
  update_io() {  # name
    "$KV_WINE" "$KV_BUILD/bin/kv_bench_http.exe" "$(winp "$dir/$1.ini")" >/dev/null &
    local pid=$! io="0 0" now
    while [[ -r /proc/$pid/io ]]; do
      now=$(awk '/^rchar/ { r = $2 } /^wchar/ { w = $2 } END { if (r != "") print r, w }' "/proc/$pid/io" 2>/dev/null) &&
        [[ -n $now ]] && io=$now
      [[ $(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null) == Z ]] && break
      sleep 0.02
    done
    wait "$pid" || true
    echo "HTTP: $1: rchar wchar $io" >&2
    echo "$io"
  }
  median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
  # The requests nginx logged for /<set>/ after line `from` (it logs just after each
  # response, so give it a moment): "count bytes".
  served() {  # set from
    sleep 0.5
    tail -n +"$(($2 + 1))" "$log" | awk -v p="/$1/" 'index($2, p) == 1 { n++; b += $4 } END { print n + 0, b + 0 }'
  }

  local files=(defset.ini defset.sig) curl_ms="" engine_ms="" growth="" out
  for i in $(seq -w 1 10); do files+=("part$i.def"); done
  for r in $(seq 1 "$runs"); do
    echo "HTTP: 100 MB set, run $r of $runs (curl, then the engine) ..." >&2
    rm -rf "$dir/curl" "$dir/inst"
    mkdir -p "$dir/curl" "$dir/inst"
    local args=() start
    for f in "${files[@]}"; do args+=(-o "$dir/curl/$f" "$base/big/$f"); done
    start=$(date +%s%N)
    curl -s --fail "${args[@]}" || return 1
    curl_ms+="$(( ($(date +%s%N) - start) / 1000000 ))"$'\n'
    out=$(update big)
    grep -q '^result 0x0:Success' <<<"$out" || { echo "HTTP: the update failed: $out" >&2; return 1; }
    engine_ms+="$(sed -n 's/^update_ms //p' <<<"$out")"$'\n'
    growth+="$(awk '/^private_before/ { b = $2 } /^private_peak/ { p = $2 } END { print p - b }' <<<"$out")"$'\n'
  done

  echo "HTTP: checking the unchanged set ..." >&2
  local from check check_io full_io idle_io
  idle_io=$(update_io idle)
  from=$(wc -l <"$log")
  check_io=$(update_io big)
  check=$(served big "$from")
  full_io=$(update_io bigfull)

  echo "HTTP: one changed file of 50 ..." >&2
  update fifty >/dev/null
  head -c $((256 * 1024)) /dev/urandom >"$www/fifty/part17.def"
  run kvtool.exe manifest "$(winp "$www/fifty")" 1.1 >/dev/null
  run kvtool.exe sign "$(winp "$www/fifty")" "$(winp "$dir/bench.key")" >/dev/null
  from=$(wc -l <"$log")
  local changed changed_io
  changed_io=$(update_io fifty)
  changed=$(served fifty "$from")
  "$http_fixture" stop "$KV_BUILD" bench-http >/dev/null

  local curl_median engine_median growth_median
  curl_median=$(median <<<"${curl_ms%$'\n'}")
  engine_median=$(median <<<"${engine_ms%$'\n'}")
  growth_median=$(median <<<"${growth%$'\n'}")
  awk -v c="$curl_median" -v e="$engine_median" -v g="$growth_median" -v check="$check" -v changed="$changed" \
      -v check_io="$check_io" -v full_io="$full_io" -v changed_io="$changed_io" -v idle_io="$idle_io" \
      -v size=$((256 * 1024)) '
    BEGIN {
      fmt = "%-44s %14s %14s %8s  %s\n"
      printf fmt, "100 MB set: install time (engine vs curl)", sprintf("%.0f ms", e), sprintf("%.0f ms", c),
             (c > 0 ? sprintf("%.2fx", e / c) : "-"), "<= 1.5x"
      split(check, k, " ")
      printf fmt, "unchanged set: requests", k[1], "1", sprintf("%.2fx", k[1]), "1 request"
      printf fmt, "unchanged set: body bytes served", k[2], "0", "-", "0 bytes"
      split(changed, m, " ")
      printf fmt, "1 of 50 files changed: bytes served", m[2], size, sprintf("%.3fx", m[2] / size),
             "<= 1.05x the file (" m[1] " requests)"
      # Disk bytes: what the process read and wrote, less the bodies that came over the
      # wire and less what a process that fails at once reads and writes.
      split(check_io, ci, " "); split(full_io, fi, " "); split(changed_io, xi, " "); split(idle_io, ii, " ")
      ci[1] -= ii[1]; fi[1] -= ii[1]; xi[1] -= ii[1]; xi[2] -= ii[2]
      printf fmt, "unchanged set: disk read (identities)", sprintf("%.1f MiB", (ci[1] - k[2]) / 1048576),
             sprintf("%.1f MiB", (fi[1] - k[2]) / 1048576), "-", "vs FullVerifyDays=0; <= 1 MiB"
      printf fmt, "1 of 50 changed: disk read / written", sprintf("%.2f MiB", (xi[1] - m[2]) / 1048576),
             sprintf("%.2f MiB", xi[2] / 1048576), sprintf("%.2fx", xi[2] / size), "written <= 1.1x the file"
      printf fmt, "private bytes during the 100 MB download", sprintf("+%.1f MB", g / 1048576), "before", "-",
             "<= +8 MB"
    }'
}

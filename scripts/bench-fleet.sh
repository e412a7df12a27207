# The fleet run, sourced by scripts/bench (`./scripts/bench fleet`): eight machines, each
# a Wine prefix of its own with the service installed from the Windows Installer package,
# update against one nginx (the bench's, scripts/bench-http.sh) from a 100 MiB file in
# which one 64 KiB region changed. Each machine's program is sealed with an address of
# its own (/fleet/m<N>/, all serving the one set), so nginx's log tells them apart.
#
# Two installations: UPDATEWINDOW=0, where every machine has the same update time, and
# UPDATEWINDOW=<window>, where the package chose a minute of the window for each. No one
# waits for the real schedule: the machines are asked with control 200 at the moments
# their update times say, a minute of the window replayed as KV_BENCH_FLEET_SCALE
# seconds (default 0.5), all at once without a window. Reports per machine the requests
# and bytes served, and the most connections open at once on nginx's port (ss, sampled
# every 0.1 s).
#
#   KV_BENCH_FLEET_WINDOW=120 KV_BENCH_FLEET_SCALE=0.5 ./scripts/bench fleet
#
# The prefixes stay in BUILD/bench-fleet-prefix for the next run (made once, by copying
# the first); their wineservers are ended when the run ends.

bench_fleet_machines=${KV_BENCH_FLEET_MACHINES:-8}

bench_fleet_prefix() { printf '%s/bench-fleet-prefix/p%s' "$KV_BUILD" "$1"; }

# Ends what the fleet run started: the services (their wineservers) and nginx.
bench_fleet_cleanup() {  # dir
  local m
  for m in $(seq 1 "$bench_fleet_machines"); do
    [[ -d $(bench_fleet_prefix "$m") ]] &&
      "$KV_ROOT/tests/support/wine-fixture" stop "$KV_BUILD" "bench-fleet-prefix/p$m" >/dev/null 2>&1
  done
  bench_http_nginx stop "$1"
}

bench_fleet() {
  local dir="$KV_BUILD/bench-fleet" n=$bench_fleet_machines m
  local window=${KV_BENCH_FLEET_WINDOW:-120} scale=${KV_BENCH_FLEET_SCALE:-0.5}
  local fixture="$KV_ROOT/tests/support/wine-fixture" size=$((100 * 1048576))
  rm -rf "$dir"
  mkdir -p "$dir/www/fleetset"
  bench_http_nginx start "$dir" || return 1
  local port log="$dir/logs/access.log"
  port=$(cat "$dir/port")
  # A program run on one machine; what it prints is not needed (and a pipe could be held
  # open by anything it starts).
  on() { local m=$1; shift; WINEPREFIX=$(bench_fleet_prefix "$m") "$KV_WINE" "$@" </dev/null >/dev/null 2>&1; }
  app() { printf '%s/drive_c/Program Files/Kestravondalsc/app' "$(bench_fleet_prefix "$1")"; }
  records() { cat "$(app "$1")"/log/Kv_*.txt 2>/dev/null | grep -ac '^\[Update_' || true; }
  wait_records() {  # machine count
    local t
    for t in $(seq 1 9000); do
      [[ $(records "$1") -ge $2 ]] && return 0
      sleep 0.1
    done
    echo "fleet: machine $1 wrote no update record $2 in 15 minutes" >&2
    return 1
  }
  sign() { kv_sign_set "$dir/fleet.key" "$dir/www/fleetset" "$1" >/dev/null; }  # version

  echo "fleet: a 100 MiB set, and a package for each of $n machines ..." >&2
  local public version
  public=$(run kvtool.exe keygen "$(kv_winpath "$dir/fleet.key")" | sed -n 's/^PublicKey=//p')
  head -c "$size" /dev/urandom >"$dir/www/fleetset/one.def"
  sign 1.0
  version=$(cat "$KV_BUILD/kv-version.txt")
  # Sealed into a copy without debugging symbols: the resource update leaves a symbol
  # table the package's strip cannot read.
  x86_64-w64-mingw32-strip -o "$dir/Kestravondalsc.exe" "$KV_BUILD/bin/Kestravondalsc.exe"
  for m in $(seq 1 "$n"); do
    mkdir -p "$dir/m$m"
    { tr -d '\r' <"$KV_ROOT/config/builtin.ini" | grep -v '^;'
      printf '\n[ScanEngine]\nUpdateUrl=http://localhost:%s/fleet/m%s/\nPublicKey=%s\n' "$port" "$m" "$public"
    } | sed 's/$/\r/' >"$dir/m$m/builtin.ini"
    run kv_reseal.exe "$(kv_winpath "$dir/Kestravondalsc.exe")" "$(kv_winpath "$dir/m$m/Kestravondalsc.exe")" \
      "$(kv_winpath "$dir/m$m/builtin.ini")" >/dev/null || return 1
    "$KV_ROOT/packaging/build-msi" "$KV_BUILD/bin" "$version" "$dir/m$m/Kestravondalsc.msi" \
      "$dir/m$m/Kestravondalsc.exe" >/dev/null || return 1
  done

  # The machines: one prefix made by Wine, the others copies of it (made once).
  if [[ ! -f $(bench_fleet_prefix 1)/system.reg ]]; then
    echo "fleet: making the first machine's Wine prefix ..." >&2
    "$fixture" start "$KV_BUILD" bench-fleet-prefix/p1 >/dev/null
    "$fixture" stop "$KV_BUILD" bench-fleet-prefix/p1 >/dev/null
  fi
  for m in $(seq 2 "$n"); do
    [[ -f $(bench_fleet_prefix "$m")/system.reg ]] || cp -a "$(bench_fleet_prefix 1)" "$(bench_fleet_prefix "$m")"
  done
  for m in $(seq 1 "$n"); do "$fixture" start "$KV_BUILD" "bench-fleet-prefix/p$m" >/dev/null; done

  # An update time no real schedule reaches while the bench runs.
  local base_hour=$(( (10#$(date +%H) + 12) % 24 ))
  local set_version=1 out=""
  for w in 0 "$window"; do
    echo "fleet: UPDATEWINDOW=$w: installing on $n machines (the update at start installs the set) ..." >&2
    for m in $(seq 1 "$n"); do
      on "$m" msiexec /i "$(kv_winpath "$dir/m$m/Kestravondalsc.msi")" /qn "UPDATETIME=$(printf '%02d:00' "$base_hour")" \
        "UPDATEWINDOW=$w" /l*v "$(kv_winpath "$dir/m$m/install-$w.log")"
    done
    for m in $(seq 1 "$n"); do wait_records "$m" 1 || return 1; done
    # The service logs its record before the installation ends its swap; let it settle.
    sleep 2

    head -c 65536 /dev/urandom |
      dd of="$dir/www/fleetset/one.def" bs=65536 seek=$(( (RANDOM * 32768 + RANDOM) % (size - 65536) )) \
        oflag=seek_bytes conv=notrunc status=none
    set_version=$((set_version + 1))
    sign "1.$set_version"

    # Each machine's minute in the window, from the update time its installation wrote.
    local offsets=()
    for m in $(seq 1 "$n"); do
      local time minutes
      time=$(tr -d '\r' <"$(app "$m")/Kestravondal.ini" | sed -n 's/^UpdateTime=//p')
      minutes=$(( (10#${time%%:*} * 60 + 10#${time##*:} - base_hour * 60 + 1440) % 1440 ))
      offsets+=("$minutes $m")
    done
    local from
    from=$(wc -l <"$log")
    : >"$dir/sampling"
    ( while [[ -f $dir/sampling ]]; do
        ss -Htn state established "( sport = :$port )" | wc -l
        sleep 0.1
      done >"$dir/connections-$w" ) &
    local sampler=$! start entry first
    first=$(printf '%s\n' "${offsets[@]}" | sort -n | head -1 | cut -d' ' -f1)
    start=$(date +%s.%N)
    echo "fleet: UPDATEWINDOW=$w: asking every machine at its time (1 minute = $scale s) ..." >&2
    while read -r entry; do
      local at=${entry%% *} which=${entry##* }
      sleep "$(awk -v s="$start" -v a="$at" -v k="$scale" -v now="$(date +%s.%N)" \
        -v f="$first" 'BEGIN { d = s + (a - f) * k - now; print (d > 0 ? d : 0) }')"
      on "$which" "$KV_BUILD/bin/kv_svcctl.exe" Kestravondalsc control 200 &
    done < <(printf '%s\n' "${offsets[@]}" | sort -n)
    for m in $(seq 1 "$n"); do wait_records "$m" 2 || return 1; done
    local elapsed
    elapsed=$(awk -v s="$start" -v now="$(date +%s.%N)" 'BEGIN { printf "%.1f", now - s }')
    sleep 0.5
    rm -f "$dir/sampling"
    wait "$sampler"

    out+="-- fleet: $n installed services, each in its own Wine prefix, against one nginx; a 100 MiB file"$'\n'
    out+="   with one 64 KiB region changed; UPDATEWINDOW=$w"
    if [[ $w == 0 ]]; then
      out+=": every machine has the same time and is asked at once"$'\n'
    else
      out+=" minutes (replayed at $scale s a minute: each machine asked at the"$'\n'
      out+="   minute its installation chose; a real window spreads the same order over $w minutes)"$'\n'
    fi
    out+=$(printf '%-10s %12s %10s %12s %16s %10s' machine "asked at" requests connections "body served" "x file")$'\n'
    local total_requests=0 total_bytes=0 served entry_m requests body connections
    for entry in $(printf '%s\n' "${offsets[@]}" | sort -n | tr ' ' ':'); do
      entry_m=${entry##*:}
      served=$(bench_http_served "$log" "/fleet/m$entry_m/" "$from")
      read -r requests body _ <<<"$served"
      connections=$(tail -n +"$((from + 1))" "$log" | awk -v p="/fleet/m$entry_m/" 'index($4, p) == 1 { c[$2] = 1 }
                                                        END { n = 0; for (k in c) n++; print n }')
      total_requests=$((total_requests + requests)); total_bytes=$((total_bytes + body))
      out+=$(awk -v m="m$entry_m" -v at="$((${entry%%:*} - first))" -v k="$scale" -v r="$requests" -v c="$connections" -v b="$body" \
        -v f="$size" 'BEGIN { printf "%-10s %10.1f s %10d %12d %12.2f MiB %9.3fx", m, at * k, r, c, b / 1048576, b / f }')$'\n'
    done
    out+=$(awk -v r="$total_requests" -v b="$total_bytes" -v n="$n" -v f="$size" \
      'BEGIN { printf "%-10s %12s %10d %12s %12.2f MiB %9.3fx", "all", "", r, "", b / 1048576, b / (n * f) }')$'\n'
    # From the log, each request running from its end less its time (nginx counts in
    # milliseconds, so one that starts as another ends counts as overlapping it): the most
    # requests in flight at once, and the most machines between their first request's
    # start and their last one's end.
    local in_flight updating
    most_at_once() { sort -k1,1n -k2,2nr | awk '{ now += $2; if (now > most) most = now } END { print most + 0 }'; }
    in_flight=$(tail -n +"$((from + 1))" "$log" |
      awk 'index($4, "/fleet/") == 1 { printf "%.3f 1\n%.3f -1\n", $1 - $NF, $1 }' | most_at_once)
    updating=$(tail -n +"$((from + 1))" "$log" |
      awk 'index($4, "/fleet/") == 1 {
             m = $4; sub(/^\/fleet\//, "", m); sub(/\/.*/, "", m); s = $1 - $NF
             if (!(m in first) || s < first[m]) first[m] = s
             if ($1 > last[m]) last[m] = $1
           }
           END { for (m in first) printf "%.3f 1\n%.3f -1\n", first[m], last[m] }' | most_at_once)
    out+="   most connections open at once on nginx's port: $(sort -n "$dir/connections-$w" | tail -1)"
    out+=" ($(head -1 "$dir/connections-$w") of them already open, idle, when the first was asked);"$'\n'
    out+="   most requests in flight at once: $in_flight; most machines updating at once: $updating;"$'\n'
    out+="   all updated ${elapsed} s after the first was asked"$'\n\n'

    echo "fleet: UPDATEWINDOW=$w: removing the package ..." >&2
    for m in $(seq 1 "$n"); do
      on "$m" msiexec /x "$(kv_winpath "$dir/m$m/Kestravondalsc.msi")" /qn /l*v "$(kv_winpath "$dir/m$m/remove-$w.log")"
      # The removal leaves the service's own data; the next installation is a first one.
      rm -rf "$(dirname "$(app "$m")")"
    done
  done
  bench_fleet_cleanup "$dir"
  printf '%s' "${out%$'\n'}"
}

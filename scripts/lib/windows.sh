# Shared by scripts/build-windows and scripts/test-windows: the MinGW-w64 toolchain cache
# (static libsodium and OpenSSL, shared Qt) built from Debian's own sources.
# Source it after common.sh; it defines functions and the recipe only.

KELDRA_MINGW_TRIPLET=x86_64-w64-mingw32
KELDRA_TOOLCHAIN_FILE=$(keldra_root)/cmake/mingw-w64-x86_64.cmake
KELDRA_SOURCE_PACKAGES=(qt6-base libsodium openssl libzip)
# Our own entry, so Debian's lists are left as they are.
KELDRA_DEB_SRC_LIST=/etc/apt/sources.list.d/keldra-deb-src.sources

KELDRA_SODIUM_FLAGS=(--host=x86_64-w64-mingw32 --disable-shared --enable-static --disable-dependency-tracking)
KELDRA_LIBZIP_FLAGS=(-DBUILD_SHARED_LIBS=OFF -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF
  -DBUILD_DOC=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_GNUTLS=OFF
  -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF)
KELDRA_OPENSSL_FLAGS=(mingw64 --cross-compile-prefix=x86_64-w64-mingw32- no-shared no-tests --libdir=lib)
# Only what the programs and tests use. Traps: Debian's source lacks wintab (tabletevent);
# qwindows.dll does not link with direct2d off unless directwrite3 is off too; the offscreen
# plug-in needs the bundled freetype; TLS comes from Windows itself (schannel).
KELDRA_QT_FLAGS=(-release -shared -nomake examples -nomake tests
  -no-opengl -no-dbus -no-icu -no-glib -no-fontconfig
  -qt-zlib -qt-libpng -no-libjpeg -qt-pcre -qt-harfbuzz -qt-freetype -qt-doubleconversion
  -no-openssl -schannel
  -no-feature-sql -no-feature-xml -no-feature-concurrent -no-feature-printsupport
  -no-feature-vulkan -no-feature-direct2d -no-feature-directwrite3 -no-feature-zstd
  -no-feature-gif -no-feature-jpeg -no-feature-tabletevent)
KELDRA_QT_HOST_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake

# Makes Debian's source packages reachable: a deb-src entry for the suites already in use.
keldra_enable_deb_src() {
  if [ ! -f "$KELDRA_DEB_SRC_LIST" ]; then
    local codename
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    # Same keyring as Debian's own entry: apt refuses two Signed-By values for one source.
    printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" \
      "Suites: $codename $codename-updates" "Components: main" \
      "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" >"$KELDRA_DEB_SRC_LIST.new"
    mv "$KELDRA_DEB_SRC_LIST.new" "$KELDRA_DEB_SRC_LIST"
    keldra_apt_get update -qq
  elif ! apt-get source --print-uris "${KELDRA_SOURCE_PACKAGES[@]}" >/dev/null 2>&1; then
    keldra_apt_get update -qq
  fi
}

# The .dsc files apt would fetch: names carry the versions, hashes pin the content.
keldra_source_pins() {
  apt-get source --print-uris "${KELDRA_SOURCE_PACKAGES[@]}" | grep -o "[^ ']*\.dsc [0-9]* [A-Za-z0-9]*:[0-9a-f]*" | sort
}

# A cache folder name that changes only when what goes into it changes: source versions,
# configure flags, toolchain file and compilers. Nothing time-dependent, so every run finds the same one.
keldra_mingw_cache_key() {
  local sum
  sum=$({
    keldra_source_pins
    printf '%s\n' "${KELDRA_SODIUM_FLAGS[*]}" "${KELDRA_OPENSSL_FLAGS[*]}" "${KELDRA_QT_FLAGS[*]}"
    printf '%s\n' "${KELDRA_LIBZIP_FLAGS[*]}"
    # The toolchain file's settings, without its comments.
    grep -v '^[[:space:]]*#' "$KELDRA_TOOLCHAIN_FILE"
    x86_64-w64-mingw32-g++-posix --version | head -n1
    x86_64-w64-mingw32-gcc --version | head -n1
    dpkg-query -W -f='${Version}\n' qt6-base-dev-tools mingw-w64-x86-64-dev
  } | sha256sum | cut -c1-16)
  echo "qt6-mingw-$sum"
}

keldra_mingw_prefix() {
  if [ -n "${KELDRA_MINGW_PREFIX:-}" ]; then
    echo "$KELDRA_MINGW_PREFIX"
  else
    echo "/var/cache/keldra-mingw/$(keldra_mingw_cache_key)"
  fi
}

# keldra_build_mingw_toolchain PREFIX [JOBS]: builds what is not built yet; each part leaves a
# stamp only once installed, so an interrupted run resumes where it stopped.
keldra_build_mingw_toolchain() {
  local prefix=$1 jobs=${2:-$(nproc)}
  local sources=$prefix/sources work=$prefix/work sysroot=$prefix/sysroot
  if [ -f "$prefix/.complete" ]; then
    return 0
  fi
  mkdir -p "$sources" "$work" "$sysroot"
  local package
  for package in "${KELDRA_SOURCE_PACKAGES[@]}"; do
    if [ ! -f "$sources/.fetched-$package" ]; then
      (cd "$sources" && apt-get source -qq "$package") || return 1
      touch "$sources/.fetched-$package"
    fi
  done
  if [ ! -f "$sysroot/.libsodium" ]; then
    echo "== libsodium (static)"
    rm -rf "$work/libsodium" && cp -a "$sources"/libsodium-*/ "$work/libsodium"
    # autoreconf rather than autogen.sh, which downloads.
    (cd "$work/libsodium" && autoreconf -ivf >/dev/null 2>&1 &&
      ./configure "${KELDRA_SODIUM_FLAGS[@]}" --prefix="$sysroot" CC=x86_64-w64-mingw32-gcc-posix >/dev/null &&
      make -j"$jobs" >/dev/null && make install >/dev/null) || return 1
    touch "$sysroot/.libsodium"
  fi
  if [ ! -f "$sysroot/.openssl" ]; then
    echo "== OpenSSL libcrypto (static)"
    rm -rf "$work/openssl" && cp -a "$sources"/openssl-*/ "$work/openssl"
    (cd "$work/openssl" && ./Configure "${KELDRA_OPENSSL_FLAGS[@]}" --prefix="$sysroot" >/dev/null &&
      make -j"$jobs" build_libs >/dev/null && make install_dev >/dev/null) || return 1
    touch "$sysroot/.openssl"
  fi
  if [ ! -f "$sysroot/.libzip" ]; then
    echo "== libzip (static)"
    rm -rf "$work/libzip" && mkdir -p "$work/libzip"
    (cd "$work/libzip" && cmake "$(echo "$sources"/libzip-*/)" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$KELDRA_TOOLCHAIN_FILE" -DCMAKE_INSTALL_PREFIX="$sysroot" \
      "${KELDRA_LIBZIP_FLAGS[@]}" >/dev/null && cmake --build . --parallel "$jobs" >/dev/null &&
      cmake --install . >/dev/null) || return 1
    touch "$sysroot/.libzip"
  fi
  if [ ! -f "$prefix/qt/.qtbase" ]; then
    echo "== qtbase (shared; the longest part)"
    rm -rf "$work/qtbase" && mkdir -p "$work/qtbase"
    local qtsrc
    qtsrc=$(echo "$sources"/qt6-base-*/)
    if ! (cd "$work/qtbase" &&
      "$qtsrc/configure" -prefix "$prefix/qt" -xplatform win32-g++ -qt-host-path /usr \
        "${KELDRA_QT_FLAGS[@]}" -- -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$KELDRA_TOOLCHAIN_FILE" \
        -DQT_HOST_PATH_CMAKE_DIR="$KELDRA_QT_HOST_CMAKE_DIR" >configure.log 2>&1); then
      tail -n 60 "$work/qtbase/configure.log" >&2
      return 1
    fi
    # Thousands of lines of Qt's own warnings: kept in a log, shown only when the build fails;
    # a progress line every hundred steps.
    if ! (set -o pipefail && cd "$work/qtbase" &&
      cmake --build . --parallel "$jobs" 2>&1 | tee build.log |
      awk -F'[][/]' '/^\[[0-9]+\/[0-9]+\]/ && $2 % 100 == 0 { print "   qtbase " $2 "/" $3; fflush() }' &&
      cmake --install . >/dev/null); then
      tail -n 80 "$work/qtbase/build.log" >&2
      return 1
    fi
    touch "$prefix/qt/.qtbase"
  fi
  rm -rf "$work" "$sources"
  touch "$prefix/.complete"
}

# keldra_configure_windows_build PREFIX BUILD_DIR: the cross build of this clone (tests included,
# so scripts/test-windows builds them in the same tree).
keldra_configure_windows_build() {
  local prefix=$1 dir=$2 root
  root=$(keldra_root)
  # Another toolchain cache (a new key) means another Qt: configure afresh.
  if ! grep -qx "KELDRA_MINGW_PREFIX:UNINITIALIZED=$prefix" "$dir/CMakeCache.txt" 2>/dev/null; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  fi
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELDRA_BUILD_TESTS=ON \
      -DCMAKE_TOOLCHAIN_FILE="$KELDRA_TOOLCHAIN_FILE" -DKELDRA_MINGW_PREFIX="$prefix" \
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$KELDRA_QT_HOST_CMAKE_DIR" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$KELDRA_WINE" >/dev/null
  fi
}

# The folders MinGW-w64's runtime DLLs live in (libstdc++, libgcc_s, libwinpthread).
keldra_mingw_runtime_dirs() {
  dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)"
  echo "/usr/$KELDRA_MINGW_TRIPLET/lib"
}

# Prints the DLLs a Windows binary imports.
keldra_imported_dlls() {
  x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p'
}

# keldra_copy_dll_closure DEST SEARCH_DIRS... < binaries: copies every DLL the binaries need,
# directly or through another copied DLL, that is found in SEARCH_DIRS (Windows' own are not).
keldra_copy_dll_closure() {
  local dest=$1 binary dll dir
  shift
  local -a queue
  mapfile -t queue
  local -A seen=()
  while [ ${#queue[@]} -gt 0 ]; do
    binary=${queue[0]}
    queue=("${queue[@]:1}")
    while read -r dll; do
      [ -n "$dll" ] && [ -z "${seen[${dll,,}]:-}" ] || continue
      seen[${dll,,}]=1
      for dir in "$@"; do
        if [ -f "$dir/$dll" ]; then
          cp "$dir/$dll" "$dest/$dll"
          queue+=("$dest/$dll")
          break
        fi
      done
    done < <(keldra_imported_dlls "$binary")
  done
}

KELDRA_WINE=/usr/lib/wine/wine64

# keldra_wine_env BUILD_DIR: a private Wine prefix inside the cross build, quiet, without the
# dialogs Wine shows on first start. Wine hands Qt variables over only with a WINE prefix.
keldra_wine_env() {
  export WINEPREFIX=$1/wine-prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$KELDRA_WINE" wineboot --init >/dev/null 2>&1
    /usr/lib/wine/wineserver -w
  fi
}

# Z:\... path of a Unix path, as Wine's programs see it.
keldra_wine_path() {
  local path=$1
  echo "Z:${path//\//\\}"
}

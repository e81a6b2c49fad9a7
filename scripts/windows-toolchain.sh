#!/usr/bin/env bash
# The Windows cross toolchain: Debian's mingw-w64 and Wine, plus a static Qt and libjpeg built
# from Debian's own source packages. Sourced after setup.sh; sets QT_WIN_PREFIX and
# JPEG_WIN_PREFIX. Each build is cached under $KOLVANE_CACHE, keyed by version, compiler and
# configuration; a stamp written only after every step succeeded marks it usable, so a failed
# or interrupted build starts again from scratch and only the first run on a machine pays.

WINDOWS_PACKAGES="g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    dpkg-dev wine wine64 socat"
KOLVANE_CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/kolvane"
MINGW_TOOLCHAIN="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/cmake/mingw-w64.cmake"

QT_WIN_OPTIONS=(
    -DBUILD_SHARED_LIBS=OFF -DCMAKE_BUILD_TYPE=Release
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    # Debian's repacked source lacks the tablet header the windows plugin would include.
    -DFEATURE_tabletevent=OFF
    # FEATURE_opengl=OFF would leave dynamicgl on, which the windows plugin cannot build.
    -DINPUT_opengl=no
    -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF -DFEATURE_jpeg=OFF
    # Network for the local socket an owner of the port serves, without TLS: Schannel is
    # Windows' own TLS and would otherwise be built even with SSL off.
    -DFEATURE_ssl=OFF -DFEATURE_schannel=OFF -DINPUT_openssl=no
    # Never used: the Direct2D platform plugin, GIF and ICO images (the icon is PNG). The
    # DirectWrite 3 font database is only ever chosen by a platform option, and without
    # Direct2D Qt 6.4 leaves it out of Gui but still calls it from the windows plugin.
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF -DFEATURE_gif=OFF -DFEATURE_ico=OFF
    # Lets the exe's link drop whatever of Qt it does not call.
    "-DCMAKE_C_FLAGS=-ffunction-sections -fdata-sections"
    "-DCMAKE_CXX_FLAGS=-ffunction-sections -fdata-sections"
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
)
JPEG_WIN_OPTIONS=(
    -DCMAKE_BUILD_TYPE=Release -DENABLE_SHARED=OFF -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF
)

# Short fingerprint of everything that changes a build's output besides the source version.
build_key() {
    {
        x86_64-w64-mingw32-g++-posix -dumpfullversion
        cat "$MINGW_TOOLCHAIN"
        printf '%s\n' "$@"
    } | sha256sum | cut -c1-12
}

# Downloads and unpacks a Debian source package into $2 through a private source list made
# from the machine's own suites, so that the machine's apt configuration stays as it is.
fetch_source() {
    local package="$1" dest="$2" apt="$KOLVANE_CACHE/apt"
    mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
    : >"$apt/sources.list"
    rm -f "$apt/sources.list.d/"*
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" >>"$apt/sources.list"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt/sources.list.d/$(basename "$f")"
    done
    local opts=(
        -o "Dir::Etc::sourcelist=$apt/sources.list" -o "Dir::Etc::sourceparts=$apt/sources.list.d"
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
        -o "APT::Sandbox::User=$(id -un)" -o Debug::NoLocking=1
    )
    apt-get "${opts[@]}" update -qq
    rm -rf "$dest" && mkdir -p "$dest"
    (cd "$dest" && apt-get "${opts[@]}" source -qq --only-source "$package" >/dev/null 2>&1) ||
        { echo "apt-get source $package failed" >&2; return 1; }
}

# Runs "$2..." to build into $1 unless a finished build is already there; one builder at a time.
cached_build() {
    local prefix="$1"
    shift
    [ -f "$prefix/.installed" ] && return 0
    mkdir -p "$KOLVANE_CACHE"
    (
        flock 9
        [ -f "$prefix/.installed" ] && exit 0
        rm -rf "$prefix"
        "$@" || exit 1
        touch "$prefix/.installed"
    ) 9>"$prefix.lock"
}

source_version() {
    dpkg-query -W -f='${source:Version}' "$1"
}

upstream_version() {
    local v="${1#*:}"
    v="${v%-*}"
    echo "${v%+*}"
}

build_windows_jpeg() {
    local prefix="$1" work="$KOLVANE_CACHE/work/jpeg"
    echo "Building libjpeg for Windows into $prefix"
    # Chained: a function run as "cmd || ..." would not stop at a failing step under set -e.
    fetch_source "libjpeg-turbo=$(source_version libjpeg62-turbo-dev)" "$work" &&
        cmake -G Ninja -S "$(echo "$work"/libjpeg-turbo-*/)" -B "$work/build" \
            -DCMAKE_TOOLCHAIN_FILE="$MINGW_TOOLCHAIN" -DCMAKE_INSTALL_PREFIX="$prefix" -Wno-dev \
            "${JPEG_WIN_OPTIONS[@]}" >/dev/null &&
        cmake --build "$work/build" --parallel "$(nproc)" >/dev/null &&
        cmake --install "$work/build" >/dev/null &&
        rm -rf "$work"
}

build_windows_qt() {
    local prefix="$1" work="$KOLVANE_CACHE/work/qt"
    echo "Building Qt for Windows into $prefix (about 20 minutes on two cores, once)"
    fetch_source "qt6-base=$(source_version qt6-base-dev)" "$work" &&
        mkdir -p "$prefix" &&
        # Qt remembers its toolchain file; keep a copy beside it that outlives the checkout.
        cp "$MINGW_TOOLCHAIN" "$prefix/mingw-w64.cmake" &&
        cmake -G Ninja -S "$(echo "$work"/qt6-base-*/)" -B "$work/build" \
            -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-w64.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
            -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(gcc -print-multiarch)/cmake" \
            "${QT_WIN_OPTIONS[@]}" >"$work/configure.log" &&
        cmake --build "$work/build" --parallel "$(nproc)" >"$work/build.log" &&
        cmake --install "$work/build" >/dev/null &&
        rm -rf "$work" ||
        { echo "Qt build failed; see $work" >&2; return 1; }
}

windows_prefixes() {
    JPEG_WIN_PREFIX="$KOLVANE_CACHE/jpeg-$(upstream_version "$(source_version libjpeg62-turbo-dev)")-$(build_key "${JPEG_WIN_OPTIONS[@]}")"
    QT_WIN_PREFIX="$KOLVANE_CACHE/qt-$(upstream_version "$(source_version qt6-base-dev)")-$(build_key "${QT_WIN_OPTIONS[@]}")"
}

# Whether both builds are already in the cache (false before the cross compiler is there).
windows_toolchain_cached() {
    command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
        dpkg-query -W qt6-base-dev libjpeg62-turbo-dev >/dev/null 2>&1 || return 1
    windows_prefixes
    [ -f "$QT_WIN_PREFIX/.installed" ] && [ -f "$JPEG_WIN_PREFIX/.installed" ]
}

windows_toolchain() {
    windows_prefixes
    cached_build "$JPEG_WIN_PREFIX" build_windows_jpeg "$JPEG_WIN_PREFIX"
    cached_build "$QT_WIN_PREFIX" build_windows_qt "$QT_WIN_PREFIX"
}

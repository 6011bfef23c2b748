#!/usr/bin/env bash
# Installs what Orvello needs on Debian 12, builds it, and runs it, its tests or its benchmarks.
#   ./setup.sh run            install, build, start the program
#   ./setup.sh test           install, build, run the whole test suite
#   ./setup.sh test-sanitize  the same with AddressSanitizer and UndefinedBehaviorSanitizer
#   ./setup.sh test-thread    the core, the transfer and the scheduler tests with ThreadSanitizer
#   ./setup.sh package        install, build, make the Debian package build/orvello_*.deb
#   ./setup.sh bench          install, build, run the download benchmark
#   ./setup.sh fuzz [seconds] install clang, build the fuzz targets, run each (60 s by default)
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-declarative-dev qt6-qpa-plugins libgl-dev
    qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtqml-workerscript
    qml6-module-qtqml qt6-declarative-dev-tools
    libcurl4-openssl-dev libxml2-dev libssl-dev libgtest-dev libgmock-dev
    nginx-light curl openssl ffmpeg
    xvfb libgl1-mesa-dri
    clang-format
    dpkg-dev file desktop-file-utils appstream
)

# The Debian package (`./setup.sh package`) is made by cpack, which finds the programs with
# `file` and their libraries with dpkg-dev's dpkg-shlibdeps; its test checks the desktop entry
# and the AppStream file with desktop-file-utils and appstream. lintian checks the package
# too when it is installed; it is left out here for its size (over a hundred Perl
# packages): apt-get install lintian to have it.

# The fuzz targets need clang and its sanitizer and libFuzzer runtimes.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

install_missing() { # install_missing [packages...] (the build's packages by default)
    local missing=() p
    [ $# -eq 0 ] && set -- "${PACKAGES[@]}"
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

configure() { # configure <dir> [cmake options...]
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

build() { # build <dir> [cmake options...]: everything, tests and benchmarks included
    configure "$@"
    cmake --build "$1" -j"$(nproc)"
}

cmd=${1:-run}
install_missing
case "$cmd" in
run)
    # The program alone (its target copies the surface's files and the help page beside it).
    configure build
    cmake --build build --target orvello -j"$(nproc)"
    exec ./build/orvello
    ;;
test)
    build build -DORVELLO_WERROR=ON
    ctest --test-dir build --output-on-failure
    ;;
test-sanitize)
    build build-sanitize -DORVELLO_SANITIZE=ON -DORVELLO_BUILD_BENCH=OFF -DORVELLO_WERROR=ON
    ctest --test-dir build-sanitize --output-on-failure
    ;;
test-thread)
    build build-tsan -DORVELLO_TSAN=ON
    ctest --test-dir build-tsan --output-on-failure
    ;;
package)
    build build
    (cd build && cpack -G DEB)
    ;;
bench)
    build build
    ./build/bench/download_bench "${@:2}"
    ;;
fuzz)
    install_missing "${FUZZ_PACKAGES[@]}"
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DORVELLO_FUZZ=ON -DORVELLO_BUILD_TESTS=OFF -DORVELLO_BUILD_BENCH=OFF >/dev/null
    cmake --build build-fuzz --target orvello_fuzzers -j"$(nproc)"
    exec fuzz/run.sh "${2:-60}"
    ;;
*)
    echo "usage: $0 run|test|test-sanitize|test-thread|package|bench|fuzz [seconds]" >&2
    exit 2
    ;;
esac

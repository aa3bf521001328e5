#!/usr/bin/env bash
# Prepares a Debian 12 (Qt 6.4) or Debian 13 (Qt 6.8) machine and builds the
# console in build/.
#   tools/preparar.sh            packages to build and run, then the build
#   tools/preparar.sh --pruebas  also the tests, and the packages they need (a
#                                virtual X server, a window manager, the X tools,
#                                a headless Wayland compositor with Xwayland,
#                                the accessibility bus and a client of it)
# Packages already present are not installed again. Needs root or sudo only
# when something is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake qt6-base-dev libgl-dev fonts-dejavu-core
          dpkg-dev file gcc-avr avr-libc)
build_options=()
if [[ "${1:-}" == "--pruebas" ]]; then
    packages+=(libgtest-dev xvfb openbox xdotool x11-utils imagemagick
               desktop-file-utils lintian appstream man-db weston xwayland qt6-wayland
               pkg-config python3 dbus-daemon at-spi2-core python3-pyatspi
               simavr libsimavr-dev)
    build_options+=(-DVELANTRO_TESTS=ON)
fi
if [[ -n "${VELANTRO_CMAKE_OPTIONS:-}" ]]; then
    read -r -a extra_options <<< "$VELANTRO_CMAKE_OPTIONS"
    build_options+=("${extra_options[@]}")
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if ((${#missing[@]})); then
    echo "Instalando: ${missing[*]}"
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then
        sudo_cmd=(sudo)
    fi
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi

cmake -S . -B build "${build_options[@]}"
cmake --build build -j "$(nproc)"

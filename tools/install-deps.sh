#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and ./run need. As root it installs what is
# missing with apt-get; otherwise it names the missing packages and fails.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-svg-dev
    freetds-dev freetds-bin unixodbc-dev tdsodbc
    python3 python3-tds
    libjtds-java default-jre-headless default-jdk-headless
    zlib1g-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang
    xvfb xauth imagemagick
    fonts-wine fonts-liberation fonts-dejavu-core
    g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest wine wine64 locales
    dpkg-dev xdotool
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need
# (Qt 6 and Qt 5 both, the manual pages, the package and its checks), only
# when some are missing; with --windows, also those of the Windows build.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    libelf-dev zlib1g-dev srecord binutils-arm-none-eabi
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev
    libqt6sql6-sqlite libqt6sql6-psql libqt5sql5-sqlite libqt5sql5-psql postgresql
    qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
    qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev
    qttools5-dev qttools5-dev-tools qttranslations5-l10n
    help2man dpkg-dev file desktop-file-utils appstream
    xvfb xauth
)

# --windows: also what the Windows build, its tests under Wine and its
# installer need. Wine's 64-bit half alone runs the 64-bit programs and
# installer, so no i386 architecture is added.
if [ "${1:-}" = "--windows" ]; then
    packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 nsis zip xz-utils x11-utils)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"

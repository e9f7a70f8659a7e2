#!/usr/bin/env bash
# Builds the Windows programs from Debian and makes build-win/deploy/, a
# folder that runs on a Windows machine with nothing else installed:
#   bash tools/windows/build.sh
# Qt for MinGW-w64 comes from TAMRIVO_WINDOWS_SHARED (default: ../shared/windows
# beside the repository): its prebuilt tarball is unpacked into build-win/qt,
# or, without the tarball, build-qt-mingw.sh there builds it (about 30 minutes).
# BUILD_DIR chooses another build folder; JOBS the parallel jobs.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
cd "$repo"
shared=${TAMRIVO_WINDOWS_SHARED:-$repo/../shared/windows}
build=${BUILD_DIR:-$repo/build-win}
jobs=${JOBS:-$(nproc)}
qtName=qt5.15.8-mingw-w64-x86_64
qt=$build/qt/$qtName

if [ ! -f "$qt/lib/cmake/Qt5Core/Qt5CoreConfig.cmake" ]; then
    mkdir -p "$build/qt"
    if [ -f "$shared/$qtName.tar.xz" ]; then
        echo "Unpacking $shared/$qtName.tar.xz into $build/qt"
        tar -xJf "$shared/$qtName.tar.xz" -C "$build/qt"
    elif [ -f "$shared/build-qt-mingw.sh" ]; then
        echo "No prebuilt Qt in $shared: building it (about 30 minutes)"
        PREFIX=$qt JOBS=$jobs bash "$shared/build-qt-mingw.sh"
    else
        echo "Neither $shared/$qtName.tar.xz nor build-qt-mingw.sh: set TAMRIVO_WINDOWS_SHARED" >&2
        exit 1
    fi
fi

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw-w64.cmake" \
    -DTAMRIVO_WINDOWS_QT="$qt" -DTAMRIVO_QT=5 -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$jobs" "$@"
bash tools/windows/deploy.sh "$build"

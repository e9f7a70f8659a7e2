#!/usr/bin/env bash
# Makes the Windows installer and the portable zip from BUILD/deploy:
#   bash tools/windows/package.sh [BUILD]      (default build-win)
# giving BUILD/Tamrivo-<version>-setup.exe and
# BUILD/Tamrivo-<version>-windows-x64.zip, the version being CMake's.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build-win}" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
deploy=$build/deploy
[ -n "$version" ] && [ -f "$deploy/tamrivo.exe" ] || { echo "no $deploy: run tools/windows/build.sh" >&2; exit 1; }

# The uninstaller removes exactly the files the installer carries: the
# list is made from the folder, files first, then folders deepest first.
{
    (cd "$deploy" && find . -type f | sort) | while read -r f; do
        f=${f#./}; echo "  Delete \"\$INSTDIR\\${f//\//\\}\""
    done
    (cd "$deploy" && find . -mindepth 1 -type d | sort -r) | while read -r d; do
        d=${d#./}; echo "  RMDir \"\$INSTDIR\\${d//\//\\}\""
    done
} >"$build/uninstall-files.nsh"

makensis -V2 -DVERSION="$version" -DDEPLOY="$deploy" -DOUTDIR="$build" "$repo/dist/windows/tamrivo.nsi"

zip="$build/Tamrivo-$version-windows-x64.zip"
rm -f "$zip"
# The zip unpacks into a folder of its own name.
ln -sfn deploy "$build/Tamrivo-$version"
(cd "$build" && zip -qr -9 "$zip" "Tamrivo-$version/")
rm "$build/Tamrivo-$version"
ls -l "$build/Tamrivo-$version-setup.exe" "$zip" | awk '{print $5, $9}'

#!/usr/bin/env bash
# Builds the Windows programs (tools/windows/build.sh), runs their tests
# under Wine through CTest, checks that the deploy folder runs on its own,
# makes the installer and the zip and checks the installer:
#   bash tools/windows/test.sh
# Wine runs in a prefix of its own (build-win/wineprefix) unless WINEPREFIX
# names one.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
cd "$repo"
build=${BUILD_DIR:-$repo/build-win}
export BUILD_DIR=$build
bash tools/windows/build.sh

rm -f "$build"/tests/*.log
if ! ctest --test-dir "$build" --output-on-failure -j2; then
    # QTest's own reports: standard output does not come through Wine.
    for log in "$build"/tests/*.log; do
        grep -q "^FAIL" "$log" && { echo "== $log"; grep -v "^PASS" "$log"; }
    done
    exit 1
fi

# The deploy folder alone: no DLL from the build machine's folders.
deploy=$build/deploy
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=-all WINEPATH=
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
out=$(wine "$deploy/tamrivo-cli.exe" --version | tr -d '\r')
[ "$out" = "tamrivo-cli $version" ] || { echo "deploy: tamrivo-cli.exe --version said '$out'" >&2; exit 1; }
out=$(wine "$deploy/tamrivo.exe" --version | tr -d '\r')
[ "$out" = "tamrivo $version" ] || { echo "deploy: tamrivo.exe --version said '$out'" >&2; exit 1; }
# The window on a virtual display through Windows' own platform plugin:
# still up after 10 s, with the plugin and the style from the folder.
log=$build/deploy-window.log
xvfb-run -a bash -c "WINEDEBUG=-all,+loaddll wine '$deploy/tamrivo.exe' --lang ru >'$log' 2>&1 & pid=\$!
    sleep 10; kill -0 \$pid && up=1; kill \$pid; wineserver -k; [ -n \"\${up:-}\" ]" ||
    { echo "deploy: the window did not stay up (see $log)" >&2; exit 1; }
for dll in 'platforms\\qwindows.dll' 'styles\\qwindowsvistastyle.dll'; do
    grep -qF "deploy\\\\$dll" "$log" || { echo "deploy: the window did not load $dll from the folder" >&2; exit 1; }
done
echo "deploy: both programs run from the folder alone; the window loads qwindows.dll and the style"

bash tools/windows/package.sh "$build"
bash tools/windows/check-installer.sh "$build"

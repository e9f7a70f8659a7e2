#!/usr/bin/env bash
# Runs a Windows program under Wine the way CTest and the build run them:
#   wine-run.sh [--dlls=DIR:DIR...] [--prefix=DIR] program.exe [arguments]
# The DLL folders (Qt's, the MinGW runtime's) go on WINEPATH so that a
# program in the build tree finds them, as the deploy folder finds its own
# copies beside the program. WINEPREFIX, when set, wins over --prefix; a
# prefix that does not exist yet is made once (wineboot), even when two
# tests start together. QT_QPA_PLATFORM and the rest of the environment
# pass through as given.
set -euo pipefail

dlls="" prefix="$HOME/.wine"
while [ $# -gt 0 ]; do
    case $1 in
        --dlls=*) dlls=${1#--dlls=}; shift ;;
        --prefix=*) prefix=${1#--prefix=}; shift ;;
        *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--dlls=DIR:DIR...] [--prefix=DIR] program.exe [arguments]" >&2; exit 2; }

export WINEPREFIX=${WINEPREFIX:-$prefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No "install Mono/Gecko?" questions and no crash dialogs in a test run.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        [ -f "$WINEPREFIX/system.reg" ] || wine wineboot -i >/dev/null 2>&1
        wineserver -w
    ) 9>"$WINEPREFIX.lock"
fi

# Wine reads WINEPATH as Windows paths: Z: is the root of the Unix tree.
winepath=""
IFS=: read -ra dirs <<<"$dlls"
for d in "${dirs[@]}"; do
    [ -n "$d" ] && winepath+="Z:${d//\//\\};"
done
export WINEPATH="${winepath}${WINEPATH:-}"

exec wine "$@"

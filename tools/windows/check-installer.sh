#!/usr/bin/env bash
# Installs BUILD/Tamrivo-<version>-setup.exe silently under Wine, runs the
# installed tamrivo-cli.exe, uninstalls silently and checks that the
# files, the shortcuts and the uninstall key have gone:
#   bash tools/windows/check-installer.sh [BUILD]      (default build-win)
# In a Wine prefix of its own (BUILD/wineprefix-installer, made afresh), so
# that no earlier install can make it pass.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build-win}" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
setup=$build/Tamrivo-$version-setup.exe
[ -f "$setup" ] || { echo "no $setup: run tools/windows/package.sh" >&2; exit 1; }

export WINEPREFIX=$build/wineprefix-installer WINEDEBUG=-all WINEPATH=
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
wine wineboot -i >/dev/null 2>&1
wineserver -w

dir="$WINEPREFIX/drive_c/Program Files/Tamrivo"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tamrivo"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tamrivo'
fail() { echo "installer check: $*" >&2; exit 1; }

wine "$setup" /S
wineserver -w
[ -f "$dir/tamrivo.exe" ] && [ -f "$dir/platforms/qwindows.dll" ] || fail "nothing installed in $dir"
[ -f "$menu/Tamrivo.lnk" ] && [ -f "$menu/Uninstall Tamrivo.lnk" ] || fail "no Start menu shortcuts in $menu"
wine reg query "$key" /v DisplayVersion /reg:64 2>/dev/null | grep -q "$version" || fail "no uninstall key $key with $version"
out=$(wine "C:\\Program Files\\Tamrivo\\tamrivo-cli.exe" --version | tr -d '\r')
[ "$out" = "tamrivo-cli $version" ] || fail "installed tamrivo-cli.exe --version said '$out'"
echo "installed: $(find "$dir" -type f | wc -l) files; tamrivo-cli.exe --version: $out"

# _?= runs the uninstaller where it is, so that Wine returns when it is
# done (it otherwise copies itself to a temporary folder and returns at
# once); it may then be unable to remove itself, and so the folder.
wine "C:\\Program Files\\Tamrivo\\uninstall.exe" /S "_?=C:\\Program Files\\Tamrivo"
wineserver -w
left=""
[ ! -d "$dir" ] || left=$(cd "$dir" && find . -mindepth 1 ! -name uninstall.exe | sort)
[ -z "$left" ] || fail "the uninstaller left: $left"
[ ! -e "$menu" ] || fail "the uninstaller left the Start menu folder $menu"
! wine reg query "$key" /reg:64 >/dev/null 2>&1 || fail "the uninstaller left the key $key"
echo "uninstalled: files, shortcuts and key removed"
wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"

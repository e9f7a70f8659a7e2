#!/usr/bin/env bash
# Makes BUILD/deploy/: the Windows programs with every DLL and Qt plugin
# they load, so that the folder runs on a Windows machine with nothing else
# installed (and is what the installer and the zip carry):
#   bash tools/windows/deploy.sh [BUILD]     (default build-win)
# The DLLs are found by reading each program's and plugin's import table,
# so a library the programs start to use comes along by itself.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build-win}" && pwd)
cache=$build/CMakeCache.txt
value() { sed -n "s/^$1:[A-Z]*=//p" "$cache"; }
qt=$(value TAMRIVO_WINDOWS_QT)
[ -d "$qt" ] || { echo "$build was not configured with the MinGW toolchain (no TAMRIVO_WINDOWS_QT)" >&2; exit 1; }
mingw=x86_64-w64-mingw32
runtime=$(dirname "$($mingw-g++-posix -print-libgcc-file-name)")
dllDirs=("$qt/bin" "$runtime" "/usr/$mingw/lib")
deploy=$build/deploy

rm -rf "$deploy"
mkdir -p "$deploy/platforms" "$deploy/styles" "$deploy/sqldrivers" "$deploy/translations"

for program in tamrivo tamrivo-cli; do
    [ -f "$build/bin/$program.exe" ] || { echo "$build/bin/$program.exe is not built" >&2; exit 1; }
    $mingw-strip -o "$deploy/$program.exe" "$build/bin/$program.exe"
done
# The window's platform and style (the native look), and the record
# store's SQLite driver. No image format plugin: the icons are PNG, which
# Qt reads by itself, and the program's icon is a Windows resource.
cp "$qt/plugins/platforms/qwindows.dll" "$deploy/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$deploy/styles/"
cp "$qt/plugins/sqldrivers/qsqlite.dll" "$deploy/sqldrivers/"

# Every DLL that a file in the folder imports and that is ours to ship
# (Windows' own are not in these folders), until nothing new turns up.
declare -A shipped=()
pending=("$deploy"/*.exe "$deploy"/*/*.dll)
while [ ${#pending[@]} -gt 0 ]; do
    file=${pending[0]}
    pending=("${pending[@]:1}")
    while read -r dll; do
        key=${dll,,}
        [ -n "${shipped[$key]:-}" ] && continue
        for dir in "${dllDirs[@]}"; do
            if [ -f "$dir/$dll" ]; then
                cp "$dir/$dll" "$deploy/"
                shipped[$key]=1
                pending+=("$deploy/$dll")
                break
            fi
        done
    done < <($mingw-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
done

# Qt looks for its plugins beside the program and for its own texts in
# translations/. Ours are inside the program; Qt's Russian ones come from
# the build machine's Qt of the same version.
printf '[Paths]\nPrefix = .\nPlugins = .\nTranslations = translations\n' >"$deploy/qt.conf"
hostQm=${TAMRIVO_QT_TRANSLATIONS:-/usr/share/qt5/translations}
for qm in qtbase_ru.qm qtserialport_ru.qm; do
    if [ -f "$hostQm/$qm" ]; then
        cp "$hostQm/$qm" "$deploy/translations/"
    else
        echo "warning: no $hostQm/$qm (Debian qttranslations5-l10n): Qt's own buttons stay English" >&2
    fi
done

echo "deploy: $deploy ($(du -sh "$deploy" | cut -f1)): $(cd "$deploy" && find . -type f | sort | tr '\n' ' ')"

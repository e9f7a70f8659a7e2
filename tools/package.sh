#!/usr/bin/env bash
# Makes the Debian package in a build directory and checks it: the files it
# holds, its control fields, the menu entry, the AppStream metadata and the
# manual pages. With --install it also installs the package through apt,
# runs the installed programs and removes the package again.
#   bash tools/package.sh [--install] [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
install=no
if [ "${1:-}" = --install ]; then install=yes; shift; fi
build=${1:-build}
app=example.ostrel.Tamrivo

(cd "$build" && rm -f tamrivo_*.deb && cpack -G DEB >/dev/null)
debs=("$build"/tamrivo_*_*.deb)
deb=${debs[0]}
echo "== $deb"
dpkg-deb -c "$deb"
dpkg-deb -f "$deb" Package Version Architecture Section Maintainer Depends Recommends

# Computed dependencies name the C library; without them the list would be
# only what the build wrote by hand.
[[ $(dpkg-deb -f "$deb" Depends) == *"libc6 (>="* ]] || { echo "no computed dependencies" >&2; exit 1; }

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
for file in usr/bin/tamrivo usr/bin/tamrivo-cli usr/bin/tamrivo-loader-sim \
        usr/share/applications/$app.desktop usr/share/metainfo/$app.metainfo.xml \
        usr/share/icons/hicolor/scalable/apps/$app.svg usr/share/icons/hicolor/128x128/apps/$app.png \
        usr/share/man/man1/tamrivo.1.gz usr/share/man/man1/tamrivo-cli.1.gz \
        usr/share/man/man1/tamrivo-loader-sim.1.gz; do
    [ -s "$tree/$file" ] || { echo "missing from the package: /$file" >&2; exit 1; }
done
[[ $(file "$tree/usr/share/icons/hicolor/128x128/apps/$app.png") == *"128 x 128"* ]] \
    || { echo "the 128x128 icon is not 128 by 128" >&2; exit 1; }

echo "== desktop-file-validate"
desktop-file-validate "$tree/usr/share/applications/$app.desktop"
echo "$app.desktop: valid"
echo "== appstreamcli validate"
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$tree/usr/share/metainfo/$app.metainfo.xml"
else
    echo "appstreamcli not installed: skipped"
fi
echo "== manual pages"
# lexgrog reads each page's NAME line as whatis and apropos will.
for page in "$tree"/usr/share/man/man1/*.1.gz; do
    MANWIDTH=80 man -l "$page" >/dev/null
    lexgrog "$page" | sed "s|^$tree/||"
done

[ "$install" = yes ] || exit 0
echo "== install, run, remove"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
trap 'rm -rf "$tree"; $sudo apt-get purge -y tamrivo >/dev/null 2>&1 || true' EXIT
(cd "$build" && $sudo apt-get install -y -q ./tamrivo_*_*.deb)
/usr/bin/tamrivo-cli --version
# A job recorded in an SQLite store and the report read back, through the
# driver the package pulls in, against the packaged simulator.
store=$(mktemp -d)
/usr/bin/tamrivo-loader-sim --link "$store/port" > "$store/sim.out" &
sim=$!
for _ in $(seq 100); do [ ! -s "$store/sim.out" ] || break; sleep 0.05; done
/usr/bin/tamrivo-cli --port "$store/port" --db "sqlite:$store/records.sqlite" --journal "$store/journal" info
/usr/bin/tamrivo-cli --db "sqlite:$store/records.sqlite" --journal "$store/journal" report --counts
kill "$sim" && wait "$sim" || true
rm -rf "$store"
/usr/bin/tamrivo-loader-sim --help >/dev/null && echo "tamrivo-loader-sim --help: ok"
/usr/bin/tamrivo --version
man -w tamrivo tamrivo-cli tamrivo-loader-sim
$sudo apt-get purge -y -q tamrivo
if [[ $(dpkg-query -W -f='${Status}' tamrivo 2>/dev/null || true) == *" installed" ]]; then
    echo "tamrivo is still installed" >&2
    exit 1
fi
echo "package installed, run and removed"

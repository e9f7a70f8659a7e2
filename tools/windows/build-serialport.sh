#!/bin/bash
# Builds Qt Serial Port 5.15.8 for Windows (MinGW-w64) with the comm-event
# patch beside this script, against an installed cross Qt, into a prefix of
# its own: OUT/bin/Qt5SerialPort.dll replaces the Qt prefix's DLL beside a
# program (same exported API; only the Windows backend's insides change).
#
#   tools/windows/build-serialport.sh QT_PREFIX OUT_PREFIX
#
# QT_PREFIX is the cross Qt (its bin/qmake a Linux program that targets
# win32-g++). The source tarball is taken from $SERIALPORT_TARBALL, else from
# shared/windows/ beside the checkout. Run again, it starts from a fresh tree,
# so a changed patch is always applied to the pristine source.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 QT_PREFIX OUT_PREFIX" >&2
    exit 2
fi
qt=$(cd "$1" && pwd)
out=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
patch_file="$here/qtserialport-5.15.8-commevent.patch"
tarball=${SERIALPORT_TARBALL:-}
if [ -z "$tarball" ]; then
    for candidate in "$here/../../../shared/windows" "$here/../../shared/windows" /work/shared/windows; do
        if [ -f "$candidate/qtserialport-everywhere-src-5.15.8.tar.xz" ]; then
            tarball="$candidate/qtserialport-everywhere-src-5.15.8.tar.xz"
            break
        fi
    done
fi
if [ ! -f "$tarball" ]; then
    echo "qtserialport-everywhere-src-5.15.8.tar.xz not found; set SERIALPORT_TARBALL" >&2
    exit 1
fi
jobs=${JOBS:-2}

work="$out/.build"
rm -rf "$work"
mkdir -p "$work"
tar xf "$tarball" -C "$work"
src="$work/qtserialport-everywhere-src-5.15.8"
patch -d "$src" -p1 --forward --quiet < "$patch_file"
# A tree without the module's generated headers (one taken from git) gets them.
if [ ! -f "$src/include/QtSerialPort/qserialport.h" ]; then
    (cd "$src" && perl "$qt/bin/syncqt.pl" -module QtSerialPort -version 5.15.8 -outdir "$src" "$src" >/dev/null)
fi

mkdir -p "$work/build"
cd "$work/build"
# qmake on the module's top level: only there does it know the module's output
# folders (a sub-project alone would link into /lib and /bin). Only the
# library is built, not the examples or tests.
"$qt/bin/qmake" "$src" >qmake.log 2>&1 || { cat qmake.log >&2; exit 1; }
nice make -j"$jobs" sub-src >make.log 2>&1 || { tail -40 make.log >&2; exit 1; }

dll="$work/build/bin/Qt5SerialPort.dll"
implib="$work/build/lib/libQt5SerialPort.a"
if [ ! -f "$dll" ] || [ ! -f "$implib" ]; then
    echo "the build made no Qt5SerialPort.dll" >&2
    exit 1
fi
mkdir -p "$out/bin" "$out/lib"
cp "$dll" "$out/bin/"
cp "$implib" "$out/lib/"
cp "$patch_file" "$out/"
echo "patched Qt Serial Port: $out/bin/Qt5SerialPort.dll"

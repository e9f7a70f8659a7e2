#!/usr/bin/env bash
# Renders the tool bar icons and the Windows program icon from their SVG
# sources (needs librsvg2-bin and imagemagick): bash resources/svg/render.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
for name in connect disconnect about verify save; do
    rsvg-convert -w 128 -h 128 "$here/$name.svg" -o "$here/../rec/$name.png"
done
rsvg-convert -w 64 -h 64 "$here/connect.svg" -o /tmp/tamrivo-icon-64.png
convert /tmp/tamrivo-icon-64.png -define icon:auto-resize=64 "$here/../tamrivo.ico"

#!/bin/sh
# Regenerates sample.bine, the image the README's run command writes to the
# simulated device. It looks like a small Cortex-M application: a vector
# table (initial stack pointer, then Thumb entry points with bit 0 set),
# code-like filler, a version string, and a few erased-looking 0xFF bytes
# at the end, so the verify pass has real variety to compare. The output
# is the same on every run, so the committed file can be checked with
#   sh examples/make-sample.sh /tmp/s.bine && cmp /tmp/s.bine examples/sample.bine
set -eu
out=${1:-"$(dirname "$0")/sample.bine"}
python3 - "$out" <<'PY'
import struct, sys

base = 0x08003000
size = 6 * 1024 + 200                 # a few pages and a short last block
image = bytearray()
image += struct.pack("<I", 0x20005000)            # initial stack pointer
for i in range(47):                               # reset and handler vectors
    image += struct.pack("<I", (base + 0x200 + 8 * i) | 1)
seed = 0x1234ABCD
while len(image) < size - 64:
    seed = (seed * 1103515245 + 12345) & 0xFFFFFFFF
    image += struct.pack("<H", 0xB000 | (seed >> 20) & 0x0FFF)  # Thumb-ish halfwords
image = image[:size - 64]
image += b"tamrivo sample image 1.0\0".ljust(48, b"\0")
image += b"\xff" * 16
open(sys.argv[1], "wb").write(bytes(image))
PY

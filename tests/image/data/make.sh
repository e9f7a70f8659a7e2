#!/usr/bin/env bash
# Makes the image test files with real tools (srec_cat, GNU binutils), never
# with our own writer. Needs srecord, binutils-arm-none-eabi and binutils.
set -euo pipefail
cd "$(dirname "$0")"

# 1000 bytes that are neither zero nor 0xFF; the text files hold them with
# a gap at 0x180-0x1FF.
perl -e 'print pack("C*", map { ($_ * 37 + 11) % 251 + 1 } 0 .. 999)' > src.bin
perl -e 'open my $f, "<", "src.bin"; local $/; $_ = <$f>; substr($_, 0x180, 0x80) = "\0" x 0x80; print' > src-gap.bin
head -c 768 src.bin > src-300.bin

gaps() { srec_cat src.bin -binary -exclude 0x180 0x200 -offset "$1" -o "$2" "${@:3}" -header tamrivo; }
gaps 0x0800FF80 gaps.hex -intel                          # 04 records, crossing 64 KiB
gaps 0x0800FF80 gaps-crlf.ihex -intel -crlf
gaps 0x0002FF80 gaps-seg.ihx -intel -address-length=3    # 02 segment records
# srec_cat writes the S7/S8/S9 termination only with a start address.
gaps 0x1000 gaps.s19 -motorola -execution-start-address=0x1000
gaps 0x00FFFE00 gaps.s28 -motorola -address-length=3 -execution-start-address=0x00FFFE00
gaps 0x0800FF80 gaps.s37 -motorola -address-length=4 -execution-start-address=0x0800FF80
gaps 0xFFFFFC18 top.hex -intel                           # last byte at 0xFFFFFFFF
gaps 0xFFFFFC18 top.srec -motorola -execution-start-address=0xFFFFFC18
# Without one it ends the file in its S5 count record.
gaps 0x0800FF80 gaps-count.s37 -motorola -address-length=4
# Two overlapping pieces that agree; the end record of the first is dropped.
srec_cat src.bin -binary -crop 0 0x200 -offset 0x08000000 -o - -intel | grep -v ':00000001FF' > overlap.hex
srec_cat src.bin -binary -crop 0x100 0x300 -offset 0x08000000 -o - -intel >> overlap.hex

as_arm() { arm-none-eabi-as -mcpu=cortex-m3 -mthumb "$@"; }
as_arm tiny.s -o tiny.o
arm-none-eabi-ld -n --no-warn-rwx-segments -T tiny.ld tiny.o -o tiny.elf
arm-none-eabi-objcopy -O binary tiny.elf tiny.bin
as_arm -EB tiny.s -o tiny-be.o
arm-none-eabi-ld -EB -n --no-warn-rwx-segments -T tiny.ld tiny-be.o -o tiny-be.elf
arm-none-eabi-ld -n --no-warn-rwx-segments --no-check-sections -T clash.ld tiny.o -o clash.elf
offset=$(arm-none-eabi-readelf -lW tiny.elf | awk '$1 == "LOAD" { print $2; exit }')
head -c $((offset + 16)) tiny.elf > tiny-cut.elf
head -c 40 tiny.elf > tiny-head.elf
printf '.globl _start\n_start: ret\n' > host.s
as --64 host.s -o host64.o && ld -n host64.o -o host64.elf
as --32 host.s -o host32.o && ld -n -m elf_i386 host32.o -o host32.elf
rm -f host.s host64.o host32.o tiny-be.o

# Images for the application area of the simulated loader (0x08003000, 1 KiB
# pages): src.bin at the start, a page of which a quarter is 0xFF, and src.bin
# again from an odd address two pages on; page 0x08003800 holds nothing.
app() { srec_cat src.bin -binary -offset 0x08003000 \
        -generate 0x08003400 0x08003500 -constant 0xFF \
        src.bin -binary -offset 0x08004C01 -o "$@" -header tamrivo; }
app app.hex -intel
app app.s37 -motorola -address-length=4 -execution-start-address=0x08003000
sed 's/ORIGIN = 0x08000000/ORIGIN = 0x08003000/' tiny.ld > app.ld
arm-none-eabi-ld -n --no-warn-rwx-segments -T app.ld tiny.o -o app.elf
arm-none-eabi-objcopy -O binary app.elf app-elf.bin
rm -f app.ld

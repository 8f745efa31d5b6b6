#!/bin/sh
# Builds the cable firmware with SDCC and writes the image the library and
# the bench include: usb_jtag_firmware.inc (and the .ihx) in the output
# directory, by default firmware/generated.
set -eu
source_dir=$(cd "$(dirname "$0")" && pwd)
out_dir=${1:-$source_dir/generated}
mkdir -p "$out_dir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Program and data must stay below the descriptors at 0x07D4.
cflags="-mmcs51 --model-small --iram-size 256 --xram-size 0 --code-size 0x07D4"
for name in main control; do
  sdcc $cflags -c -I"$source_dir" "$source_dir/$name.c" -o "$work/$name.rel"
done
sdcc $cflags -c -I"$source_dir" "$source_dir/descriptors.c" -o "$work/descriptors.rel"
sdas8051 -plosgff "$work/jtag_loops.rel" "$source_dir/jtag_loops.asm"
(cd "$work" && sdcc $cflags main.rel control.rel descriptors.rel jtag_loops.rel \
  -o usb_jtag_firmware.ihx)

python3 "$source_dir/ihx_to_inc.py" "$work/usb_jtag_firmware.ihx" "$out_dir/usb_jtag_firmware.inc"
cp "$work/usb_jtag_firmware.ihx" "$out_dir/usb_jtag_firmware.ihx"

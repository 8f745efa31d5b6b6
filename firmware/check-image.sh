#!/bin/sh
# CI check: rebuilds the firmware and fails when the committed image is not
# what the sources produce.
set -eu
source_dir=$(cd "$(dirname "$0")" && pwd)
fresh=$(mktemp -d)
trap 'rm -rf "$fresh"' EXIT
"$source_dir/build.sh" "$fresh" >/dev/null
for file in usb_jtag_firmware.inc usb_jtag_firmware.ihx; do
  if ! cmp -s "$fresh/$file" "$source_dir/generated/$file"; then
    echo "firmware/generated/$file differs from a fresh build of firmware/; run firmware/build.sh and commit the result" >&2
    exit 1
  fi
done
echo "firmware image matches its sources"

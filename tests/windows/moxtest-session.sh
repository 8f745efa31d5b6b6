#!/usr/bin/env bash
# moxtest.exe under Xvfb and Wine, clicked through a session on the virtual
# board with xdotool: INIT (USB cable 0), configuration from velnor.bit,
# one SPI transfer, shutdown; a screenshot, then the end button. Checks the
# log lines the window printed and that the end button ended the program.
#   moxtest-session.sh BIN_DIR SCREENSHOT.png   (run by xvfb-run)
set -euo pipefail
bin=$1 screenshot=$2
cd "$bin"
export VELNOR_BENCH=default
"$WINELOADER" ./velnor-bitgen.exe xc2s200 velnor.bit >/dev/null 2>&1
# The Japanese captions: Wine's user-interface font (Tahoma) has no Japanese
# glyphs, so the prefix links it to a CJK font of the system (fonts-noto-cjk).
"$WINELOADER" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
  /v Tahoma /t REG_MULTI_SZ /d 'NotoSansCJK-Regular.ttc,Noto Sans CJK JP' /f >/dev/null 2>&1
log=$(mktemp)
"$WINELOADER" ./moxtest.exe >"$log" 2>/dev/null &
program=$!
window=$(timeout 60 xdotool search --sync --name "VELNOR SPI TEST" | head -n 1)

# Button centres in the client area: the twips of the layout at 15 a pixel.
click() {
  xdotool mousemove --window "$window" "$1" "$2" click 1
}
wait_for_line() {
  for _ in $(seq 100); do
    grep -q "$1" "$log" && return 0
    sleep 0.2
  done
  echo "no line '$1' in the log:"
  cat "$log"
  return 1
}
sleep 1
click 364 32   # CmdINIT
wait_for_line "INIT : err = 0"
click 364 120  # CmdConfig
wait_for_line "CONFIG : err = 0"
click 364 168  # CmdSPI_XFER
wait_for_line "SPI XFER TXD=1 RXD=.*: err = 0"
click 364 272  # CmdShutdown
wait_for_line "Shutdown : err = 0"
sleep 1
import -window root "$screenshot"
click 364 328  # CmdEnd
cat "$log"
wait "$program"
rm -f "$log"

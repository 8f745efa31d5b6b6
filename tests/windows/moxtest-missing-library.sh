#!/usr/bin/env bash
# moxtest.exe without velnor.dll beside it, under Xvfb and Wine: the click on
# INIT reports the missing library in a message box, and dismissing it ends
# the program with status 1.
#   moxtest-missing-library.sh BIN_DIR   (run by xvfb-run)
set -euo pipefail
alone=$(mktemp -d)
trap 'rm -rf "$alone"' EXIT
cp "$1/moxtest.exe" "$alone/"
cd "$alone"
"$WINELOADER" ./moxtest.exe 2>"$alone/stderr" >/dev/null &
program=$!
window=$(timeout 60 xdotool search --sync --name "VELNOR SPI TEST" | head -n 1)
sleep 1
xdotool mousemove --window "$window" 364 32 click 1   # CmdINIT
box=$(timeout 30 xdotool search --sync --name "^moxtest$" | head -n 1)
grep "the library velnor cannot be loaded" "$alone/stderr"
xdotool key --window "$box" Return
status=0
wait "$program" || status=$?
echo "moxtest ended with status $status"
[ "$status" -eq 1 ]

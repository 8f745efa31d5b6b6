#!/bin/sh
# Runs a program on a virtual X server; exit 77 (a skip) when there is none.
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run not found (Debian: xvfb, xauth): no screenshot taken"
  exit 77
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" "$@"

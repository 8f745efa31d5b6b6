#!/usr/bin/env bash
# Installs the build into a temporary prefix, moves the tree elsewhere (the
# installed files must not name their first place), then builds a C consumer
# against it through pkg-config and through find_package and runs both on
# the virtual board, runs the installed velnorctl, and imports the installed
# Python module.
#   install_test.sh BUILD_DIR C_COMPILER VERSION
set -euo pipefail
build=$1 cc=$2 version=$3
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unset LD_LIBRARY_PATH VELNOR_LIBRARY PYTHONPATH
export VELNOR_BENCH=default

cmake --install "$build" --prefix "$scratch/first" >/dev/null
mv "$scratch/first" "$scratch/prefix"
prefix=$scratch/prefix
pc=$(find "$prefix" -name velnor.pc)
libdir=$(dirname "$(dirname "$pc")")

echo "pkg-config:"
export PKG_CONFIG_PATH=$libdir/pkgconfig
test "$(pkg-config --modversion velnor)" = "$version"
# shellcheck disable=SC2046
"$cc" -Wall -Werror "$here/consumer.c" -o "$scratch/consumer" $(pkg-config --cflags --libs velnor)
LD_LIBRARY_PATH=$libdir "$scratch/consumer" "$version"

echo "find_package:"
cmake -S "$here" -B "$scratch/consumer_build" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_PREFIX_PATH="$prefix" -DVELNOR_EXPECTED_VERSION="$version" >/dev/null
cmake --build "$scratch/consumer_build" >/dev/null
"$scratch/consumer_build/velnor_consumer" "$version"

echo "velnorctl:"
"$prefix/bin/velnorctl" --cable lpt scan 2>"$scratch/stderr" | tee "$scratch/stdout"
grep -q "^virtual board: " "$scratch/stderr"
grep -q "^2 devices on the chain" "$scratch/stdout"

if command -v python3 >/dev/null; then
  echo "python:"
  PYTHONPATH=$libdir/velnor/python python3 - "$libdir" <<'PYTHON'
import os, sys
import velnor
assert os.path.dirname(velnor.load().path) == sys.argv[1], velnor.load().path
with velnor.Session("lpt") as session:
    print([device.name for device in session.scan_chain()], velnor.version())
PYTHON
fi

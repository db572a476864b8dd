#!/usr/bin/env bash
# Builds the station, lays out a demo station folder with simulated devices
# and starts the tool. Without a display it runs under Xvfb and saves a
# screenshot of the window.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup-deps.sh
# The demo has a build folder of its own, so switching between the demo and
# the tests rebuilds nothing.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
cmake -S "$root" -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DSTATION_TESTS=OFF -DSTATION_BENCHMARKS=OFF \
  -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build build-demo -j"$(nproc)"

demo="$root/build-demo/demo-station"
rm -rf "$demo"
cp -r build-demo/station "$demo"
export XDG_DATA_HOME="$root/build-demo/demo-data"
export XDG_RUNTIME_DIR="$root/build-demo/demo-run"
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# A software version directory with a 64 MB system.img holding the two
# property lines the tool reads.
package="$demo/packages/ABC_DE_V2.3"
mkdir -p "$package"
python3 - "$package/system.img" <<'PY'
import sys
with open(sys.argv[1], "wb") as f:
    f.truncate(64 * 1024 * 1024)
    f.seek(48 * 1024 * 1024)
    f.write(b"\nro.build.display.id=ABC_DE_V2.3\nro.build.sw_internal_version=ABC_DE_INT_V2.3\n")
PY
printf 'boot image for the demo\n' > "$package/boot.img"

cat > "$demo/config.ini" <<INI
[DLOption]
LANG=2
[GET_DLL_Setting]
ITEM_VERSIONFILE_PATH=$package
PORTS=3,5,7,9,12,0,0,0
INI

# Five plugged devices; the one on port 9 is in ARM mode.
simbus="$demo/tools/simbus"
"$simbus" plug 3 --imei 356938035643809 --display ABC_DE_V1.0 --internal ABC_DE_INT_V1.0 --speed 8000000
"$simbus" plug 5 --imei 356938035643817 --display ABC_DE_V1.1 --internal ABC_DE_INT_V1.1 --speed 6000000
"$simbus" plug 7 --imei 356938035643825 --display ABC_DE_V2.0 --internal ABC_DE_INT_V2.0 --speed 10000000
"$simbus" plug 9 --imei 356938035643833 --display ABC_DE_V1.0 --internal ABC_DE_INT_V1.0
"$simbus" arm 9
"$simbus" plug 12 --imei 356938035643841 --display ABC_DE_V1.2 --internal ABC_DE_INT_V1.2 --speed 4000000 --fail-at 60

echo "Demo station: $demo"
echo "Change devices while it runs, e.g.: $simbus unplug 3   $simbus ready 9   $simbus list"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$demo/VintrelStation"
fi

shot="$root/build-demo/demo-screenshot.png"
echo "No display: starting under Xvfb"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c "
  '$demo/VintrelStation' &
  app=\$!
  sleep 4
  import -window root '$shot' || xwd -root -silent | convert xwd:- '$shot'
  kill \$app
" || true
echo "Screenshot of the window: $shot"

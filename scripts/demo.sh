#!/usr/bin/env bash
# Builds the station, lays out a demo station folder with simulated devices
# and starts the tool. Without a display it runs under Xvfb and saves a
# screenshot of the window.
#
#   scripts/demo.sh            the stand-in engine and simbus devices
#   scripts/demo.sh fastboot   the fastboot engine and emulated fastboot devices
#   scripts/demo.sh usb        the fastboot engine and emulated USB fastboot
#                              devices in the sockets of an emulated hub
#   scripts/demo.sh modem      the modem engine and emulated cellular modules
#                              in the sockets of an emulated hub
#   ... dlmode                 with DLMode=1 (no version and IMEI check: the
#                              blank board is written too)
#   ... db                     also a private PostgreSQL server as the
#                              station's record database
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
mode=sim
with_db=0
dl_mode=0
for arg in "$@"; do
  case "$arg" in
    sim|fastboot|usb|modem) mode=$arg ;;
    db) with_db=1 ;;
    dlmode) dl_mode=1 ;;
    *) echo "usage: $0 [sim|fastboot|usb|modem] [dlmode] [db]" >&2; exit 2 ;;
  esac
done

# What the demo started is stopped when it ends.
cleanup=()
trap 'for c in "${cleanup[@]}"; do eval "$c"; done' EXIT

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

# What runs the window: the station's own executable, or for USB the same
# window inside a process that emulates the USB hub first.
app=("$demo/VintrelStation")

if [ "$mode" = modem ]; then
  # usb-demo --modem plugs five emulated cellular modules into sockets 1-1.1
  # to 1-1.5 of a hub: two to pass (revision ABC_DE_V1.x), one of another
  # product line (XYZ_V3.0, "Version mismatch"), in 1-1.4 a blank board in
  # download mode (no IMEI: refused unless DLMode=1), and in 1-1.5 one whose
  # chip refuses the package's programmer. The engine learns the sockets as
  # the USB demo's does, reads identity on the AT tty (interface 2),
  # switches each module to download mode with the modules' AT command,
  # writes the package over Sahara and Firehose and reads the new revision
  # back after the reset.
  usb_demo="$root/build-demo/tools/usb-demo/usb-demo"
  if [ ! -x "$usb_demo" ]; then
    echo "usb-demo was not built (umockdev missing?)" >&2
    exit 1
  fi
  if [ ! -f "$demo/engines/libModemEngine.so" ]; then
    echo "the modem engine was not built ($demo/engines/libModemEngine.so is missing)" >&2
    exit 1
  fi
  cp "$demo/engines/libModemEngine.so" "$demo/libPhoneFlashEngine.so"
  # The modem package: the programmer, rawprogram0.xml and patch0.xml, the
  # images they name, and system.img as the tool's version file (written as
  # well). modem.img carries the revision the module reports after its reset.
  package="$demo/packages/ABC_DE_V2.3-modem"
  mkdir -p "$package"
  python3 - "$package" <<'PY'
import os, random, sys
d = sys.argv[1]
rng = random.Random(2024)
def write(name, data):
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)
write("prog_firehose_demo.mbn", b"\x7fELF" + rng.randbytes(96 * 1024))
write("sbl1.img", rng.randbytes(128 * 1024))
write("modem.img", rng.randbytes(12 * 1024 * 1024) + b"\nMODEM_REVISION=ABC_DE_V2.3\n")
system = bytearray(8 * 1024 * 1024)
lines = b"\nro.build.display.id=ABC_DE_V2.3\nro.build.sw_internal_version=ABC_DE_V2.3\n"
system[4 * 1024 * 1024:4 * 1024 * 1024 + len(lines)] = lines
write("system.img", bytes(system))
program = '<program SECTOR_SIZE_IN_BYTES="512" filename="{0}" label="{1}" num_partition_sectors="{2}" ' \
          'physical_partition_number="0" start_sector="{3}"/>\n'
write("rawprogram0.xml", ('<?xml version="1.0" ?>\n<data>\n'
    + program.format("sbl1.img", "sbl1", 1024, 34)
    + program.format("modem.img", "modem", 32768, 2048)
    + program.format("system.img", "system", 32768, 34816)
    + '</data>\n').encode())
write("patch0.xml", ('<?xml version="1.0" ?>\n<data>\n'
    '<patch SECTOR_SIZE_IN_BYTES="512" byte_offset="0" filename="DISK" physical_partition_number="0" '
    'size_in_bytes="4" start_sector="1" value="CRC32(34,131072)" what="Checksum of sbl1"/>\n'
    '</data>\n').encode())
PY
  cat > "$demo/config.ini" <<INI
[DLOption]
LANG=2
DLMode=$dl_mode
[GET_DLL_Setting]
ITEM_VERSIONFILE_PATH=$package
PORTS=1,2,3,4,5,0,0,0
[MODEM_Engine]
LEARN_PORTS=1
AT_INTERFACE=2
EDL_SWITCH=at:AT+DLMODE
INI
  app=("$usb_demo" "$demo" --modem "$package")
  echo "Demo station: $demo (modem engine on emulated USB modules; storage in $demo/usb-modules/module-N/)"
  echo "Pull or put back a module while it runs: echo 'pull 2' > $demo/usb-demo.ctl   echo 'plug 2' > $demo/usb-demo.ctl"
elif [ "$mode" = usb ]; then
  # usb-demo plugs five emulated devices into sockets 1-1.1 to 1-1.5 of a
  # hub: four like the fastboot demo's (two to pass, one of another product
  # line, one whose flash of system fails) and, in 1-1.4, one in a boot-ROM
  # mode (ARM mode). No PORT keys: the engine learns each socket as the
  # lowest free number and writes it to config.ini, and PORTS binds lines 1
  # to 5 to those numbers, as an operator would in Port Config after
  # plugging one device into each socket.
  usb_demo="$root/build-demo/tools/usb-demo/usb-demo"
  if [ ! -x "$usb_demo" ]; then
    echo "usb-demo was not built (umockdev missing?)" >&2
    exit 1
  fi
  cp "$demo/engines/libFastbootEngine.so" "$demo/libPhoneFlashEngine.so"
  cat > "$demo/config.ini" <<INI
[DLOption]
LANG=2
[GET_DLL_Setting]
ITEM_VERSIONFILE_PATH=$package
PORTS=1,2,3,4,5,0,0,0
[FASTBOOT_Engine]
REBOOT=1
LEARN_PORTS=1
INI
  app=("$usb_demo" "$demo")
  echo "Demo station: $demo (fastboot engine on emulated USB; partitions in $demo/usb-devices/device-N/)"
elif [ "$mode" = fastboot ]; then
  # Five emulated fastboot devices on free loopback ports: one of another
  # product line (refused), one whose flash of system fails. A flashed
  # device reboots into its system (REBOOT=1), where it stops answering, and
  # keeps its PASS badge in sight for the engine's hold (REBOOT_HOLD_S);
  # echo 'pull <n>' > fbdevices.ctl pulls one.
  cp "$demo/engines/libFastbootEngine.so" "$demo/libPhoneFlashEngine.so"
  cat > "$demo/fbdevices.ini" <<INI
[DEVICE.1]
PORT=0
DISPLAY=ABC_DE_V1.0
INTERNAL=ABC_DE_INT_V1.0
IMEI=356938035643809
DELAY_MS_PER_MIB=60
[DEVICE.2]
PORT=0
DISPLAY=ABC_DE_V1.1
INTERNAL=ABC_DE_INT_V1.1
IMEI=356938035643817
DELAY_MS_PER_MIB=80
MAX_DOWNLOAD_SIZE=0x1000000
[DEVICE.3]
PORT=0
DISPLAY=XYZ_V3.0
INTERNAL=XYZ_INT_V3.0
IMEI=356938035643825
[DEVICE.4]
PORT=0
DISPLAY=ABC_DE_V1.0
INTERNAL=ABC_DE_INT_V1.0
IMEI=356938035643833
DELAY_MS_PER_MIB=40
[DEVICE.5]
PORT=0
DISPLAY=ABC_DE_V1.2
INTERNAL=ABC_DE_INT_V1.2
IMEI=356938035643841
DELAY_MS_PER_MIB=50
FAIL_PARTITION=system
INI
  "$demo/tools/fbdevice" "$demo/fbdevices.ini" > "$demo/fbdevices.out" &
  fbdevice_pid=$!
  cleanup+=("kill $fbdevice_pid 2>/dev/null || true")
  for _ in $(seq 50); do grep -q '^ready' "$demo/fbdevices.out" 2>/dev/null && break; sleep 0.1; done
  {
    echo "[DLOption]"; echo "LANG=2"
    echo "[GET_DLL_Setting]"; echo "ITEM_VERSIONFILE_PATH=$package"; echo "PORTS=3,5,7,9,12,0,0,0"
    echo "[FASTBOOT_Engine]"; echo "REBOOT=1"
    n=0
    for port in 3 5 7 9 12; do
      n=$((n + 1))
      echo "PORT.$port=$(awk -v n="$n" '$1 == n { print $2 }' "$demo/fbdevices.out")"
    done
  } > "$demo/config.ini"
  echo "Demo station: $demo (fastboot engine; devices: $demo/fbdevices.ini, partitions in $demo/device-N/)"
else

cat > "$demo/config.ini" <<INI
[DLOption]
LANG=2
[GET_DLL_Setting]
ITEM_VERSIONFILE_PATH=$package
PORTS=3,5,7,9,12,0,0,0
INI

# Five plugged devices; the one on port 9 is in ARM mode, and the one on
# port 7 carries the IMEI of the one on port 3 (refused as a duplicate).
simbus="$demo/tools/simbus"
"$simbus" plug 3 --imei 356938035643809 --display ABC_DE_V1.0 --internal ABC_DE_INT_V1.0 --speed 8000000
"$simbus" plug 5 --imei 356938035643817 --display ABC_DE_V1.1 --internal ABC_DE_INT_V1.1 --speed 6000000
"$simbus" plug 7 --imei 356938035643809 --display ABC_DE_V2.0 --internal ABC_DE_INT_V2.0 --speed 10000000
"$simbus" plug 9 --imei 356938035643833 --display ABC_DE_V1.0 --internal ABC_DE_INT_V1.0
"$simbus" arm 9
"$simbus" plug 12 --imei 356938035643841 --display ABC_DE_V1.2 --internal ABC_DE_INT_V1.2 --speed 4000000 --fail-at 60

echo "Demo station: $demo"
echo "Change devices while it runs, e.g.: $simbus unplug 3   $simbus ready 9   $simbus list"
fi

if [ "$with_db" = 1 ]; then
  # The record database lives beside the demo station and keeps its records
  # from one demo run to the next, as a factory's would.
  url=$(scripts/demo-db.sh start "$root/build-demo/demo-pg")
  cleanup+=("scripts/demo-db.sh stop '$root/build-demo/demo-pg'")
  printf '[RECORD_DB]\nURL=%s\n' "$url" >> "$demo/config.ini"
  echo "Record database: $url"
  echo "Shift figures while it runs: $demo/tools/station-report --since 8h"
fi

# The sockets the engine learned, once the tool has ended.
show_learned() {
  if [ "$mode" = usb ] || [ "$mode" = modem ]; then
    echo "Sockets learned into $demo/config.ini:"
    grep '^PORT\.' "$demo/config.ini" || echo "  (none)"
  fi
}

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  status=0
  "${app[@]}" || status=$?
  show_learned
  exit "$status"
fi

# Without a display the demo presses "Start All" itself once the lines are
# ready (sim: four, one device in ARM mode; fastboot: five; usb: four, one
# in a boot-ROM mode; modem: five, the blank board included), waits until
# they have ended, and takes the picture.
suffix=
[ "$dl_mode" = 1 ] && suffix=-dlmode
shot="$root/build-demo/demo-screenshot-$mode$suffix.png"
ready=4
[ "$mode" = fastboot ] || [ "$mode" = modem ] && ready=5
day_log="$XDG_DATA_HOME/vintrel-station/logs/station-$(date +%F).log"
echo "No display: starting under Xvfb, pressing Start All and waiting for the lines to end"
xvfb-run -a -s "-screen 0 1024x768x24" \
  scripts/demo-drive.sh "$shot" "$day_log" "$ready" "${url:--}" "${app[@]}" || true
echo "Screenshot of the window: $shot"
echo "The station's log of the day: $day_log"
show_learned
if [ "$with_db" = 1 ]; then
  "$demo/tools/station-report" --since 8h
fi

#!/usr/bin/env bash
# usb-demo <station folder> on a copy of the built station folder, with no
# PORT keys in config.ini: the engine must learn the hub's five sockets as
# ports 1 to 5, and the tool must show each device on the line bound to its
# socket (READY, the boot-ROM one in ARM mode) and close on its own.
set -euo pipefail
usb_demo=$1
built_station=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
station="$work/station"
cp -r "$built_station" "$station"
cp "$station/engines/libFastbootEngine.so" "$station/libPhoneFlashEngine.so"
mkdir -p "$station/pkg" "$work/data" "$work/run"
chmod 700 "$work/run"
printf '\nro.build.display.id=ABC_DE_V2.3\nro.build.sw_internal_version=ABC_DE_INT_V2.3\n' > "$station/pkg/system.img"
printf 'boot\n' > "$station/pkg/boot.img"
cat > "$station/config.ini" <<INI
[DLOption]
LANG=0
[GET_DLL_Setting]
ITEM_VERSIONFILE_PATH=$station/pkg
PORTS=1,2,3,4,5,0,0,0
[FASTBOOT_Engine]
REBOOT=0
INI

status=0
out=$(XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run" "$usb_demo" "$station" --quit-when-ready) || status=$?
echo "$out"
[ "$status" = 0 ]
grep -q '^usb-demo: all lines as expected$' <<<"$out"
grep -q '^line 4: .*Device in ARM mode' <<<"$out"
for n in 1 2 3 4 5; do
  grep -qx "PORT.$n=usb:1-1.$n" "$station/config.ini" || { echo "PORT.$n not learned:"; cat "$station/config.ini"; exit 1; }
done

#!/usr/bin/env bash
# usb-demo --modem on a copy of the built station folder with the modem
# engine and no PORT keys: the engine must learn the hub's five sockets as
# ports 1 to 5, and every module (the blank board in download mode too) must
# show READY on the line bound to its socket before the tool closes itself.
set -euo pipefail
usb_demo=$1
built_station=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
station="$work/station"
cp -r "$built_station" "$station"
cp "$station/engines/libModemEngine.so" "$station/libPhoneFlashEngine.so"
mkdir -p "$station/pkg" "$work/data" "$work/run"
chmod 700 "$work/run"
printf '\nro.build.display.id=ABC_DE_V2.3\nro.build.sw_internal_version=ABC_DE_V2.3\n' > "$station/pkg/system.img"
printf 'programmer\n' > "$station/pkg/prog_firehose_demo.mbn"
cat > "$station/config.ini" <<INI
[DLOption]
LANG=0
[GET_DLL_Setting]
ITEM_VERSIONFILE_PATH=$station/pkg
PORTS=1,2,3,4,5,0,0,0
[MODEM_Engine]
LEARN_PORTS=1
AT_INTERFACE=2
EDL_SWITCH=at:AT+DLMODE
INI

status=0
out=$(XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run" "$usb_demo" "$station" --modem "$station/pkg" --quit-when-ready) || status=$?
echo "$out"
[ "$status" = 0 ]
grep -q '^usb-demo: all lines as expected$' <<<"$out"
grep -q '^line 1: .*IMEI 356938035643809' <<<"$out"
for n in 1 2 3 4 5; do
  grep -qx "PORT.$n=usb:1-1.$n" "$station/config.ini" || { echo "PORT.$n not learned:"; cat "$station/config.ini"; exit 1; }
done

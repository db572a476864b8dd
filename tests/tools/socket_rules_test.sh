#!/usr/bin/env bash
# station-socket-rules.sh on a config.ini with sockets of two engines, a TCP
# port and a malformed value, over a small sysfs tree where one socket has a
# SuperSpeed twin.
set -euo pipefail
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sys=$work/sys/bus/usb/devices
mkdir -p "$work/sys/devices/usb1/1-1/1-1:1.0/1-1-port3" "$work/sys/devices/usb2/2-1/2-1:1.0/2-1-port3" \
  "$work/sys/devices/usb1/1-0:1.0/usb1-port2" "$work/sys/devices/usb2/2-0:1.0/usb2-port2" "$sys"
ln -s ../../../devices/usb1/1-1 "$sys/1-1"
ln -s ../../../devices/usb1 "$sys/usb1"
ln -s ../../../../usb2/2-1/2-1:1.0/2-1-port3 "$work/sys/devices/usb1/1-1/1-1:1.0/1-1-port3/peer"
ln -s ../../../usb2/2-0:1.0/usb2-port2 "$work/sys/devices/usb1/1-0:1.0/usb1-port2/peer"

cat > "$work/config.ini" <<'INI'
[FASTBOOT_Engine]
PORT.1=tcp:127.0.0.1:5554
PORT.2 = usb:1-1.5
[MODEM_Engine]
PORT.1=usb:1-1.3
PORT.2=usb:1-2
PORT.3=usb:1-1.3;rm -rf /
PORT.4=usb:1-1.5
INI

out=$(bash "$script" "$work/config.ini" "$work/sys")
rules=$(grep -v '^#' <<<"$out")
expected='ACTION=="add|change", SUBSYSTEMS=="usb", KERNELS=="1-1.3", ENV{ID_MM_DEVICE_IGNORE}="1"
ACTION=="add|change", SUBSYSTEMS=="usb", KERNELS=="2-1.3", ENV{ID_MM_DEVICE_IGNORE}="1"
ACTION=="add|change", SUBSYSTEMS=="usb", KERNELS=="1-1.5", ENV{ID_MM_DEVICE_IGNORE}="1"
ACTION=="add|change", SUBSYSTEMS=="usb", KERNELS=="1-2", ENV{ID_MM_DEVICE_IGNORE}="1"
ACTION=="add|change", SUBSYSTEMS=="usb", KERNELS=="2-2", ENV{ID_MM_DEVICE_IGNORE}="1"'
if [ "$rules" != "$expected" ]; then
  echo "unexpected rules:"; echo "$rules"; exit 1
fi
if bash "$script" "$work/missing.ini" "$work/sys" 2>/dev/null; then
  echo "a missing config.ini was not refused"; exit 1
fi
echo "socket rules as expected"

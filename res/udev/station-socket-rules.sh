#!/usr/bin/env bash
# Prints udev rules that tell ModemManager to leave the station's USB sockets
# alone: every "PORT.<n>=usb:<location>" of a station's config.ini (any
# engine's section), and the SuperSpeed twin of each socket where this
# machine's sysfs shows one. ModemManager otherwise sends its own AT commands
# to a module's tty while the station reads its identity or switches it.
#
#   station-socket-rules.sh [config.ini] [sysfs root] > /etc/udev/rules.d/71-station-sockets.rules
#   udevadm control --reload
#
# Run it again after sockets were added (LEARN_PORTS writes new PORT keys).
set -euo pipefail
config=${1:-config.ini}
sysfs=${2:-/sys}
if [ ! -r "$config" ]; then
  echo "station-socket-rules: cannot read $config" >&2
  exit 1
fi

# A location's SuperSpeed twin through the hub port's "peer" link, if any:
# 1-1.3 is port 3 of hub 1-1; 1-2 is port 2 of root hub usb1.
peer_of() {
  local location=$1 hub port name
  if [[ $location == *.* ]]; then
    hub=${location%.*}; port=${location##*.}; name=$hub
  else
    hub=usb${location%%-*}; port=${location#*-}; name=$hub
  fi
  local folder
  for folder in "$sysfs/bus/usb/devices/$hub"/*/"$name-port$port"; do
    [ -e "$folder/peer" ] || continue
    local target
    target=$(basename "$(readlink "$folder/peer")")
    target=${target%-port*}-${target##*-port}
    # "2-1-3" (hub 2-1, port 3) -> 2-1.3; "usb2-3" -> 2-3
    if [[ $target == usb* ]]; then
      echo "${target#usb}"
    else
      echo "${target%-*}.${target##*-}"
    fi
    return
  done
}

echo "# Written by station-socket-rules.sh from $config."
echo "# ModemManager leaves the devices in these USB sockets alone."
# Keys of any section; values may carry blanks around them.
sed -n 's/^[[:space:]]*PORT\.[0-9]\{1,3\}[[:space:]]*=[[:space:]]*usb:\([0-9][0-9.-]*\)[[:space:]]*$/\1/p' "$config" |
  sort -u | while read -r location; do
    [[ $location =~ ^[0-9]+-[0-9]+(\.[0-9]+)*$ ]] || continue
    printf 'ACTION=="add|change", SUBSYSTEMS=="usb", KERNELS=="%s", ENV{ID_MM_DEVICE_IGNORE}="1"\n' "$location"
    twin=$(peer_of "$location" || true)
    if [ -n "$twin" ]; then
      printf 'ACTION=="add|change", SUBSYSTEMS=="usb", KERNELS=="%s", ENV{ID_MM_DEVICE_IGNORE}="1"\n' "$twin"
    fi
  done

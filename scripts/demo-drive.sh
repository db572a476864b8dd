#!/usr/bin/env bash
# Runs the demo's window inside an X server without a screen and drives it
# from outside, as an operator would: once the expected lines are ready it
# clicks "Start All" (xdotool), waits until every started line has ended,
# and saves a screenshot. The station's daily log tells what happened; the
# tool itself knows nothing of this.
#
#   scripts/demo-drive.sh <screenshot> <daily log> <ready lines> <db conninfo or -> <command...>
#
# With a record database, it also waits until the records of this run have
# reached it, so that a report made afterwards has them.
set -euo pipefail
shot=$1 log=$2 ready=$3 db=$4
shift 4
title=Vintrel_RT40K_USV1.00.00

# Only what this run adds to the day's log counts.
offset=$(stat -c %s "$log" 2>/dev/null || echo 0)
count() { tail -c +"$((offset + 1))" "$log" 2>/dev/null | grep -c -E -- "$1" || true; }
# wait_for <seconds> <command...>: polls the command until it succeeds.
wait_for() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}
db_records() { psql "$db" -qAtc "SELECT count(*) FROM download_records" 2>/dev/null || echo 0; }

window() { xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n1; }
has_window() { [ -n "$(window)" ]; }
lines_ready() { [ "$(count ' ready: ')" -ge "$ready" ]; }
started() { [ "$(count ' start.*, package ')" -gt 0 ]; }
ended() {
  local s
  s=$(count ' start.*, package ')
  [ "$s" -gt 0 ] && [ "$(count ' (result|refused): ')" -ge "$s" ]
}
uploaded() { [ "$(db_records)" -ge "$((db_before + $(count ' result: ')))" ]; }

[ "$db" = - ] || db_before=$(db_records)

"$@" &
app=$!
trap 'kill $app 2>/dev/null || true; wait $app 2>/dev/null || true' EXIT

wait_for 60 has_window || { echo "demo: the window did not appear" >&2; exit 1; }
wait_for 30 lines_ready || echo "demo: fewer than $ready lines ready; starting those that are" >&2

# "Start All" spans x 283..324 and y 139..162 of the window's 331 x 210
# dialog units, which lie below the menu bar. Measured from the window's
# bottom edge the button's middle is 59.5 units up, so the bar's height
# (guessed here) moves the point by under a quarter of its error.
menu=22
for _ in 1 2 3; do
  eval "$(xdotool getwindowgeometry --shell "$(window)")"
  x=$((X + WIDTH * 3035 / 3310))
  y=$((Y + HEIGHT - (HEIGHT - menu) * 595 / 2100))
  xdotool mousemove --sync "$x" "$y" click 1
  wait_for 10 started && break
done
started || { echo "demo: no line started" >&2; exit 1; }
wait_for 300 ended || echo "demo: lines still running after 300 s" >&2

# The last results are painted with the event that reported them.
sleep 0.5
import -window root "$shot" 2>/dev/null || xwd -root -silent | convert xwd:- "$shot"

if [ "$db" != - ]; then
  wait_for 60 uploaded || echo "demo: records still waiting for the database" >&2
fi

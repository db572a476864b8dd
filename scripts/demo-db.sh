#!/usr/bin/env bash
# Starts a private PostgreSQL server for the demo station's record database:
# its data and its Unix socket in the given folder, no TCP, trusted local
# logins. As root the server runs as "nobody", since PostgreSQL refuses
# root. Prints the connection string for [RECORD_DB] URL.
#
#   scripts/demo-db.sh start <folder>
#   scripts/demo-db.sh stop <folder>
set -euo pipefail
action=${1:?usage: $0 start|stop <folder>}
dir=$(realpath -m "${2:?usage: $0 start|stop <folder>}")
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)
[ -x "$bin/pg_ctl" ] || { echo "PostgreSQL server programs not found (apt-get install postgresql)" >&2; exit 1; }

as_server() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=nobody --regid=nogroup --clear-groups -- env HOME="$dir" "$@"
  else
    "$@"
  fi
}

case "$action" in
start)
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$dir"
    as_server "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --locale=C >"$dir/initdb.log"
  fi
  as_server "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
    -o "-k $dir -c listen_addresses=''" start >/dev/null
  psql -h "$dir" -U postgres -d postgres -tAc "SELECT 1 FROM pg_database WHERE datname = 'production'" | grep -q 1 \
    || psql -h "$dir" -U postgres -d postgres -qc "CREATE DATABASE production"
  echo "host=$dir dbname=production user=postgres"
  ;;
stop)
  as_server "$bin/pg_ctl" -D "$dir/data" -w -m fast stop >/dev/null || true
  ;;
*)
  echo "usage: $0 start|stop <folder>" >&2; exit 2 ;;
esac

#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests and benchmarks: initdb into a
# temporary folder, the server listening on a private Unix socket in that
# folder and on 127.0.0.1 (same port), a role and a database "tarnevos".
# Unix-socket connections need no password; TCP connections need the
# role's password, which only the passfile (libpq's PGPASSFILE) holds.
#
#   pg_cluster.sh start STATE    starts a cluster (stopping the one STATE
#                                names first, if any) and writes STATE
#   pg_cluster.sh stop STATE     stops it and removes its folder
#   pg_cluster.sh kill STATE     pg_ctl stop -m immediate; the folder stays
#                                until `stop`
#
# STATE is a shell file of NAME=VALUE lines: dir, port, conninfo (Unix
# socket), tcp (host 127.0.0.1, needs PGPASSFILE=passfile), passfile, bin.
# PostgreSQL refuses to run as root: as root the server runs as the
# `postgres` user that Debian's package creates.
set -uo pipefail

command=${1:-}
state=${2:-}
if [[ -z $command || -z $state ]]; then
  echo "usage: $0 start|stop|kill STATE" >&2
  exit 2
fi

server_bin() {
  if command -v initdb >/dev/null 2>&1 && command -v pg_ctl >/dev/null 2>&1; then
    dirname "$(readlink -f "$(command -v pg_ctl)")"
    return
  fi
  local newest
  newest=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
  [[ -n $newest && -x $newest/pg_ctl ]] && echo "$newest"
}

# Runs a command as the server's owner.
as_owner() {
  if [[ $(id -u) -eq 0 ]]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

stop_cluster() {  # mode: fast | immediate
  local mode=$1
  [[ -f $state ]] || return 0
  local dir="" bin=""
  # shellcheck disable=SC1090
  dir=$(sed -n 's/^dir=//p' "$state")
  bin=$(sed -n 's/^bin=//p' "$state")
  [[ -n $dir && -d $dir/data ]] || return 0
  if [[ -f $dir/data/postmaster.pid ]]; then
    as_owner "$bin/pg_ctl" stop -D "$dir/data" -m "$mode" -w -t 30 >/dev/null 2>&1 ||
      as_owner "$bin/pg_ctl" stop -D "$dir/data" -m immediate -w -t 30 >/dev/null 2>&1
    # Last resort: the postmaster by the pid its folder records.
    if [[ -f $dir/data/postmaster.pid ]]; then
      local pid
      pid=$(head -1 "$dir/data/postmaster.pid")
      [[ $pid =~ ^[0-9]+$ ]] && kill -9 "$pid" 2>/dev/null
    fi
  fi
}

case $command in
  stop)
    stop_cluster fast
    dir=$(sed -n 's/^dir=//p' "$state" 2>/dev/null)
    passfile=$(sed -n 's/^passfile=//p' "$state" 2>/dev/null)
    [[ -n $dir && $dir == /tmp/tarnevos-pg.* ]] && rm -rf "$dir"
    [[ -n $passfile ]] && rm -f "$passfile"
    rm -f "$state"
    exit 0
    ;;
  kill)
    stop_cluster immediate
    exit 0
    ;;
  start) ;;
  *)
    echo "usage: $0 start|stop|kill STATE" >&2
    exit 2
    ;;
esac

# A cluster left by an interrupted run is stopped first.
if [[ -f $state ]]; then
  "$0" stop "$state"
fi

bin=$(server_bin)
if [[ -z $bin ]]; then
  echo "pg_cluster: PostgreSQL's server programs are not installed (scripts/deps.sh)" >&2
  exit 1
fi
if [[ $(id -u) -eq 0 ]] && ! id postgres >/dev/null 2>&1; then
  echo "pg_cluster: running as root needs the postgres user" >&2
  exit 1
fi

dir=$(mktemp -d /tmp/tarnevos-pg.XXXXXX)
chmod 700 "$dir"
password=$(head -c 18 /dev/urandom | od -An -tx1 | tr -d ' \n')
printf '%s\n' "$password" >"$dir/pw"
[[ $(id -u) -eq 0 ]] && chown -R postgres:postgres "$dir"

if ! as_owner "$bin/initdb" -D "$dir/data" -U tarnevos -E UTF8 --no-locale \
  --auth-local=trust --auth-host=scram-sha-256 --pwfile="$dir/pw" -N \
  >"$dir/initdb.log" 2>&1; then
  echo "pg_cluster: initdb failed:" >&2
  cat "$dir/initdb.log" >&2
  rm -rf "$dir"
  exit 1
fi
as_owner rm -f "$dir/pw"
cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$dir'
unix_socket_permissions = 0700
fsync = off
synchronous_commit = off
full_page_writes = off
max_connections = 60
shared_buffers = 128MB
logging_collector = off
EOF

started=0
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  port=$((20000 + RANDOM % 40000))
  if as_owner "$bin/pg_ctl" start -D "$dir/data" -w -t 60 -o "-p $port" \
    -l "$dir/server.log" >/dev/null 2>&1; then
    started=1
    break
  fi
  # Only a port in use is worth another try.
  grep -q "could not bind\|Address already in use" "$dir/server.log" 2>/dev/null || break
done
if [[ $started -ne 1 ]]; then
  echo "pg_cluster: the server did not start:" >&2
  tail -20 "$dir/server.log" >&2
  rm -rf "$dir"
  exit 1
fi

conninfo="host=$dir port=$port user=tarnevos dbname=tarnevos"
if ! "$bin/psql" -X -q -d "host=$dir port=$port user=tarnevos dbname=postgres" \
  -c "CREATE DATABASE tarnevos" >"$dir/createdb.log" 2>&1; then
  echo "pg_cluster: cannot create the database:" >&2
  cat "$dir/createdb.log" >&2
  as_owner "$bin/pg_ctl" stop -D "$dir/data" -m immediate >/dev/null 2>&1
  rm -rf "$dir"
  exit 1
fi

passfile="$state.pgpass"
(umask 077 && printf '127.0.0.1:%s:*:tarnevos:%s\n' "$port" "$password" >"$passfile")

cat >"$state" <<EOF
dir=$dir
port=$port
bin=$bin
conninfo=$conninfo
tcp=host=127.0.0.1 port=$port user=tarnevos dbname=tarnevos
passfile=$passfile
EOF
echo "PostgreSQL cluster on $dir port $port"

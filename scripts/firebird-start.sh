#!/usr/bin/env bash
# Starts a Firebird 3 SuperServer on localhost:3050 when none is listening,
# as the firebird user and without systemd, and makes sure SYSDBA's password
# is "quillfern". Prints the folder where throwaway databases may be created.
# Safe to run again: an answering server is left alone.
set -euo pipefail

FB_PASSWORD=quillfern
FB_PORT=3050
DB_FOLDER=${TARVO_FB_DATA:-/var/lib/firebird/3.0/data/tarvo}
SEC_DB=/var/lib/firebird/3.0/system/security3.fdb

port_open() { (exec 3<>/dev/tcp/127.0.0.1/$FB_PORT) 2>/dev/null; }

# 0: SYSDBA logs in; 1: the server refuses the password; 2: no clear answer
# (slow machine, server busy) - never a reason to restart a running server.
login_state() {
  local out
  for _ in 1 2 3; do
    if out=$(timeout 30 fbsvcmgr "localhost/$FB_PORT:service_mgr" -user SYSDBA \
        -password "$FB_PASSWORD" -info_server_version 2>&1); then
      return 0
    fi
    case "$out" in
      *"user name and password are not defined"*) return 1 ;;
    esac
    sleep 1
  done
  return 2
}

set_password_embedded() {
  # Embedded access as the firebird user: needs no password, only the file.
  echo "create or alter user SYSDBA password '$FB_PASSWORD' using plugin Srp; commit;" |
    runuser -u firebird -- isql-fb -q -user SYSDBA "$SEC_DB" >/dev/null
}

mkdir -p /run/firebird3.0 /tmp/firebird
chown firebird:firebird /run/firebird3.0 /tmp/firebird

if ! port_open; then
  set_password_embedded || echo "firebird-start: could not set the SYSDBA password" >&2
  runuser -u firebird -- setsid /usr/sbin/firebird </dev/null >/dev/null 2>&1 &
  for _ in $(seq 1 100); do port_open && break; sleep 0.1; done
  port_open || { echo "firebird-start: server did not come up on port $FB_PORT" >&2; exit 1; }
fi

state=0
login_state || state=$?
if [ "$state" -eq 1 ]; then
  # A server we did not start, or a stale password: stop it, set the
  # password through embedded access and start it again.
  pkill -x firebird || true
  for _ in $(seq 1 50); do port_open || break; sleep 0.1; done
  port_open && { pkill -KILL -x firebird || true; sleep 0.5; }
  set_password_embedded || true
  runuser -u firebird -- setsid /usr/sbin/firebird </dev/null >/dev/null 2>&1 &
  for _ in $(seq 1 100); do port_open && break; sleep 0.1; done
  state=0
  login_state || state=$?
fi
case "$state" in
  0) ;;
  1) echo "firebird-start: SYSDBA cannot log in with the project password" >&2; exit 1 ;;
  *) echo "firebird-start: the server on port $FB_PORT does not answer a login" >&2; exit 1 ;;
esac

mkdir -p "$DB_FOLDER"
chown firebird:firebird "$DB_FOLDER"
chmod 0770 "$DB_FOLDER"
echo "$DB_FOLDER"

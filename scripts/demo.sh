#!/usr/bin/env bash
# Installs what is needed, builds the programs, creates the demo database and
# starts the Bridge server on it in the background, listening on port 50600.
# Running it again stops the server started before, recreates the database
# and starts a fresh server.
#
# Environment: TARVO_DEMO_PORT (default 50600), TARVO_DEMO_DB (default
# /var/lib/firebird/3.0/data/tarvo/demo.fdb).
set -euo pipefail
cd "$(dirname "$0")/.."

PORT=${TARVO_DEMO_PORT:-50600}
DB_FILE=${TARVO_DEMO_DB:-/var/lib/firebird/3.0/data/tarvo/demo.fdb}
KEY=demo-schluessel
BIN=build/bin
PID_FILE=$BIN/tarvoserver.pid
OUT_FILE=$BIN/tarvoserver.out

port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

bash scripts/install-deps.sh
bash scripts/firebird-start.sh >/dev/null
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"

# A server of an earlier run holds the database open: stop it first, but only
# when the recorded process really is our tarvoserver.
if [ -f "$PID_FILE" ]; then
  old=$(cat "$PID_FILE" 2>/dev/null || true)
  exe=$(readlink "/proc/$old/exe" 2>/dev/null || true)
  exe=${exe% (deleted)}  # the build may have replaced the file since
  if [ -n "$old" ] && [ "$exe" = "$(readlink -f "$BIN/tarvoserver")" ]; then
    echo "demo: stopping the Bridge server of the last run (pid $old)"
    kill -TERM "$old" 2>/dev/null || true
    for _ in $(seq 1 100); do [ -e "/proc/$old" ] || break; sleep 0.1; done
    if [ -e "/proc/$old" ]; then
      echo "demo: pid $old did not end on SIGTERM; killing it" >&2
      kill -KILL "$old" 2>/dev/null || true
      sleep 0.5
    fi
  fi
  rm -f "$PID_FILE"
fi

if port_open "$PORT"; then
  echo "demo: port $PORT is in use by another program; set TARVO_DEMO_PORT to a free port" >&2
  exit 1
fi

bash scripts/demo-db.sh "$DB_FILE"

# The Bridge server reads its settings from the file beside the executable.
printf '%s\r\n' \
  "TARVO-SERVER-PORT=$PORT" \
  "SICHERHEITSSCHLUESSEL=$KEY" \
  "DATENBANKPFAD=localhost/3050:$DB_FILE" \
  "TRACELOG=JA" >"$BIN/tarvoserver.ini"

# Without a display the program runs offscreen by itself; setsid keeps it
# running after this script ends.
setsid "$BIN/tarvoserver" --AUTOSTART </dev/null >"$OUT_FILE" 2>&1 &
pid=$!
echo "$pid" >"$PID_FILE"

for _ in $(seq 1 150); do
  port_open "$PORT" && break
  if ! [ -e "/proc/$pid" ]; then break; fi
  sleep 0.1
done
if ! port_open "$PORT"; then
  echo "demo: the Bridge server did not come up on port $PORT" >&2
  tail -n 20 "$OUT_FILE" "$BIN/tarvoserver.log" >&2 || true
  exit 1
fi

cat <<EOF

demo: the Bridge server runs (pid $pid) on http://localhost:$PORT/
      database  localhost/3050:$DB_FILE
      log       $BIN/tarvoserver.log   output $OUT_FILE
      stop it   kill \$(cat $PID_FILE)

Ask it something with the client tool (security key "$KEY"):
  $BIN/tarvoclient --url http://localhost:$PORT --key $KEY query "SELECT NR, NAME, BETRAG FROM DEMO_SPALTEN"
  $BIN/tarvoclient --url http://localhost:$PORT --key $KEY query "SELECT NAME1, ORT FROM ADRESSEN"
EOF

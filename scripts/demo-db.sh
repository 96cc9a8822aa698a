#!/usr/bin/env bash
# Creates (or recreates) a demo database: SQL dialect 1, character set
# WIN1252, then applies scripts/schema.sql and every
# scripts/demo/*.sql in name order. The files are UTF-8; isql runs with the
# UTF8 connection character set, so the server converts the texts into the
# WIN1252 columns and umlauts arrive as one character each.
#
# Usage: scripts/demo-db.sh [database file]   (default: the demo database)
# Needs a running Firebird server (scripts/firebird-start.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

DB_FILE=${1:-/var/lib/firebird/3.0/data/tarvo/demo.fdb}
DB="localhost/3050:$DB_FILE"
ISQL=(isql-fb -q -user SYSDBA -password quillfern)

# A database left from an earlier run is dropped through the server, which
# refuses while another connection is open.
if [ -e "$DB_FILE" ]; then
  if ! echo "DROP DATABASE;" | "${ISQL[@]}" "$DB" >/dev/null 2>&1; then
    echo "demo-db: cannot drop $DB_FILE (still in use?)" >&2
    exit 1
  fi
fi

"${ISQL[@]}" -ch UTF8 <<SQL
SET SQL DIALECT 1;
CREATE DATABASE '$DB' USER 'SYSDBA' PASSWORD 'quillfern' PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1252;
SQL

# isql's output without the notices that dialect 1 gives for every DATE
# column ("DATE data type is now called TIMESTAMP").
quiet() { grep -v -e '^-\?SQL warning code = 301$' -e '^-DATE data type is now called TIMESTAMP$' || true; }

apply() {
  local file=$1 out rc=0
  # -bail stops at the first failing statement and makes isql fail.
  out=$("${ISQL[@]}" -ch UTF8 -bail "$DB" -i "$file" 2>&1) || rc=$?
  printf '%s\n' "$out" | quiet | sed '/^$/d' >&2
  if [ "$rc" -ne 0 ]; then
    echo "demo-db: $file failed" >&2
    exit 1
  fi
}

apply scripts/schema.sql
for f in scripts/demo/*.sql; do
  [ -e "$f" ] || continue
  apply "$f"
done
echo "demo-db: $DB_FILE ready"

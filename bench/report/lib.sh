# Shell functions of the report worker's timing scripts (run.sh, formats.sh);
# source it from the repository root after `set -euo pipefail`.

ME=${0##*/}
ISQL="isql-fb -q -sql_dialect 1 -user SYSDBA -password quillfern"

# bench_setup BUILD-FOLDER DB-NAME: checks the binary and hyperfine, creates
# a throwaway database with the schema and the demo content and a work
# folder, both removed on exit. Sets BIN, DB and WORK.
bench_setup() {
  BIN=$1/bin/tarvoreport
  [ -x "$BIN" ] || { echo "$ME: $BIN missing; build first" >&2; exit 1; }
  command -v hyperfine >/dev/null || { echo "$ME: hyperfine missing (scripts/install-deps.sh)" >&2; exit 1; }
  local data
  data=$(bash scripts/firebird-start.sh | tail -1)
  DB=$data/$2-$$.fdb
  WORK=$(mktemp -d)
  trap bench_cleanup EXIT
  echo "SET SQL DIALECT 1; CREATE DATABASE 'localhost/3050:$DB' USER 'SYSDBA' PASSWORD 'quillfern' DEFAULT CHARACTER SET WIN1252;" \
    | isql-fb -q >/dev/null
  bench_sql scripts/schema.sql
  bench_sql scripts/demo/20-report.sql
}

bench_cleanup() {
  echo "DROP DATABASE;" | $ISQL "localhost/3050:$DB" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}

# bench_sql FILE: runs an SQL script against the database.
bench_sql() { $ISQL -i "$1" "localhost/3050:$DB" >/dev/null 2>&1; }

# bench_positions NR COUNT: SQL adding COUNT positions to booking NR.
bench_positions() {
  cat <<SQL
SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE I INTEGER = 1;
BEGIN
  WHILE (I <= $2) DO
  BEGIN
    INSERT INTO BUCHUNGSPOSITIONEN VALUES ($1, :I, 'Leistung Nummer ' || :I, 1, 10.5, 10.5);
    I = I + 1;
  END
END^
SET TERM ; ^
COMMIT;
SQL
}

# bench_program_folder DIR: a copy of the binary with its tarvoserver.ini.
bench_program_folder() {
  mkdir -p "$1"
  cp "$BIN" "$1/tarvoreport"
  printf 'DATENBANKPFAD=localhost/3050:%s\r\n' "$DB" >"$1/tarvoserver.ini"
}

# bench_job FORMAT NR: the job file text of the demo confirmation.
bench_job() {
  printf 'BEREICH=T-TOURISTIK\r\nART=BESTAETIGUNG\r\nNAME=webformular\r\nFORMAT=%s\r\nPARAM__NR=%s\r\nPARAM_NR=%s\r\n' "$1" "$2" "$2"
}

# bench_medians WIDTH JSON...: the median of every hyperfine result in ms.
bench_medians() {
  echo
  echo "median (ms)"
  python3 - "$@" <<'PY'
import json, sys
width = int(sys.argv[1])
for path in sys.argv[2:]:
    for r in json.load(open(path))["results"]:
        print("  %-*s %8.1f" % (width, r["command"], r["median"] * 1000))
PY
}

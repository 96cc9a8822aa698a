#!/usr/bin/env bash
# Each export format of the demo confirmation over a booking with 1,200
# positions (30 pages), timed with hyperfine from process
# start to the finished tarvoreportN.pdf.
# Usage: bash bench/report/formats.sh [build-folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${1:-build}
BIN=$BUILD/bin/tarvoreport
[ -x "$BIN" ] || { echo "formats.sh: $BIN missing; build first" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "formats.sh: hyperfine missing (scripts/install-deps.sh)" >&2; exit 1; }
DATA=$(bash scripts/firebird-start.sh | tail -1)
DB=$DATA/bench-formats-$$.fdb
WORK=$(mktemp -d)
ISQL="isql-fb -q -sql_dialect 1 -user SYSDBA -password quillfern"
cleanup() {
  echo "DROP DATABASE;" | $ISQL "localhost/3050:$DB" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

echo "SET SQL DIALECT 1; CREATE DATABASE 'localhost/3050:$DB' USER 'SYSDBA' PASSWORD 'quillfern' DEFAULT CHARACTER SET WIN1252;" \
  | isql-fb -q >/dev/null
$ISQL -i scripts/schema.sql "localhost/3050:$DB" >/dev/null 2>&1
$ISQL -i scripts/demo/20-report.sql "localhost/3050:$DB" >/dev/null 2>&1
cat >"$WORK/data.sql" <<'SQL'
INSERT INTO BUCHUNGEN (NR, ANREDE, BRIEFANREDE, VORNAME, NAME, STRASSE, PLZ, ORT, REISE, ABREISE, RUECKREISE, TEILNEHMER, ANZAHLUNG)
  VALUES (2, 'Frau', 'Sehr geehrte Frau Lang', 'Lena', 'Lang', 'Ring 1', '10115', 'Berlin', 'Weltreise', '2027-03-01', '2027-06-30', 2, 5000);
COMMIT;
SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE I INTEGER = 1;
BEGIN
  WHILE (I <= 1200) DO
  BEGIN
    INSERT INTO BUCHUNGSPOSITIONEN VALUES (2, :I, 'Leistung Nummer ' || :I, 1, 10.5, 10.5);
    I = I + 1;
  END
END^
SET TERM ; ^
COMMIT;
SQL
$ISQL -i "$WORK/data.sql" "localhost/3050:$DB" >/dev/null 2>&1

W=$WORK/w
mkdir -p "$W"
cp "$BIN" "$W/tarvoreport"
printf 'DATENBANKPFAD=localhost/3050:%s\r\n' "$DB" >"$W/tarvoserver.ini"
slot=0
for format in pdf rtf csv jpg html htm; do
  slot=$((slot + 1))
  printf 'BEREICH=T-TOURISTIK\r\nART=BESTAETIGUNG\r\nNAME=webformular\r\nFORMAT=%s\r\nPARAM__NR=2\r\nPARAM_NR=2\r\n' "$format" \
    >"$W/tarvoreport$slot.ini"
done
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM || true

(cd "$W" && ./tarvoreport --WEB --POOL=1)
echo "demo report: $(pdfinfo "$W/tarvoreport1.pdf" | grep Pages)"

args=()
slot=0
for format in pdf rtf csv jpg html htm; do
  slot=$((slot + 1))
  args+=(-n "$format" --prepare "rm -f $W/tarvoreport$slot.pdf" "$W/tarvoreport --WEB --POOL=$slot")
done
hyperfine -N --warmup 1 --runs "${RUNS:-5}" --export-json "$WORK/f.json" "${args[@]}"
slot=0
for format in pdf rtf csv jpg html htm; do
  slot=$((slot + 1))
  [ -s "$W/tarvoreport$slot.pdf" ] || { echo "formats.sh: $format wrote nothing" >&2; cat "$W/tarvoreport.log" >&2; exit 1; }
  echo "  $format: $(stat -c %s "$W/tarvoreport$slot.pdf") bytes"
done

echo
echo "median (ms)"
python3 - "$WORK"/f.json <<'PY'
import json, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print("  %-6s %8.1f" % (r["command"], r["median"] * 1000))
PY

#!/usr/bin/env bash
# Each export format of the demo confirmation over a booking with 1,200
# positions (30 pages), timed with hyperfine from process
# start to the finished tarvoreportN.pdf.
# Usage: bash bench/report/formats.sh [build-folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
. bench/report/lib.sh
bench_setup "${1:-build}" bench-formats
cat >"$WORK/data.sql" <<'SQL'
INSERT INTO BUCHUNGEN (NR, ANREDE, BRIEFANREDE, VORNAME, NAME, STRASSE, PLZ, ORT, REISE, ABREISE, RUECKREISE, TEILNEHMER, ANZAHLUNG)
  VALUES (2, 'Frau', 'Sehr geehrte Frau Lang', 'Lena', 'Lang', 'Ring 1', '10115', 'Berlin', 'Weltreise', '2027-03-01', '2027-06-30', 2, 5000);
COMMIT;
SQL
bench_positions 2 1200 >>"$WORK/data.sql"
bench_sql "$WORK/data.sql"

W=$WORK/w
bench_program_folder "$W"
slot=0
for format in pdf rtf csv jpg html htm; do
  slot=$((slot + 1))
  bench_job "$format" 2 >"$W/tarvoreport$slot.ini"
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
  [ -s "$W/tarvoreport$slot.pdf" ] || { echo "$ME: $format wrote nothing" >&2; cat "$W/tarvoreport.log" >&2; exit 1; }
  echo "  $format: $(stat -c %s "$W/tarvoreport$slot.pdf") bytes"
done

bench_medians 6 "$WORK"/f.json

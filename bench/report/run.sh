#!/usr/bin/env bash
# Figures of the Report worker, measured with hyperfine on a throwaway
# database holding the demo content:
#   startup   the bare start of the binary (configuration and logger read,
#             then an invalid --POOL= ends it before any job work)
#   one-page  a one-page booking confirmation, process start to finished PDF
#   1000-rows the demo template over a booking with 1,000 positions
#   parallel  two workers on slots 1 and 2 at once
# The in-process share of the engine (layout and PDF of 1,000 rows against
# raw QPainter drawing) is build/bench/report_bench.
# Usage: bash bench/report/run.sh [build-folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
. bench/report/lib.sh
bench_setup "${1:-build}" bench-report
cat >"$WORK/data.sql" <<'SQL'
INSERT INTO BUCHUNGEN (NR, ANREDE, BRIEFANREDE, NAME, REISE, TEILNEHMER) VALUES (1, 'Herr', 'Sehr geehrter Herr Kurz', 'Kurz', 'Wochenende', 1);
INSERT INTO BUCHUNGSPOSITIONEN VALUES (1, 1, 'Hotel', 2, 80, 160);
INSERT INTO BUCHUNGSPOSITIONEN VALUES (1, 2, 'Bahn', 1, 59, 59);
INSERT INTO BUCHUNGEN (NR, ANREDE, BRIEFANREDE, NAME, REISE, TEILNEHMER) VALUES (2, 'Frau', 'Sehr geehrte Frau Lang', 'Lang', 'Weltreise', 2);
COMMIT;
SQL
bench_positions 2 1000 >>"$WORK/data.sql"
bench_sql "$WORK/data.sql"

for slot in 0 1 2; do mkdir -p "$WORK/w$slot"; done
bench_program_folder "$WORK/w0"
job() { bench_job pdf "$1"; }
job 1 >"$WORK/w0/tarvoreport0.ini"
job 2 >"$WORK/w0/tarvoreport5.ini"
job 1 >"$WORK/w0/tarvoreport1.ini"
job 200140 >"$WORK/w0/tarvoreport2.ini"
W=$WORK/w0
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM || true

# Sanity: each job writes its file.
(cd "$W" && ./tarvoreport --WEB --POOL=0 && ./tarvoreport --WEB --POOL=5)
for f in tarvoreport0.pdf tarvoreport5.pdf; do [ -s "$W/$f" ] || { echo "$ME: $f not written" >&2; cat "$W/tarvoreport.log" >&2; exit 1; }; done
echo "one-page job: $(pdfinfo "$W/tarvoreport0.pdf" | grep Pages)"
echo "1000-row job: $(pdfinfo "$W/tarvoreport5.pdf" | grep Pages)"

hyperfine -N --warmup 3 --runs 30 --export-json "$WORK/a.json" \
  -n startup -i "$W/tarvoreport --WEB --POOL=x" \
  -n one-page --prepare "rm -f $W/tarvoreport0.pdf" "$W/tarvoreport --WEB --POOL=0"
hyperfine -N --warmup 1 --runs 10 --export-json "$WORK/b.json" \
  -n 1000-rows --prepare "rm -f $W/tarvoreport5.pdf" "$W/tarvoreport --WEB --POOL=5"
hyperfine --warmup 1 --runs 10 --export-json "$WORK/c.json" \
  -n parallel "$W/tarvoreport --WEB --POOL=1 & $W/tarvoreport --WEB --POOL=2 & wait"
[ -s "$W/tarvoreport1.pdf" ] && [ -s "$W/tarvoreport2.pdf" ] || { echo "$ME: a parallel job wrote nothing" >&2; exit 1; }

bench_medians 10 "$WORK"/a.json "$WORK"/b.json "$WORK"/c.json

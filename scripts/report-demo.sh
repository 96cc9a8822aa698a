#!/usr/bin/env bash
# Renders the demo booking confirmation (record 200140) the way the Bridge
# server has it rendered: a job file tarvoreport0.ini beside the program,
# then "tarvoreport --WEB --POOL=0", then the result checked with poppler.
# Needs the demo database (scripts/demo.sh) and a build in build/.
# Usage: bash scripts/report-demo.sh [database]
#   database  default localhost/3050:/var/lib/firebird/3.0/data/tarvo/demo.fdb
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=build/bin
DB=${1:-localhost/3050:/var/lib/firebird/3.0/data/tarvo/demo.fdb}
[ -x "$BIN/tarvoreport" ] || { echo "report-demo: $BIN/tarvoreport missing; build first" >&2; exit 1; }
if [ ! -f "$BIN/tarvoserver.ini" ]; then
  printf 'DATENBANKPFAD=%s\r\nTRACELOG=JA\r\n' "$DB" >"$BIN/tarvoserver.ini"
fi
printf 'BEREICH=T-TOURISTIK\r\nART=BESTAETIGUNG\r\nNAME=webformular\r\nFORMAT=pdf\r\nPARAM__NR=200140\r\nPARAM_NR=200140\r\n' \
  >"$BIN/tarvoreport0.ini"
rm -f "$BIN/tarvoreport0.pdf"
(unset DISPLAY WAYLAND_DISPLAY; "$BIN/tarvoreport" --WEB --POOL=0 2>/dev/null)
if [ ! -f "$BIN/tarvoreport0.pdf" ]; then
  echo "report-demo: no tarvoreport0.pdf; the log says:" >&2
  tail -n 5 "$BIN/tarvoreport.log" >&2 || true
  exit 1
fi
pdfinfo "$BIN/tarvoreport0.pdf" | grep -E '^(Title|Author|Subject|Creator|Pages|PDF version):'
for page in $(seq 1 "$(pdfinfo "$BIN/tarvoreport0.pdf" | awk '/^Pages:/ {print $2}')"); do
  echo "--- page $page"
  pdftotext -f "$page" -l "$page" -layout "$BIN/tarvoreport0.pdf" - | sed -n '1,12p'
done
echo "report-demo: $BIN/tarvoreport0.pdf"

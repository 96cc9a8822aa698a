// Zeigebelegt: marks the occupied seats of a vehicle or hall on its seat
// map, a JPEG picture of the report bound to a blob field.
//
// The seat map definition (a text field of T_GERAET) has a first line that
// is skipped and then one line per seat: the seat's key "TXT=<nr>" in
// double quotes (a blank in the number written as "~"), then items
// separated by "^" (blanks separate too, double quotes group), among them
// X=<pixels> and Y=<pixels>. Example:
//
//   [Bus 49]
//   "TXT=1"^X=120^Y=80^W=32
//   "TXT=1~A"^X=160^Y=80
//
// The function must be called from an object of the picture's own band that
// comes after the picture in the band: it replaces the picture placed for
// the current record.
#pragma once

#include <QImage>

#include <map>
#include <string>
#include <vector>

#include "common/FormatSettings.h"

namespace tarvo::report {

class ReportEngine;

class SeatMapDefinition {
 public:
  explicit SeatMapDefinition(const std::string& definition);
  // The position of seat `nr` from the last line naming it; a value that is
  // no integer keeps what an earlier line gave. False when no line names it
  // (or X stayed unset).
  bool Position(const std::string& nr, int& x, int& y) const;

 private:
  std::vector<std::string> lines_;
  std::map<std::string, std::vector<size_t>> byKey_;  // key text -> line indexes
};

struct OccupiedSeat {
  std::string nr;
  std::string label;  // empty: the seat shows its number
};

// Draws the marks onto `image` (converted to 32-bit RGB) in its pixel
// coordinates: a red square with the number in white for seats without a
// label; with a label, the label in black beside the seat, or over a white
// box covering the seat when `zeigePlatzNr` is "0". Seats the definition
// does not place are skipped.
void DrawOccupiedSeats(QImage& image, const SeatMapDefinition& definition,
                       const std::vector<OccupiedSeat>& seats, const std::string& zeigePlatzNr);

// The script function. Returns "Kein gültiges Ziel: " + zielImage when that
// object exists but is no picture, otherwise empty text; does nothing when
// the definition is empty, the data set or the picture is missing, the
// picture is not bound to a blob field of a data set, or the blob is no
// JPEG. `engine` may be null (called outside a preparation: nothing done).
// The data set's position is restored after its records were read.
std::string Zeigebelegt(ReportEngine* engine, const std::string& zielImage, const std::string& definition,
                        const std::string& belegtPlatzQuery, const std::string& zeigePlatzNr,
                        const FormatSettings& fs);

}  // namespace tarvo::report

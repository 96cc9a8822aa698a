#include "report/Zeigebelegt.h"

#include <QByteArray>
#include <QFont>
#include <QPainter>

#include <cctype>
#include <charconv>

#include "report/engine/Layout.h"
#include "report/engine/Template.h"

namespace tarvo::report {

namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool IsBlank(char c) { return c != 0 && static_cast<unsigned char>(c) <= 32; }

// Items of a line separated by '^' or blanks, double quotes grouping (a
// doubled quote inside stands for one), as a string list's delimited text.
std::vector<std::string> DelimitedItems(const std::string& s) {
  std::vector<std::string> items;
  size_t p = 0;
  const size_t n = s.size();
  while (p < n && IsBlank(s[p])) ++p;
  while (p < n) {
    std::string item;
    if (s[p] == '"') {
      ++p;
      while (p < n) {
        if (s[p] == '"') {
          if (p + 1 < n && s[p + 1] == '"') {
            item += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += s[p++];
      }
    } else {
      const size_t b = p;
      while (p < n && !IsBlank(s[p]) && s[p] != '^') ++p;
      item = s.substr(b, p - b);
    }
    items.push_back(std::move(item));
    while (p < n && IsBlank(s[p])) ++p;
    if (p < n && s[p] == '^') {
      if (p + 1 == n) items.emplace_back();
      ++p;
      while (p < n && IsBlank(s[p])) ++p;
    }
  }
  return items;
}

// The value of item NAME=... (name without regard to case); false when none.
bool ItemValue(const std::vector<std::string>& items, const char* name, std::string& value) {
  const std::string upper = Upper(name);
  for (const auto& it : items) {
    const size_t eq = it.find('=');
    if (eq == std::string::npos) continue;
    if (Upper(it.substr(0, eq)) == upper) {
      value = it.substr(eq + 1);
      return true;
    }
  }
  return false;
}

bool ToInt(const std::string& text, int& out) {
  const std::string t = Trim(text);
  const char* b = t.data();
  const char* e = b + t.size();
  if (b < e && *b == '+') ++b;
  int v = 0;
  auto r = std::from_chars(b, e, v);
  if (b == e || r.ec != std::errc() || r.ptr != e) return false;
  out = v;
  return true;
}

// The key of a definition line: its text before the first '^', '~' read
// as a blank.
std::string LineKey(const std::string& line) {
  const size_t caret = line.find('^');
  std::string key = caret == std::string::npos ? std::string() : line.substr(0, caret);
  for (auto& c : key)
    if (c == '~') c = ' ';
  return key;
}

// Canvas font heights in pixels of the 96-dpi screen the sizes mean.
int PixelSize(int points) { return (points * 96 + 36) / 72; }

QFont CanvasFont(int points) {
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(PixelSize(points));
  return f;
}

// Where a picture's bytes come from: "DataSet.FIELD" or DataSet["FIELD"].
bool BoundField(const std::string& source, std::string& dataSet, std::string& field) {
  const std::string s = Trim(source);
  size_t i = 0;
  auto ident = [&](std::string& out) {
    const size_t b = i;
    while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_')) ++i;
    out = s.substr(b, i - b);
    return !out.empty() && !std::isdigit(static_cast<unsigned char>(out[0]));
  };
  if (!ident(dataSet)) return false;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] == ' ') ++i;
    if (!ident(field)) return false;
  } else if (i + 1 < s.size() && s[i] == '[' && (s[i + 1] == '"' || s[i + 1] == '\'')) {
    const char q = s[i + 1];
    const size_t close = s.find(q, i + 2);
    if (close == std::string::npos || close + 1 >= s.size() || s[close + 1] != ']') return false;
    field = s.substr(i + 2, close - i - 2);
    i = close + 2;
  } else {
    return false;
  }
  while (i < s.size() && s[i] == ' ') ++i;
  return i == s.size() && !field.empty();
}

const ObjectDef* FindObject(ReportDef& report, const std::string& name, bool& otherKind) {
  const std::string upper = Upper(name);
  otherKind = false;
  for (const auto& page : report.pages) {
    for (const auto& band : page.bands) {
      for (const auto& o : band.objects)
        if (Upper(o.name) == upper) {
          if (o.kind == ObjectKind::Picture) return &o;
          otherKind = true;
        }
      if (Upper(band.name) == upper) otherKind = true;
    }
    if (Upper(page.name) == upper) otherKind = true;
  }
  for (const auto& d : report.dataSets)
    if (Upper(d.name) == upper) otherKind = true;
  return nullptr;
}

}  // namespace

SeatMapDefinition::SeatMapDefinition(const std::string& definition) : lines_(SplitLines(definition)) {
  for (size_t i = 1; i < lines_.size(); ++i) byKey_[LineKey(lines_[i])].push_back(i);
}

bool SeatMapDefinition::Position(const std::string& nr, int& x, int& y) const {
  x = -1;
  y = -1;
  auto it = byKey_.find("\"TXT=" + nr + "\"");
  if (it == byKey_.end()) return false;
  for (size_t index : it->second) {
    const std::vector<std::string> items = DelimitedItems(lines_[index]);
    std::string v;
    if (!ItemValue(items, "X", v)) v.clear();
    if (!ToInt(v, x)) continue;
    if (!ItemValue(items, "Y", v)) v.clear();
    ToInt(v, y);
  }
  return x >= 0;
}

void DrawOccupiedSeats(QImage& image, const SeatMapDefinition& definition,
                       const std::vector<OccupiedSeat>& seats, const std::string& zeigePlatzNr) {
  if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
    image = image.convertToFormat(QImage::Format_RGB32);
  QPainter p(&image);
  const bool coverNumbers = Upper(zeigePlatzNr) == "0";
  const QColor red(255, 0, 0);
  // The canvas pen draws square outlines until a covering label box has
  // switched it off; it stays off for the rest of the picture.
  bool penOn = true;
  const QFont numberFont = CanvasFont(10);
  const QFont labelFont = CanvasFont(8);
  for (const auto& seat : seats) {
    int x = -1, y = -1;
    if (!definition.Position(seat.nr, x, y)) continue;
    if (seat.label.empty()) {
      const QRect r(x - 16, y - 16, 32, 32);
      p.fillRect(r, red);
      if (penOn) {
        p.setPen(QPen(Qt::black, 0));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 0, -1, -1));
      }
      p.setFont(numberFont);
      p.setPen(Qt::white);
      p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, QString::fromStdString(seat.nr));
    } else if (coverNumbers) {
      const QRect box(x - 12, y - 6, 127, 44);
      p.fillRect(box, Qt::white);
      penOn = false;
      p.setFont(labelFont);
      p.setPen(Qt::black);
      p.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, QString::fromStdString(seat.label));
    } else {
      const QRect box(x + 12, y - 6, 108, 46);
      p.setFont(labelFont);
      p.setPen(Qt::black);
      p.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, QString::fromStdString(seat.label));
    }
  }
}

std::string Zeigebelegt(ReportEngine* engine, const std::string& zielImage, const std::string& definition,
                        const std::string& belegtPlatzQuery, const std::string& zeigePlatzNr,
                        const FormatSettings& fs) {
  if (!engine || Trim(definition).empty()) return {};
  Cursor* seats = engine->DataSet(belegtPlatzQuery);
  if (!seats) return {};
  bool otherKind = false;
  const ObjectDef* picture = FindObject(engine->Report(), zielImage, otherKind);
  if (!picture) return otherKind ? "Kein g\xC3\xBCltiges Ziel: " + zielImage : std::string();

  std::string dataSet, field;
  if (!BoundField(picture->source, dataSet, field)) return {};
  Cursor* source = engine->DataSet(dataSet);
  if (!source || source->ColumnIndex(Upper(field)) < 0) return {};
  const Value blob = source->Field(Upper(field));
  if (!blob.IsBytes()) return {};
  QImage image;
  if (!image.loadFromData(QByteArray::fromStdString(blob.BytesData()), "JPEG")) return {};

  const std::string labelField = Upper(Trim(picture->tag));
  const int labelColumn = labelField.empty() ? -1 : seats->ColumnIndex(labelField);
  const int captionColumn = seats->ColumnIndex("BESCHRIFTUNG");
  const int nrColumn = seats->ColumnIndex("PLATZNUMMER");
  std::vector<OccupiedSeat> marks;
  const size_t saved = seats->Pos();
  for (size_t i = 0; i < seats->Count(); ++i) {
    seats->Go(i);
    OccupiedSeat s;
    if (captionColumn >= 0) s.label = Trim(seats->Field("BESCHRIFTUNG").ToText(fs));
    if (labelColumn >= 0) s.label += " (" + Trim(seats->Field(labelField).ToText(fs)) + ")";
    if (nrColumn >= 0) s.nr = Trim(seats->Field("PLATZNUMMER").ToText(fs));
    if (s.nr.empty()) continue;
    marks.push_back(std::move(s));
  }
  seats->Go(saved);

  DrawOccupiedSeats(image, SeatMapDefinition(definition), marks, zeigePlatzNr);
  engine->ReplacePicture(picture->name, image);
  return {};
}

}  // namespace tarvo::report

#include "report/engine/Layout.h"

#include <QByteArray>
#include <QFile>
#include <QImage>

#include <algorithm>
#include <cctype>
#include <cmath>

#include "common/RtfToText.h"
#include "report/engine/DisplayFormat.h"
#include "report/engine/TextMeasure.h"

namespace tarvo::report {


namespace {

constexpr double kPadX = 0.5;   // mm inside a text object's left and right edge
constexpr double kPadY = 0.3;   // mm above and below its text
constexpr double kEps = 0.001;

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

TextFont FontOf(const ObjectDef& o) {
  TextFont f;
  f.family = o.fontFamily;
  f.size = o.fontSize;
  f.bold = o.bold;
  f.italic = o.italic;
  f.underline = o.underline;
  return f;
}

struct Atom {
  PreparedItem item;        // y relative to the band
  bool splittable = false;  // boxes may be cut, text lines and pictures not
  const ObjectDef* deferred = nullptr;  // text evaluated after the last page
  const ObjectDef* object = nullptr;    // the picture object an image came from
};

struct BandInstance {
  double height = 0;
  std::vector<Atom> atoms;
};

struct DeferredText {
  const ObjectDef* def;
  size_t pageIndex;
  double x, y, w, h;
};

struct MasterUnit {
  std::vector<const BandDef*> groupHeaders;
  const BandDef* master = nullptr;
  std::vector<const BandDef*> details;
  std::vector<const BandDef*> groupFooters;  // first closes the innermost group
};

}  // namespace

void Cursor::Reset(Table table) {
  table_ = std::move(table);
  pos_ = 0;
  columns_.clear();
  for (size_t i = 0; i < table_.columns.size(); ++i) columns_.emplace(Upper(table_.columns[i]), static_cast<int>(i));
}

int Cursor::ColumnIndex(const std::string& upperName) const {
  auto it = columns_.find(upperName);
  return it == columns_.end() ? -1 : it->second;
}

Value Cursor::Field(const std::string& upperName) const {
  const int i = ColumnIndex(upperName);
  if (i < 0) throw std::runtime_error("Feld " + upperName + " nicht im Datensatz " + name + " vorhanden");
  if (pos_ >= table_.rows.size()) return {};
  return table_.rows[pos_][static_cast<size_t>(i)];
}

struct ReportEngine::Impl {
  ReportEngine& e;
  std::map<std::string, std::unique_ptr<Cursor>> cursors;  // upper-case data set names
  std::vector<std::string> detailSets;                      // upper-case
  // Page state.
  const PageDef* page = nullptr;
  double y = 0, contentTop = 0, footerTop = 0;
  bool pageOpen = false;
  std::vector<const BandDef*> headers, footers;
  std::vector<DeferredText> deferred;
  BandInstance* building = nullptr;  // the band Build is laying out

  explicit Impl(ReportEngine& engine) : e(engine) {}

  ScriptEngine& S() { return *e.script_; }
  PreparedReport& Out() { return e.prepared_; }
  bool Cancelled() { return S().Cancelled(); }

  Cursor& CursorFor(const std::string& name) {
    auto& c = cursors[Upper(name)];
    if (!c) {
      c = std::make_unique<Cursor>();
      c->name = name;
      S().BindDataSet(name, c.get());
    }
    return *c;
  }

  void OpenDataSet(const DataSetDef& d) {
    std::vector<BoundParam> params;
    for (const auto& p : d.params) {
      BoundParam b{p.name, p.type, p.value};
      if (!p.expression.empty()) b.value = CoerceTo(S().Eval(p.expression), p.type);
      params.push_back(std::move(b));
    }
    Cursor& c = CursorFor(d.name);
    c.Reset(e.data_.Query(d.sql, params));
  }

  Cursor* Find(const std::string& name) {
    auto it = cursors.find(Upper(name));
    return it == cursors.end() ? nullptr : it->second.get();
  }

  void AddBuiltins() {
    auto& s = S();
    s.AddBuiltin("SUM", [this](const std::vector<Value>& a) -> Value {
      if (a.size() != 2) throw std::runtime_error("SUM erwartet Datensatz und Feld");
      Cursor* c = Find(a[0].ToText(e.fs_));
      if (!c) throw std::runtime_error("Datensatz " + a[0].ToText(e.fs_) + " unbekannt");
      const int col = c->ColumnIndex(Upper(a[1].ToText(e.fs_)));
      if (col < 0) throw std::runtime_error("Feld " + a[1].ToText(e.fs_) + " nicht im Datensatz " + c->name + " vorhanden");
      double sum = 0;
      bool allInt = true;
      for (const auto& row : c->Data().rows) {
        const Value& v = row[static_cast<size_t>(col)];
        if (!v.IsInteger() && !v.IsNull()) allInt = false;
        sum += v.ToNumber();
      }
      if (allInt) return Value(static_cast<int64_t>(std::llround(sum)));
      return Value(sum);
    });
    s.AddBuiltin("COUNT", [this](const std::vector<Value>& a) -> Value {
      if (a.size() != 1) throw std::runtime_error("COUNT erwartet einen Datensatz");
      Cursor* c = Find(a[0].ToText(e.fs_));
      if (!c) throw std::runtime_error("Datensatz " + a[0].ToText(e.fs_) + " unbekannt");
      return Value(static_cast<int64_t>(c->Count()));
    });
    s.AddBuiltin("FORMAT", [this](const std::vector<Value>& a) -> Value {
      if (a.size() != 2) throw std::runtime_error("FORMAT erwartet Wert und Format");
      return Value(FormatValue(a[0], a[1].ToText(e.fs_), e.fs_));
    });
    s.AddBuiltin("IIF", [](const std::vector<Value>& a) -> Value {
      if (a.size() != 3) throw std::runtime_error("IIF erwartet drei Argumente");
      const bool c = a[0].IsBool() ? a[0].Bool() : !a[0].IsNull();
      return c ? a[1] : a[2];
    });
    s.AddBuiltin("NOW", [](const std::vector<Value>&) -> Value { return Value(DateTime::Now()); });
  }

  // Text with [expression] parts; brackets nest, so Buchung["NAME"] works.
  std::string Expand(const std::string& text, const ObjectDef& o) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
      if (text[i] != '[') {
        out += text[i++];
        continue;
      }
      int depth = 0;
      size_t j = i;
      for (; j < text.size(); ++j) {
        if (text[j] == '[') ++depth;
        else if (text[j] == ']' && --depth == 0) break;
      }
      if (j >= text.size()) throw ETemplateError("Objekt " + o.name + ": \"[\" ohne \"]\" im Text");
      const std::string expr = text.substr(i + 1, j - i - 1);
      Value v = S().Eval(expr);
      if (o.hideZero && v.IsNumber() && v.ToNumber() == 0) {
      } else {
        try {
          out += FormatValue(v, o.format, e.fs_);
        } catch (const std::runtime_error& err) {
          throw ETemplateError("Objekt " + o.name + ": " + err.what());
        }
      }
      i = j + 1;
    }
    return out;
  }

  // Lays one text out in a rectangle; returns the atoms and the height used.
  double TextAtoms(const ObjectDef& o, const std::string& content, double left, double top,
                   double height, bool grow, std::vector<Atom>& atoms) {
    const TextFont font = FontOf(o);
    const double inner = std::max(0.1, o.width - 2 * kPadX);
    std::vector<TextLine> lines = LayoutText(content, font, inner, o.wordWrap);
    double textHeight = 2 * kPadY;
    for (const auto& l : lines) textHeight += l.height;
    const double objHeight = grow ? std::max(height, textHeight) : height;
    if (!o.fill.empty() || o.frame.Any()) {
      Atom box;
      box.item.kind = PreparedItem::Kind::Box;
      box.item.x = left;
      box.item.y = top;
      box.item.w = o.width;
      box.item.h = objHeight;
      box.item.fill = o.fill;
      box.item.frameLeft = o.frame.left;
      box.item.frameTop = o.frame.top;
      box.item.frameRight = o.frame.right;
      box.item.frameBottom = o.frame.bottom;
      box.item.lineWidth = o.frame.width;
      box.item.lineColor = o.frame.color;
      box.splittable = true;
      atoms.push_back(std::move(box));
    }
    double voff = 0;
    if (textHeight < objHeight) {
      if (o.valign == VAlign::Bottom) voff = objHeight - textHeight;
      else if (o.valign == VAlign::Center) voff = (objHeight - textHeight) / 2;
    }
    double ly = top + kPadY + voff;
    for (const auto& l : lines) {
      if (!grow && ly + l.height > top + objHeight + kEps && ly > top + kPadY + kEps) break;  // clipped
      Atom a;
      a.item.kind = PreparedItem::Kind::TextRun;
      a.item.text = l.text;
      a.item.font = font;
      a.item.color = o.color;
      double x = left + kPadX;
      if (o.align == HAlign::Right) x = left + o.width - kPadX - l.width;
      else if (o.align == HAlign::Center) x = left + (o.width - l.width) / 2;
      a.item.x = x;
      a.item.y = ly;
      a.item.w = l.width;
      a.item.h = l.height;
      a.item.baseline = l.ascent;
      if (!l.text.empty()) atoms.push_back(std::move(a));
      ly += l.height;
    }
    return objHeight;
  }

  QImage LoadPicture(const ObjectDef& o) {
    std::string bytes = o.data;
    if (!o.source.empty()) {
      Value v = S().Eval(o.source);
      bytes = v.IsBytes() ? v.BytesData() : (v.IsNull() ? "" : v.ToText(e.fs_));
    } else if (!o.file.empty()) {
      QFile f(QString::fromStdString(o.file));
      if (!f.open(QIODevice::ReadOnly))
        throw ETemplateError("Bild " + o.name + ": Die Datei " + o.file + " kann nicht gelesen werden");
      bytes = f.readAll().toStdString();
    }
    QImage img;
    if (bytes.empty()) return img;  // an empty field shows no picture
    if (!img.loadFromData(QByteArray::fromStdString(bytes)))
      throw ETemplateError("Bild " + o.name + ": Die Bilddaten sind kein lesbares Bild");
    return img;
  }

  BandInstance Build(const BandDef& b) {
    BandInstance inst;
    struct Building {
      BandInstance*& slot;
      BandInstance* outer;
      ~Building() { slot = outer; }
    } scope{building, building};
    building = &inst;
    double height = b.height;
    std::vector<std::pair<size_t, const ObjectDef*>> toBand;  // box atoms that take the band's height
    struct Placed {
      const ObjectDef* o;
      size_t begin, end;
      double grown;  // height after growing
      double shift = 0;
    };
    std::vector<Placed> placed;
    for (const auto& o : b.objects) {
      const size_t begin = inst.atoms.size();
      double grown = o.height;
      switch (o.kind) {
        case ObjectKind::Text:
        case ObjectKind::Rich: {
          const bool deferredText = o.kind == ObjectKind::Text && Upper(o.text).find("TOTALPAGES") != std::string::npos;
          if (deferredText) {
            Atom a;
            a.item.kind = PreparedItem::Kind::TextRun;
            a.item.x = o.left;
            a.item.y = o.top;
            a.item.w = o.width;
            a.item.h = o.height;
            a.deferred = &o;
            inst.atoms.push_back(std::move(a));
            height = std::max(height, o.top + o.height);
            break;
          }
          std::string content = o.kind == ObjectKind::Rich ? Expand(RtfToText(o.text), o) : Expand(o.text, o);
          if (o.stretchToBand && (!o.fill.empty() || o.frame.Any())) toBand.emplace_back(inst.atoms.size(), &o);
          const double h = TextAtoms(o, content, o.left, o.top, o.height, o.stretch, inst.atoms);
          grown = h;
          if (b.stretch) height = std::max(height, o.top + h);
          break;
        }
        case ObjectKind::Picture: {
          QImage img = LoadPicture(o);
          if (!img.isNull()) {
            Atom a;
            a.item.kind = PreparedItem::Kind::Image;
            double w = o.width, h = o.height, x = o.left, y = o.top;
            if (o.keepAspect && img.width() > 0 && img.height() > 0) {
              const double scale = std::min(w / img.width(), h / img.height());
              const double iw = img.width() * scale, ih = img.height() * scale;
              x += (w - iw) / 2;
              y += (h - ih) / 2;
              w = iw;
              h = ih;
            }
            a.item.x = x;
            a.item.y = y;
            a.item.w = w;
            a.item.h = h;
            a.item.image = std::move(img);
            a.object = &o;
            inst.atoms.push_back(std::move(a));
          }
          break;
        }
        case ObjectKind::Line: {
          Atom a;
          a.item.kind = PreparedItem::Kind::Line;
          a.item.x = o.left;
          a.item.y = o.top;
          a.item.w = o.width;
          a.item.h = o.height;
          a.item.lineWidth = o.lineWidth;
          a.item.lineColor = o.color;
          inst.atoms.push_back(std::move(a));
          break;
        }
        case ObjectKind::Rect: {
          Atom a;
          a.item.kind = PreparedItem::Kind::Box;
          a.item.x = o.left;
          a.item.y = o.top;
          a.item.w = o.width;
          a.item.h = o.height;
          a.item.fill = o.fill;
          a.item.frameLeft = o.frame.left;
          a.item.frameTop = o.frame.top;
          a.item.frameRight = o.frame.right;
          a.item.frameBottom = o.frame.bottom;
          a.item.lineWidth = o.frame.width;
          a.item.lineColor = o.frame.color;
          inst.atoms.push_back(std::move(a));
          break;
        }
      }
      height = std::max(height, o.top + (o.kind == ObjectKind::Line ? std::max(0.0, o.height) : 0.0));
      placed.push_back({&o, begin, inst.atoms.size(), grown});
    }
    // Objects below a grown object that overlap it horizontally move down by
    // its growth (and by its own shift), unless they say shift="false".
    std::vector<Placed*> byTop;
    for (auto& p : placed) byTop.push_back(&p);
    std::stable_sort(byTop.begin(), byTop.end(), [](const Placed* a, const Placed* b) { return a->o->top < b->o->top; });
    for (size_t i = 0; i < byTop.size(); ++i) {
      Placed& p = *byTop[i];
      if (!p.o->shift) continue;
      for (size_t j = 0; j < i; ++j) {
        const Placed& q = *byTop[j];
        const bool above = q.o->top + q.o->height <= p.o->top + kEps;
        const bool overlap = q.o->left < p.o->left + p.o->width - kEps && p.o->left < q.o->left + q.o->width - kEps;
        if (above && overlap) p.shift = std::max(p.shift, q.shift + q.grown - q.o->height);
      }
      if (p.shift <= kEps) continue;
      for (size_t k = p.begin; k < p.end; ++k) inst.atoms[k].item.y += p.shift;
      if (b.stretch) height = std::max(height, p.o->top + p.shift + std::max(p.grown, 0.0));
    }
    std::map<const ObjectDef*, double> shiftOf;
    for (const auto& p : placed) shiftOf[p.o] = p.shift;
    for (const auto& [index, o] : toBand)
      inst.atoms[index].item.h = std::max(inst.atoms[index].item.h, height - o->top - shiftOf[o]);
    inst.height = height;
    return inst;
  }

  static double AtomTop(const Atom& a) {
    return a.item.kind == PreparedItem::Kind::Line ? std::min(a.item.y, a.item.y + a.item.h) : a.item.y;
  }
  static double AtomBottom(const Atom& a) {
    return a.item.kind == PreparedItem::Kind::Line ? std::max(a.item.y, a.item.y + a.item.h)
                                                   : a.item.y + a.item.h;
  }

  void Emit(const Atom& a, double offsetY) {
    const double left = page->marginLeft;
    if (a.deferred) {
      deferred.push_back({a.deferred, Out().pages.size() - 1, left + a.item.x, offsetY + a.item.y, a.item.w, a.item.h});
      return;
    }
    PreparedItem it = a.item;
    it.x += left;
    it.y += offsetY;
    Out().pages.back().items.push_back(std::move(it));
  }

  void EmitAll(const BandInstance& inst) {
    for (const auto& a : inst.atoms) Emit(a, y);
    y += inst.height;
  }

  bool Fresh() const { return y <= contentTop + kEps; }

  void PlaceBand(BandInstance inst, const BandDef& b) {
    if (b.startNewPage && !Fresh()) NewPage();
    if (inst.height <= footerTop - y + kEps) {
      EmitAll(inst);
      return;
    }
    if (!Fresh() && (!b.allowSplit || inst.height <= footerTop - contentTop + kEps)) {
      NewPage();
      if (inst.height <= footerTop - y + kEps) {
        EmitAll(inst);
        return;
      }
    }
    // Taller than the space left: break it across pages.
    while (inst.height > footerTop - y + kEps) {
      const double avail = footerTop - y;
      double cut = avail;
      for (bool moved = true; moved;) {
        moved = false;
        for (const auto& a : inst.atoms) {
          if (a.splittable) continue;
          if (AtomTop(a) < cut - kEps && AtomBottom(a) > cut + kEps) {
            cut = AtomTop(a);
            moved = true;
          }
        }
      }
      if (cut <= kEps) {
        if (!Fresh()) {
          NewPage();
          continue;
        }
        cut = avail;  // nothing fits even on a fresh page: cut through it
      }
      BandInstance rest;
      rest.height = inst.height - cut;
      for (auto& a : inst.atoms) {
        const double top = AtomTop(a), bottom = AtomBottom(a);
        if (bottom <= cut + kEps || (!a.splittable && top < cut - kEps)) {
          Emit(a, y);
        } else if (top >= cut - kEps) {
          Atom moved = a;
          moved.item.y -= cut;
          rest.atoms.push_back(std::move(moved));
        } else {  // a box across the cut
          Atom head = a;
          head.item.h = cut - top;
          Emit(head, y);
          Atom tail = a;
          tail.item.y = 0;
          tail.item.h = bottom - cut;
          rest.atoms.push_back(std::move(tail));
        }
      }
      y += cut;
      NewPage();
      inst = std::move(rest);
    }
    EmitAll(inst);
  }

  // Prints a band unless its before-print script says false; returns false
  // when the preparation was cancelled.
  bool Print(const BandDef& b) {
    if (!b.visible) return true;
    if (!b.beforePrint.empty()) {
      Value r = S().Run(b.beforePrint, "Band " + b.name);
      if (Cancelled()) return false;
      if (r.IsBool() && !r.Bool()) return true;
    }
    PlaceBand(Build(b), b);
    return !Cancelled();
  }

  void SetPageGlobals() { S().SetGlobal("PAGE", Value(static_cast<int64_t>(Out().pages.size()))); }

  void FinishPage() {
    if (!pageOpen) return;
    double fy = footerTop;
    for (const BandDef* f : footers) {
      if (!f->visible) continue;
      BandInstance inst = Build(*f);
      for (const auto& a : inst.atoms) Emit(a, fy);
      fy += inst.height;
    }
    pageOpen = false;
  }

  void NewPage() {
    FinishPage();
    PreparedPage pg;
    pg.width = page->width;
    pg.height = page->height;
    Out().pages.push_back(std::move(pg));
    pageOpen = true;
    SetPageGlobals();
    double footerHeight = 0;
    for (const BandDef* f : footers)
      if (f->visible) footerHeight += f->height;
    footerTop = page->height - page->marginBottom - footerHeight;
    y = page->marginTop;
    for (const BandDef* h : headers) {
      if (!h->visible) continue;
      BandInstance inst = Build(*h);
      EmitAll(inst);
    }
    contentTop = y;
    if (footerTop - contentTop < 1)
      throw ETemplateError("Seite " + page->name + ": Kopf- und Fußbereich lassen keinen Platz für Inhalt");
  }

  bool RunUnit(const MasterUnit& u) {
    Cursor* c = nullptr;
    size_t rows = 1;
    if (!u.master->dataSet.empty()) {
      c = Find(u.master->dataSet);
      if (!c) throw ETemplateError("Band " + u.master->name + ": Datensatz " + u.master->dataSet + " unbekannt");
      rows = c->Count();
    }
    const size_t groups = u.groupHeaders.size();
    std::vector<Value> current(groups);
    auto footerFor = [&](size_t level) -> const BandDef* {
      const size_t k = groups - 1 - level;
      return k < u.groupFooters.size() ? u.groupFooters[k] : nullptr;
    };
    for (size_t i = 0; i < rows; ++i) {
      if (c) c->Go(i);
      S().SetGlobal("LINE", Value(static_cast<int64_t>(i + 1)));
      // Find the outermost group whose condition changed.
      size_t changed = groups;
      std::vector<Value> now(groups);
      for (size_t g = 0; g < groups; ++g) now[g] = S().Eval(u.groupHeaders[g]->condition);
      for (size_t g = 0; g < groups; ++g)
        if (i == 0 || !(now[g] == current[g])) {
          changed = g;
          break;
        }
      if (changed < groups) {
        if (i > 0) {
          if (c) c->Go(i - 1);
          for (size_t g = groups; g-- > changed;)
            if (const BandDef* f = footerFor(g); f && !Print(*f)) return false;
          if (c) c->Go(i);
        }
        for (size_t g = changed; g < groups; ++g)
          if (!Print(*u.groupHeaders[g])) return false;
      }
      current = std::move(now);
      if (!Print(*u.master)) return false;
      for (const BandDef* d : u.details) {
        const DataSetDef* def = e.report_.FindDataSet(d->dataSet);
        if (!def) throw ETemplateError("Band " + d->name + ": Datensatz " + d->dataSet + " unbekannt");
        OpenDataSet(*def);
        Cursor* dc = Find(d->dataSet);
        for (size_t k = 0; k < dc->Count(); ++k) {
          dc->Go(k);
          if (!Print(*d)) return false;
        }
      }
    }
    if (rows > 0) {
      if (c) c->Go(rows - 1);
      for (size_t g = groups; g-- > 0;)
        if (const BandDef* f = footerFor(g); f && !Print(*f)) return false;
    }
    return true;
  }

  bool RunPage(const PageDef& p) {
    page = &p;
    headers.clear();
    footers.clear();
    std::vector<const BandDef*> titles, summaries;
    std::vector<MasterUnit> units;
    std::vector<const BandDef*> pendingHeaders;
    for (const auto& b : p.bands) {
      switch (b.kind) {
        case BandKind::PageHeader: headers.push_back(&b); break;
        case BandKind::PageFooter: footers.push_back(&b); break;
        case BandKind::ReportTitle: titles.push_back(&b); break;
        case BandKind::ReportSummary: summaries.push_back(&b); break;
        case BandKind::GroupHeader: pendingHeaders.push_back(&b); break;
        case BandKind::MasterData: {
          MasterUnit u;
          u.groupHeaders = std::move(pendingHeaders);
          pendingHeaders.clear();
          u.master = &b;
          units.push_back(std::move(u));
          break;
        }
        case BandKind::DetailData:
          if (units.empty()) throw ETemplateError("Detailband " + b.name + " ohne vorangehendes Datenband");
          units.back().details.push_back(&b);
          break;
        case BandKind::GroupFooter:
          if (units.empty()) throw ETemplateError("Gruppenfuß " + b.name + " ohne vorangehendes Datenband");
          units.back().groupFooters.push_back(&b);
          break;
      }
    }
    if (!pendingHeaders.empty()) throw ETemplateError("Gruppenkopf " + pendingHeaders.front()->name + " ohne folgendes Datenband");
    NewPage();
    for (const BandDef* t : titles)
      if (!Print(*t)) return false;
    for (const auto& u : units)
      if (!RunUnit(u)) return false;
    for (const BandDef* s : summaries)
      if (!Print(*s)) return false;
    FinishPage();
    return true;
  }

  void ResolveDeferred() {
    const int64_t total = static_cast<int64_t>(Out().pages.size());
    S().SetGlobal("TOTALPAGES", Value(total));
    for (const auto& d : deferred) {
      S().SetGlobal("PAGE", Value(static_cast<int64_t>(d.pageIndex + 1)));
      const std::string content = Expand(d.def->text, *d.def);
      std::vector<Atom> atoms;
      TextAtoms(*d.def, content, d.x, d.y, d.h, false, atoms);
      for (auto& a : atoms) Out().pages[d.pageIndex].items.push_back(std::move(a.item));
    }
  }
};

ReportEngine::ReportEngine(ReportDef& report, IDataProvider& data, const FormatSettings& fs,
                           const FunctionRegistry* functions)
    : report_(report), data_(data), fs_(fs), functions_(functions) {}

ReportEngine::~ReportEngine() = default;

namespace {
thread_local ReportEngine* tActiveEngine = nullptr;
}

ReportEngine* ReportEngine::Active() { return tActiveEngine; }

Cursor* ReportEngine::DataSet(const std::string& name) { return impl_ ? impl_->Find(name) : nullptr; }

bool ReportEngine::ReplacePicture(const std::string& objectName, const QImage& image) {
  if (!impl_ || !impl_->building || image.isNull()) return false;
  const std::string name = Upper(objectName);
  for (auto& a : impl_->building->atoms) {
    if (!a.object || a.item.kind != PreparedItem::Kind::Image || Upper(a.object->name) != name) continue;
    const ObjectDef& o = *a.object;
    double w = o.width, h = o.height, x = o.left, y = o.top;
    if (o.keepAspect && image.width() > 0 && image.height() > 0) {
      const double scale = std::min(w / image.width(), h / image.height());
      x += (w - image.width() * scale) / 2;
      y += (h - image.height() * scale) / 2;
      w = image.width() * scale;
      h = image.height() * scale;
    }
    a.item.x = x;
    a.item.y = y;
    a.item.w = w;
    a.item.h = h;
    a.item.image = image;
    return true;
  }
  return false;
}

bool ReportEngine::Prepare() {
  struct ActiveScope {
    ReportEngine* outer = tActiveEngine;
    ~ActiveScope() { tActiveEngine = outer; }
  } active;
  tActiveEngine = this;
  prepared_ = PreparedReport{};
  prepared_.name = report_.name;
  impl_.reset();
  script_ = std::make_unique<ScriptEngine>(fs_, functions_);
  impl_ = std::make_unique<Impl>(*this);
  Impl& im = *impl_;
  im.AddBuiltins();
  if (OnBeginDoc) OnBeginDoc();
  for (const auto& [name, value] : report_.variables) script_->SetGlobal(name, value);
  script_->SetGlobal("PAGE", Value(int64_t{0}));
  script_->SetGlobal("TOTALPAGES", Value(int64_t{0}));
  script_->SetGlobal("LINE", Value(int64_t{0}));
  for (const auto& p : report_.pages)
    for (const auto& b : p.bands)
      if (b.kind == BandKind::DetailData) im.detailSets.push_back(Upper(b.dataSet));
  // Every data set gets its global now, so scripts may name any of them.
  for (const auto& d : report_.dataSets) im.CursorFor(d.name);
  for (const auto& d : report_.dataSets) {
    if (std::find(im.detailSets.begin(), im.detailSets.end(), Upper(d.name)) != im.detailSets.end()) continue;
    im.OpenDataSet(d);
  }
  if (!report_.script.empty()) {
    script_->Run(report_.script, "Script");
    if (script_->Cancelled()) return false;
  }
  for (const auto& p : report_.pages) {
    if (p.dialog || !p.visible) continue;
    if (!im.RunPage(p)) return false;
  }
  im.ResolveDeferred();
  return !script_->Cancelled();
}

}  // namespace tarvo::report

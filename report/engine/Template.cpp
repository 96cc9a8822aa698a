#include "report/engine/Template.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace tarvo::report {

namespace {

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class Reader {
 public:
  explicit Reader(const std::string& xml) : x_(QByteArray::fromStdString(xml)) {}

  ReportDef Read() {
    ReportDef r;
    while (!x_.atEnd()) {
      x_.readNext();
      if (x_.isStartElement()) {
        if (x_.name() != u"report") Fail("Das Wurzelelement muss <report> sein");
        r.name = Attr("name");
        r.parent = Attr("parent");
        ReadReport(r);
        break;
      }
    }
    CheckXml();
    if (!seenRoot_) Fail("Die Vorlage enthält kein <report>-Element");
    return r;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw ETemplateError("Vorlage fehlerhaft (Zeile " + std::to_string(x_.lineNumber()) +
                         "): " + what);
  }
  void CheckXml() {
    if (x_.hasError())
      throw ETemplateError("Vorlage fehlerhaft (Zeile " + std::to_string(x_.lineNumber()) +
                           "): " + x_.errorString().toStdString());
  }
  std::string Name() const { return x_.name().toString().toStdString(); }
  bool Has(const char* name) const { return x_.attributes().hasAttribute(QString::fromLatin1(name)); }
  std::string Attr(const char* name, const std::string& def = {}) const {
    auto a = x_.attributes();
    QString n = QString::fromLatin1(name);
    return a.hasAttribute(n) ? a.value(n).toString().toStdString() : def;
  }
  double Num(const char* name, double def) {
    if (!Has(name)) return def;
    std::string v = Attr(name);
    char* end = nullptr;
    double d = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != 0) Fail(std::string("Attribut ") + name + "=\"" + v + "\" ist keine Zahl");
    return d;
  }
  bool Bool(const char* name, bool def) {
    if (!Has(name)) return def;
    std::string v = Lower(Attr(name));
    if (v == "true" || v == "1" || v == "yes" || v == "ja") return true;
    if (v == "false" || v == "0" || v == "no" || v == "nein") return false;
    Fail(std::string("Attribut ") + name + "=\"" + v + "\" ist kein Wahrheitswert");
  }
  std::string Text() {
    QString t = x_.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
    CheckXml();
    return t.toStdString();
  }
  void Skip() {
    x_.skipCurrentElement();
    CheckXml();
  }

  void ReadReport(ReportDef& r) {
    seenRoot_ = true;
    while (x_.readNextStartElement()) {
      const auto n = x_.name();
      if (n == u"datasets") {
        while (x_.readNextStartElement()) {
          if (x_.name() != u"dataset") Fail("Unbekanntes Element <" + Name() + "> in <datasets>");
          r.dataSets.push_back(ReadDataSet());
        }
      } else if (n == u"dataset") {
        r.dataSets.push_back(ReadDataSet());
      } else if (n == u"variables") {
        while (x_.readNextStartElement()) {
          if (x_.name() != u"variable") Fail("Unbekanntes Element <" + Name() + "> in <variables>");
          std::string name = Attr("name");
          if (name.empty()) Fail("<variable> ohne name");
          r.SetVariable(name, Value(Attr("value")));
          Skip();
        }
      } else if (n == u"script") {
        if (!r.script.empty()) r.script += "\n";
        r.script += Text();
      } else if (n == u"page") {
        r.pages.push_back(ReadPage(false));
      } else if (n == u"dialog") {
        r.pages.push_back(ReadPage(true));
      } else {
        Fail("Unbekanntes Element <" + Name() + "> in <report>");
      }
    }
    CheckXml();
  }

  DataSetDef ReadDataSet() {
    DataSetDef d;
    d.name = Attr("name");
    if (d.name.empty()) Fail("<dataset> ohne name");
    d.sql = Attr("sql");
    while (x_.readNextStartElement()) {
      if (x_.name() == u"sql") {
        d.sql = Text();
      } else if (x_.name() == u"param") {
        QueryParam p;
        p.name = Attr("name");
        if (p.name.empty()) Fail("<param> ohne name");
        try {
          p.type = ParseDataType(Attr("type", "string"));
        } catch (const std::exception& e) {
          Fail(e.what());
        }
        p.expression = Attr("expression");
        if (Has("value")) p.value = CoerceTo(Value(Attr("value")), p.type);
        d.params.push_back(std::move(p));
        Skip();
      } else {
        Fail("Unbekanntes Element <" + Name() + "> in <dataset>");
      }
    }
    return d;
  }

  PageDef ReadPage(bool dialog) {
    PageDef p;
    p.dialog = dialog;
    p.name = Attr("name");
    p.visible = Bool("visible", true);
    if (dialog) {
      // Dialog pages are kept with their controls but never laid out.
      while (x_.readNextStartElement()) {
        p.dialogControls.emplace_back(Name(), Attr("name"));
        Skip();
      }
      return p;
    }
    std::string size = Lower(Attr("size", "a4"));
    if (size == "a4") { p.width = 210; p.height = 297; }
    else if (size == "a5") { p.width = 148; p.height = 210; }
    else if (size == "a3") { p.width = 297; p.height = 420; }
    else if (size == "letter") { p.width = 215.9; p.height = 279.4; }
    else if (size == "custom") {}
    else Fail("Unbekannte Seitengröße \"" + size + "\"");
    p.width = Num("width", p.width);
    p.height = Num("height", p.height);
    std::string o = Lower(Attr("orientation", "portrait"));
    if (o == "landscape") p.landscape = true;
    else if (o != "portrait") Fail("Unbekannte Ausrichtung \"" + o + "\"");
    if (p.landscape && p.width < p.height) std::swap(p.width, p.height);
    double m = Num("margin", 10);
    p.marginLeft = Num("marginleft", m);
    p.marginTop = Num("margintop", m);
    p.marginRight = Num("marginright", m);
    p.marginBottom = Num("marginbottom", m);
    if (p.width <= 0 || p.height <= 0 || p.marginLeft + p.marginRight >= p.width ||
        p.marginTop + p.marginBottom >= p.height)
      Fail("Seitengröße und Ränder passen nicht zusammen");
    while (x_.readNextStartElement()) {
      if (x_.name() != u"band") Fail("Unbekanntes Element <" + Name() + "> in <page>");
      p.bands.push_back(ReadBand());
    }
    return p;
  }

  BandDef ReadBand() {
    BandDef b;
    static const std::map<std::string, BandKind> kinds = {
        {"title", BandKind::ReportTitle},       {"reporttitle", BandKind::ReportTitle},
        {"pageheader", BandKind::PageHeader},   {"pagefooter", BandKind::PageFooter},
        {"masterdata", BandKind::MasterData},   {"detaildata", BandKind::DetailData},
        {"groupheader", BandKind::GroupHeader}, {"groupfooter", BandKind::GroupFooter},
        {"summary", BandKind::ReportSummary},   {"reportsummary", BandKind::ReportSummary}};
    std::string t = Lower(Attr("type"));
    auto it = kinds.find(t);
    if (it == kinds.end()) Fail("Unbekannter Bandtyp \"" + t + "\"");
    b.kind = it->second;
    b.name = Attr("name");
    b.height = Num("height", 0);
    b.stretch = Bool("stretch", true);
    b.allowSplit = Bool("allowsplit", true);
    b.startNewPage = Bool("startnewpage", false);
    b.visible = Bool("visible", true);
    b.dataSet = Attr("dataset");
    b.condition = Attr("condition");
    b.beforePrint = Attr("beforeprint");
    if (b.kind == BandKind::DetailData && b.dataSet.empty()) Fail("Detailband ohne dataset");
    if (b.kind == BandKind::GroupHeader && b.condition.empty()) Fail("Gruppenkopf ohne condition");
    while (x_.readNextStartElement()) b.objects.push_back(ReadObject());
    return b;
  }

  ObjectDef ReadObject() {
    ObjectDef o;
    const auto n = x_.name();
    if (n == u"text") o.kind = ObjectKind::Text;
    else if (n == u"picture") o.kind = ObjectKind::Picture;
    else if (n == u"line") o.kind = ObjectKind::Line;
    else if (n == u"rect") o.kind = ObjectKind::Rect;
    else if (n == u"rich") o.kind = ObjectKind::Rich;
    else Fail("Unbekanntes Objekt <" + Name() + ">");
    o.name = Attr("name");
    o.left = Num("left", 0);
    o.top = Num("top", 0);
    o.width = Num("width", 0);
    o.height = Num("height", 0);
    o.fontFamily = Attr("font", o.fontFamily);
    o.fontSize = Num("size", o.fontSize);
    if (o.fontSize <= 0 || o.fontSize > 500) Fail("Schriftgröße außerhalb des Bereichs");
    for (const std::string& s : Split(Lower(Attr("style")))) {
      if (s == "bold") o.bold = true;
      else if (s == "italic") o.italic = true;
      else if (s == "underline") o.underline = true;
      else if (!s.empty()) Fail("Unbekannter Schriftstil \"" + s + "\"");
    }
    std::string a = Lower(Attr("align", "left"));
    if (a == "left") o.align = HAlign::Left;
    else if (a == "center") o.align = HAlign::Center;
    else if (a == "right") o.align = HAlign::Right;
    else if (a == "justify") o.align = HAlign::Justify;
    else Fail("Unbekannte Ausrichtung \"" + a + "\"");
    std::string v = Lower(Attr("valign", "top"));
    if (v == "top") o.valign = VAlign::Top;
    else if (v == "center") o.valign = VAlign::Center;
    else if (v == "bottom") o.valign = VAlign::Bottom;
    else Fail("Unbekannte Ausrichtung \"" + v + "\"");
    o.wordWrap = Bool("wordwrap", true);
    if (Lower(Attr("stretch")) == "band") {
      o.stretch = true;
      o.stretchToBand = true;
    } else {
      o.stretch = Bool("stretch", false);
    }
    o.shift = Bool("shift", true);
    o.color = Attr("color", o.color);
    o.fill = Attr("fill");
    for (const std::string& s : Split(Lower(Attr("frame")))) {
      if (s == "all") o.frame.left = o.frame.top = o.frame.right = o.frame.bottom = true;
      else if (s == "left") o.frame.left = true;
      else if (s == "top") o.frame.top = true;
      else if (s == "right") o.frame.right = true;
      else if (s == "bottom") o.frame.bottom = true;
      else if (!s.empty()) Fail("Unbekannte Rahmenseite \"" + s + "\"");
    }
    o.frame.width = Num("framewidth", o.frame.width);
    o.frame.color = Attr("framecolor", o.frame.color);
    o.format = Attr("format");
    o.hideZero = Bool("hidezero", false);
    o.source = Attr("source");
    o.file = Attr("file");
    o.keepAspect = Bool("keepaspect", true);
    o.tag = Attr("tag");
    o.lineWidth = Num("linewidth", o.lineWidth);
    if (o.kind == ObjectKind::Rect && !Has("frame"))
      o.frame.left = o.frame.top = o.frame.right = o.frame.bottom = true;
    if (o.kind == ObjectKind::Rect && Has("linewidth")) o.frame.width = o.lineWidth;
    if (o.kind == ObjectKind::Picture) {
      std::string b64 = Text();
      std::string clean;
      for (char c : b64)
        if (!std::isspace(static_cast<unsigned char>(c))) clean += c;
      if (!clean.empty()) {
        QByteArray raw = QByteArray::fromStdString(clean);
        auto res = QByteArray::fromBase64Encoding(raw, QByteArray::AbortOnBase64DecodingErrors);
        if (!res) Fail("Eingebettete Bilddaten sind kein Base64");
        o.data = res.decoded.toStdString();
      }
    } else if (o.kind == ObjectKind::Line || o.kind == ObjectKind::Rect) {
      Skip();
    } else {
      o.text = Text();
    }
    return o;
  }

  static std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
      if (c == ',' || c == ' ') {
        if (!cur.empty()) out.push_back(cur);
        cur.clear();
      } else {
        cur += c;
      }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
  }

  QXmlStreamReader x_;
  bool seenRoot_ = false;
};

ObjectDef* FindObject(ReportDef& r, const std::string& name) {
  for (auto& p : r.pages)
    for (auto& b : p.bands)
      for (auto& o : b.objects)
        if (!o.name.empty() && o.name == name) return &o;
  return nullptr;
}

}  // namespace

DataSetDef* ReportDef::FindDataSet(const std::string& name) {
  for (auto& d : dataSets)
    if (Lower(d.name) == Lower(name)) return &d;
  return nullptr;
}

void ReportDef::SetVariable(const std::string& name, Value value) {
  for (auto& v : variables)
    if (v.first == name) {
      v.second = std::move(value);
      return;
    }
  variables.emplace_back(name, std::move(value));
}

ReportDef MergeTemplates(ReportDef parent, const ReportDef& child) {
  ReportDef r = std::move(parent);
  r.name = child.name.empty() ? r.name : child.name;
  r.parent = child.parent;
  if (!child.script.empty()) r.script = r.script.empty() ? child.script : r.script + "\n" + child.script;
  for (const auto& d : child.dataSets) {
    if (DataSetDef* own = r.FindDataSet(d.name)) *own = d;
    else r.dataSets.push_back(d);
  }
  for (const auto& v : child.variables) r.SetVariable(v.first, v.second);
  for (const auto& cp : child.pages) {
    auto pit = std::find_if(r.pages.begin(), r.pages.end(), [&](const PageDef& p) {
      return !cp.name.empty() && p.name == cp.name;
    });
    if (pit == r.pages.end()) {
      r.pages.push_back(cp);
      continue;
    }
    // Same page: the child's settings, the parent's bands merged with the child's.
    std::vector<BandDef> bands = std::move(pit->bands);
    *pit = cp;
    pit->bands = std::move(bands);
    for (const auto& cb : cp.bands) {
      auto bit = std::find_if(pit->bands.begin(), pit->bands.end(), [&](const BandDef& b) {
        return !cb.name.empty() && b.name == cb.name;
      });
      BandDef* target;
      if (bit == pit->bands.end()) {
        BandDef copy = cb;
        copy.objects.clear();
        pit->bands.push_back(std::move(copy));
        target = &pit->bands.back();
      } else {
        std::vector<ObjectDef> objects = std::move(bit->objects);
        *bit = cb;
        bit->objects = std::move(objects);
        target = &*bit;
      }
      for (const auto& co : cb.objects) {
        if (ObjectDef* own = co.name.empty() ? nullptr : FindObject(r, co.name)) *own = co;
        else target->objects.push_back(co);
      }
    }
  }
  // Objects of the child that override a parent object on a page the child
  // does not name are covered above, since FindObject searches every page.
  return r;
}

ReportDef ReadTemplate(const std::string& xml, const ParentLoader& loadParent) {
  ReportDef child = Reader(xml).Read();
  if (child.parent.empty()) return child;
  if (!loadParent) throw ETemplateError("Vorlage " + child.name + " nennt eine übergeordnete Vorlage, die nicht geladen werden kann");
  // A chain longer than this is a cycle.
  static thread_local int depth = 0;
  if (depth > 16) throw ETemplateError("Die Kette der übergeordneten Vorlagen ist zu lang (" + child.parent + ")");
  ++depth;
  try {
    ReportDef parent = ReadTemplate(loadParent(child.parent), loadParent);
    --depth;
    ReportDef merged = MergeTemplates(std::move(parent), child);
    merged.parent.clear();
    return merged;
  } catch (...) {
    --depth;
    throw;
  }
}

}  // namespace tarvo::report

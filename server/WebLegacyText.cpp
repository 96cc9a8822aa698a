#include "server/WebLegacy.h"

#include <string>

#include "common/TextUtil.h"
#include "server/WebText.h"

namespace tarvo::server {
namespace {

std::string FormDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+') {
      out.push_back(' ');
    } else if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// Every occurrence, left to right; with `ignoreCase` letters match in
// either case.
std::string ReplaceAll(std::string s, std::string_view from, std::string_view to, bool ignoreCase) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    if (i + from.size() <= s.size() &&
        (ignoreCase ? EqualsNoCase(std::string_view(s).substr(i, from.size()), from)
                    : std::string_view(s).substr(i, from.size()) == from)) {
      out.append(to);
      i += from.size();
    } else {
      out.push_back(s[i++]);
    }
  }
  return out;
}

}  // namespace

TFormFields ParseFormFields(std::string_view text) {
  TFormFields fields;
  size_t i = 0;
  while (i <= text.size()) {
    size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) amp = text.size();
    const std::string_view piece = text.substr(i, amp - i);
    if (!piece.empty()) {
      const size_t eq = piece.find('=');
      if (eq == std::string_view::npos)
        fields.emplace_back(FormDecode(piece), std::string());
      else
        fields.emplace_back(FormDecode(piece.substr(0, eq)), FormDecode(piece.substr(eq + 1)));
    }
    i = amp + 1;
  }
  return fields;
}

std::string FormField(const TFormFields& fields, std::string_view name) {
  for (const auto& [k, v] : fields)
    if (EqualsNoCase(k, name)) return v;
  return {};
}

std::string PlatformDateFormat(const FormatSettings& settings) {
  std::string f = ReplaceAll(settings.ShortDateFormat, "/", std::string(1, settings.DateSeparator), false);
  f = AsciiLower(f);
  f = ReplaceAll(f, "yyyy", "Y", true);
  f = ReplaceAll(f, "yy", "y", true);
  f = ReplaceAll(f, "mm", "m", true);
  f = ReplaceAll(f, "ddd", "d", true);
  f = ReplaceAll(f, "dd", "d", true);
  return f;
}

std::string PlatformTimeFormat(const FormatSettings& settings) {
  std::string f = AsciiLower(settings.ShortTimeFormat);
  f = ReplaceAll(f, "hh", "H", false);
  f = ReplaceAll(f, "mm", "i", false);
  return f;
}

std::string SettingsJson(const FormatSettings& settings) {
  return "{\"dateformat\":\"" + PlatformDateFormat(settings) + "\",\"timeformat\":\"" +
         PlatformTimeFormat(settings) + "\",\"dateseparator\":\"" + std::string(1, settings.DateSeparator) +
         "\",\"timeseparator\":\"" + std::string(1, settings.TimeSeparator) + "\",\"currencystring\":\"" +
         settings.CurrencySymbol + "\"}";
}

std::string UpdateBlobErrorText(const std::string& message) {
  const size_t marker = message.find("ERR:");
  if (marker == std::string::npos) return message;
  const size_t from = marker + 7;
  return from < message.size() ? message.substr(from) : std::string();
}

}  // namespace tarvo::server

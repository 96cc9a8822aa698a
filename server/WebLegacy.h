// The legacy endpoints, answered for the web platform's old client (the
// actions are members of TWebModul, Web.h; no envelope):
//
//   "/execute"     form fields "sql" (or "sql" of the query string when the
//                  body has none) and "statement" (MD5 of a statement-kind
//                  token, DataModul.h): the legacy read JSON or the status
//                  JSON, content type application/json; charset="UTF-8".
//                  An unknown or missing code runs nothing and answers the
//                  form fields (name=value CR LF each), "  TARVOserver: "
//                  and "Statement (<code>) nicht erlaubt. " with status 200.
//   "/settings"    the regional formats in the web platform's notation.
//   "/updateblob"  form fields "sql" (with the parameter :content) and
//                  "blobcontent": "OK", or the error text, status 200.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/FormatSettings.h"

namespace tarvo::server {

inline constexpr const char* kLegacyJsonContentType = "application/json; charset=\"UTF-8\"";

using TFormFields = std::vector<std::pair<std::string, std::string>>;

// "application/x-www-form-urlencoded": name=value pairs split at "&",
// "+" as a blank, "%HH" as a byte; a broken percent sequence stays as it
// stands. Empty pieces are skipped.
TFormFields ParseFormFields(std::string_view text);
// The value of the first field of that name (letter case ignored); empty
// when absent.
std::string FormField(const TFormFields& fields, std::string_view name);

// The settings JSON of "/settings" for these regional settings.
std::string SettingsJson(const FormatSettings& settings);
// The short date pattern in the web platform's notation ("dd.MM.yyyy"
// gives "d.m.Y"), and the short time pattern ("hh:mm" gives "H:i").
std::string PlatformDateFormat(const FormatSettings& settings);
std::string PlatformTimeFormat(const FormatSettings& settings);

// The message an "/updateblob" failure answers with: from seven characters
// after the first "ERR:" on when the message has one, else unchanged.
std::string UpdateBlobErrorText(const std::string& message);

}  // namespace tarvo::server

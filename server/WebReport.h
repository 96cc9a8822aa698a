// "/v2/report": the web platform asks for a rendered report document. The
// action (TWebModul::WebModulV2ReportHandlerAction, WebReport.cpp) admits
// the job into the spooler (server/Spooler.h), runs it in its slot and
// answers with the document's bytes in the encrypted envelope.
#pragma once

#include <string_view>

#include "server/Spooler.h"

namespace tarvo::server {

// Reads the decrypted request text into a job: "bereich", "art", "name"
// upper-cased, "format" lower-cased ("html" when absent), "id" decoded with
// DecryptValue, then "params": "nr" gives the record number when "id" gave
// none, every other member becomes a further parameter. Reading ends with
// "params"; members after it are not read. Values of other JSON types are
// taken in their text form. Raises EBadRequest for unreadable JSON, a
// "params" that is no object, or a name repeated inside "params".
TReportJob ReadReportBody(std::string_view text);

}  // namespace tarvo::server

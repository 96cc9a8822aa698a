// Internal pieces shared by the database layer's source files: status
// vector handling and the RAII owners of the client library's handles.
// Not part of the layer's interface; include only from common/IBTarvo*.cpp
// and the test support.
#pragma once

#include <ibase.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/IBTarvo.h"

namespace tarvo::db::detail {

// The server's message lines (fb_interpret), joined with '\n', as UTF-8.
std::string StatusText(const ISC_STATUS* status);
// Raises EDatabaseError with StatusText when the status vector holds an
// error; `context` is used only when the library gives no text at all.
void Check(const ISC_STATUS* status, std::string_view context);
[[noreturn]] void Throw(const ISC_STATUS* status, std::string_view context);

// The parameter block of every attachment: user, password, dialect 1 and
// the WIN1252 connection character set; a connect timeout in seconds when
// `connectTimeout` is above 0 (else the client library's default).
std::string AttachParameters(std::string_view user = "sysdba",
                             std::string_view password = "quillfern", int connectTimeout = 0);

// An attachment; detaches on destruction (errors ignored).
class Attachment {
 public:
  Attachment() = default;
  ~Attachment() { Detach(); }
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;

  // Raises EDatabaseError with the server's text.
  void Attach(const std::string& connection);
  // With other credentials than the system's (for tests of the failure).
  void Attach(const std::string& connection, std::string_view user, std::string_view password);
  void Detach() noexcept;
  bool Attached() const { return handle_ != 0; }
  isc_db_handle* Handle() { return &handle_; }
  // Seconds the next Attach may wait for the server's host; 0: the
  // library's default.
  void SetConnectTimeout(int seconds) { connectTimeout_ = seconds; }
  // The server's id of this attachment, one round trip; raises
  // EDatabaseError when the connection is gone.
  int64_t AttachmentId();

 private:
  isc_db_handle handle_ = 0;
  int connectTimeout_ = 0;
};

// What a connection tells its registered queries. Called on the thread
// that uses the connection; never throws.
class QueryLink {
 public:
  virtual ~QueryLink() = default;
  virtual void TransactionEnding() noexcept = 0;  // close an open cursor
  virtual void ConnectionClosing() noexcept = 0;  // release the statement handle
  virtual void DatabaseGone() noexcept = 0;       // the connection object is destroyed
};

// Reads a date text with an optional time the way the locale's date and
// time conversion does (numbers in the short date format's order, the
// date separator, two-digit years through the century window, an optional
// time with the time separator); false when it is no valid date-time.
bool TryParseDateTimeText(const std::string& text, const FormatSettings& settings,
                          const DateTime& today, DateTime& value);

// Windows-1252 character set id of the server, used for text parameters.
constexpr short kCharsetWin1252 = 53;
constexpr short kCharsetOctets = 1;

}  // namespace tarvo::db::detail

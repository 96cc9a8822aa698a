// The connection and query classes over the ISC C API. Text crosses the
// client library in Windows-1252 (the connection's lc_ctype) and is UTF-8
// everywhere else; the conversion happens here and nowhere else.
#include "common/IBTarvo.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "common/Codepage.h"
#include "common/IBTarvoDetail.h"
#include "common/TextUtil.h"

namespace tarvo::db {

// ---------------------------------------------------------------------------
// Status vectors, attachments

namespace detail {

std::string StatusText(const ISC_STATUS* status) {
  std::string text;
  const ISC_STATUS* cursor = status;
  char line[1024];
  while (fb_interpret(line, sizeof line, &cursor) > 0) {
    if (!text.empty()) text.push_back('\n');
    text += line;
  }
  return Cp1252ToUtf8(text);
}

void Throw(const ISC_STATUS* status, std::string_view context) {
  std::string text = StatusText(status);
  if (text.empty()) text = std::string(context) + " failed";
  throw EDatabaseError(text, isc_sqlcode(status), status[1]);
}

void Check(const ISC_STATUS* status, std::string_view context) {
  if (status[0] == 1 && status[1] != 0) Throw(status, context);
}

std::string AttachParameters(std::string_view user, std::string_view password, int connectTimeout) {
  std::string dpb;
  dpb.push_back(static_cast<char>(isc_dpb_version1));
  auto add = [&dpb](int tag, std::string_view value) {
    dpb.push_back(static_cast<char>(tag));
    dpb.push_back(static_cast<char>(value.size()));
    dpb.append(value);
  };
  add(isc_dpb_user_name, user);
  add(isc_dpb_password, password);
  add(isc_dpb_lc_ctype, "WIN1252");
  dpb.push_back(static_cast<char>(isc_dpb_sql_dialect));
  dpb.push_back(1);
  dpb.push_back(1);
  if (connectTimeout > 0) {
    dpb.push_back(static_cast<char>(isc_dpb_connect_timeout));
    dpb.push_back(4);
    for (int shift = 0; shift < 32; shift += 8) dpb.push_back(static_cast<char>((connectTimeout >> shift) & 0xFF));
  }
  return dpb;
}

void Attachment::Attach(const std::string& connection) {
  Attach(connection, "sysdba", "quillfern");
}

void Attachment::Attach(const std::string& connection, std::string_view user,
                        std::string_view password) {
  if (handle_) return;
  ISC_STATUS_ARRAY status{};
  const std::string name = Utf8ToCp1252(connection);
  const std::string dpb = AttachParameters(user, password, connectTimeout_);
  if (isc_attach_database(status, static_cast<short>(name.size()), name.c_str(), &handle_,
                          static_cast<short>(dpb.size()), dpb.data())) {
    handle_ = 0;
    Throw(status, "Attach to " + connection);
  }
}

int64_t Attachment::AttachmentId() {
  if (!handle_) throw EDatabaseError("The database connection is not open");
  ISC_STATUS_ARRAY status{};
  const char items[] = {isc_info_attachment_id, isc_info_end};
  char buffer[32] = {};
  if (isc_database_info(status, &handle_, sizeof items, items, sizeof buffer, buffer))
    Throw(status, "Database info");
  if (buffer[0] != isc_info_attachment_id) throw EDatabaseError("Database info: no attachment id");
  const short length = static_cast<short>(isc_vax_integer(buffer + 1, 2));
  if (length < 1 || length > 8 || 3 + length > static_cast<int>(sizeof buffer))
    throw EDatabaseError("Database info: bad attachment id");
  return isc_portable_integer(reinterpret_cast<const ISC_UCHAR*>(buffer + 3), length);
}

void Attachment::Detach() noexcept {
  if (!handle_) return;
  ISC_STATUS_ARRAY status{};
  if (isc_detach_database(status, &handle_)) handle_ = 0;  // the handle is gone either way
}

}  // namespace detail

namespace {

constexpr int kDialect = 1;
constexpr int kNoValidatorTag = -999;
constexpr int kMessageBeforePost = 2014;
constexpr int kMessageNewRecord = 2015;
constexpr size_t kBlobSegment = 32 * 1024;

const char kTransactionParameters[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                                       isc_tpb_rec_version, isc_tpb_nowait};

}  // namespace

// ---------------------------------------------------------------------------
// Numbers as text

namespace {

// Delphi's general float format from a rounded digit string: `digits` has no
// leading or trailing zeros, value = 0.digits × 10^exponent.
std::string GeneralFormat(bool negative, std::string digits, int exponent, int precision,
                          char decimalSeparator) {
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  if (digits.empty()) return "0";
  std::string out;
  if (negative) out.push_back('-');
  const int n = static_cast<int>(digits.size());
  if (exponent > precision || exponent < -3) {
    out.push_back(digits[0]);
    if (n > 1) {
      out.push_back(decimalSeparator);
      out.append(digits, 1, std::string::npos);
    }
    out.push_back('E');
    out += std::to_string(exponent - 1);
    return out;
  }
  if (exponent <= 0) {
    out.push_back('0');
    out.push_back(decimalSeparator);
    out.append(static_cast<size_t>(-exponent), '0');
    out += digits;
    return out;
  }
  if (n <= exponent) {
    out += digits;
    out.append(static_cast<size_t>(exponent - n), '0');
    return out;
  }
  out.append(digits, 0, static_cast<size_t>(exponent));
  out.push_back(decimalSeparator);
  out.append(digits, static_cast<size_t>(exponent), std::string::npos);
  return out;
}

// Digits and exponent of `value` written with `significant` digits.
void DecimalDigits(double value, int significant, std::string& digits, int& exponent) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*e", significant - 1, std::fabs(value));
  // d.dddde±XX
  digits.clear();
  const char* p = buffer;
  for (; *p && *p != 'e'; ++p)
    if (std::isdigit(static_cast<unsigned char>(*p))) digits.push_back(*p);
  exponent = (*p == 'e') ? std::atoi(p + 1) + 1 : 1;
  size_t lead = digits.find_first_not_of('0');
  if (lead == std::string::npos) digits.clear();
}

std::string NonFinite(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

// A single-precision value: the shortest digit string that reads back as
// the same float (at most 9 digits).
std::string FormatSingle(float value, char decimalSeparator) {
  if (!std::isfinite(value)) return NonFinite(value);
  if (value == 0) return "0";
  std::string digits;
  int exponent = 0;
  for (int p = 1; p <= 9; ++p) {
    DecimalDigits(value, p, digits, exponent);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", p - 1, static_cast<double>(value));
    if (std::strtof(buffer, nullptr) == value) break;
  }
  return GeneralFormat(value < 0, digits, exponent, 15, decimalSeparator);
}

// An exact scaled integer (value × 10^scale), rounded half away from zero
// to 15 significant digits.
std::string FormatScaled(int64_t value, int scale, char decimalSeparator) {
  const bool negative = value < 0;
  const uint64_t magnitude =
      negative ? static_cast<uint64_t>(-(value + 1)) + 1 : static_cast<uint64_t>(value);
  if (magnitude == 0) return "0";
  std::string digits = std::to_string(magnitude);
  int exponent = static_cast<int>(digits.size()) + scale;
  if (digits.size() > 15) {
    const bool roundUp = digits[15] >= '5';
    digits.resize(15);
    if (roundUp) {
      int i = 14;
      while (i >= 0 && digits[static_cast<size_t>(i)] == '9') digits[static_cast<size_t>(i--)] = '0';
      if (i < 0) {
        digits.insert(digits.begin(), '1');
        digits.pop_back();
        ++exponent;
      } else {
        ++digits[static_cast<size_t>(i)];
      }
    }
  }
  return GeneralFormat(negative, digits, exponent, 15, decimalSeparator);
}

}  // namespace

std::string FormatFloat(double value, char decimalSeparator, int precision) {
  if (!std::isfinite(value)) return NonFinite(value);
  if (precision < 1) precision = 1;
  if (precision > 17) precision = 17;
  std::string digits;
  int exponent = 0;
  DecimalDigits(value, precision, digits, exponent);
  if (digits.empty()) return "0";
  return GeneralFormat(value < 0, digits, exponent, precision, decimalSeparator);
}

// ---------------------------------------------------------------------------
// Named parameters

namespace {

// The first `count` words of a statement, upper-cased, past blanks and
// comments.
std::vector<std::string> LeadingWords(const std::string& text, size_t count) {
  std::vector<std::string> words;
  size_t i = 0;
  while (words.size() < count && i < text.size()) {
    if (std::isspace(static_cast<unsigned char>(text[i]))) {
      ++i;
    } else if (text.compare(i, 2, "--") == 0) {
      i = text.find('\n', i);
      if (i == std::string::npos) break;
    } else if (text.compare(i, 2, "/*") == 0) {
      i = text.find("*/", i + 2);
      if (i == std::string::npos) break;
      i += 2;
    } else if (std::isalpha(static_cast<unsigned char>(text[i]))) {
      size_t j = i;
      while (j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_'))
        ++j;
      words.push_back(AsciiUpper(std::string_view(text).substr(i, j - i)));
      i = j;
    } else {
      break;
    }
  }
  return words;
}

}  // namespace

ParsedStatement ParseNamedParameters(const std::string& sql) {
  ParsedStatement parsed;
  std::string& out = parsed.positionalSql;
  const std::vector<std::string> lead = LeadingWords(sql, 2);
  // Definitions of triggers, procedures and the like take no parameters;
  // their bodies refer to variables as :NAME.
  if (!lead.empty() && (lead[0] == "CREATE" || lead[0] == "ALTER" || lead[0] == "RECREATE")) {
    out = sql;
    return parsed;
  }
  // EXECUTE BLOCK takes parameters only in its header; after the AS that
  // opens its body, :NAME is a variable of the block.
  const bool block = lead.size() == 2 && lead[0] == "EXECUTE" && lead[1] == "BLOCK";
  bool inBody = false;
  int depth = 0;
  out.reserve(sql.size());
  const size_t n = sql.size();
  size_t i = 0;
  auto isNameChar = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
  };
  while (i < n) {
    const char c = sql[i];
    if (block && !inBody && (std::isalpha(static_cast<unsigned char>(c)) || c == '_') &&
        (i == 0 || !isNameChar(sql[i - 1])) && (i == 0 || sql[i - 1] != ':')) {
      size_t j = i;
      while (j < n && isNameChar(sql[j])) ++j;
      if (depth == 0 && j - i == 2 && AsciiUpper(std::string_view(sql).substr(i, 2)) == "AS")
        inBody = true;
      out.append(sql, i, j - i);
      i = j;
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (inBody && (c == ':' || c == '?')) {
      out.push_back(c);
      ++i;
      continue;
    }
    if (c == '\'' || c == '"') {
      // A quoted string (or, with double quotes, a dialect-1 string); a
      // doubled quote stands for itself.
      size_t j = i + 1;
      while (j < n) {
        if (sql[j] == c) {
          if (j + 1 < n && sql[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      const size_t end = j < n ? j + 1 : n;
      out.append(sql, i, end - i);
      i = end;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      const size_t eol = sql.find('\n', i);
      const size_t end = eol == std::string::npos ? n : eol;
      out.append(sql, i, end - i);
      i = end;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      const size_t close = sql.find("*/", i + 2);
      const size_t end = close == std::string::npos ? n : close + 2;
      out.append(sql, i, end - i);
      i = end;
    } else if (c == ':' && i + 1 < n && isNameChar(sql[i + 1])) {
      size_t j = i + 1;
      while (j < n && isNameChar(sql[j])) ++j;
      const std::string name = sql.substr(i + 1, j - i - 1);
      const std::string key = AsciiUpper(name);
      parsed.positions.push_back(key);
      bool known = false;
      for (const auto& existing : parsed.names)
        if (AsciiUpper(existing) == key) known = true;
      if (!known) parsed.names.push_back(name);
      out.push_back('?');
      i = j;
    } else if (c == '?') {
      parsed.positions.emplace_back();  // a bare marker: always NULL
      out.push_back('?');
      ++i;
    } else {
      out.push_back(c);
      ++i;
    }
  }
  return parsed;
}

// ---------------------------------------------------------------------------
// Validator

namespace {
std::mutex gValidatorMutex;
std::shared_ptr<IValidator> gValidator;

std::shared_ptr<IValidator> CurrentValidator() {
  std::lock_guard lock(gValidatorMutex);
  return gValidator;
}
}  // namespace

void SetValidator(std::shared_ptr<IValidator> validator) {
  std::lock_guard lock(gValidatorMutex);
  gValidator = std::move(validator);
}

// ---------------------------------------------------------------------------
// TIBRDATABASE

struct TIBRDATABASE::Impl {
  std::string name;
  detail::Attachment attachment;
  isc_tr_handle transaction = 0;
  std::vector<detail::QueryLink*> queries;

  void TellQueriesTransactionEnds() {
    for (auto* q : queries) q->TransactionEnding();
  }

  void RequireConnection() const {
    if (!attachment.Attached())
      throw EDatabaseError("The database connection is not open (" + name + ")");
  }
};

TIBRDATABASE::TIBRDATABASE() : impl_(std::make_unique<Impl>()) {}

TIBRDATABASE::~TIBRDATABASE() {
  Close();
  for (auto* q : impl_->queries) q->DatabaseGone();
}

void TIBRDATABASE::SetDatabaseName(const std::string& connection) { impl_->name = connection; }
const std::string& TIBRDATABASE::DatabaseName() const { return impl_->name; }

void TIBRDATABASE::Open() {
  if (impl_->attachment.Attached()) return;
  if (impl_->name.empty()) throw EDatabaseError("No database name set");
  impl_->attachment.Attach(impl_->name);
}

void TIBRDATABASE::Close() {
  if (!impl_->attachment.Attached()) return;
  for (auto* q : impl_->queries) q->ConnectionClosing();
  if (impl_->transaction) {
    ISC_STATUS_ARRAY status{};
    if (isc_rollback_transaction(status, &impl_->transaction)) impl_->transaction = 0;
  }
  impl_->attachment.Detach();
}

bool TIBRDATABASE::Connected() const { return impl_->attachment.Attached(); }

void TIBRDATABASE::SetConnectTimeout(int seconds) { impl_->attachment.SetConnectTimeout(seconds); }

int64_t TIBRDATABASE::AttachmentId() {
  impl_->RequireConnection();
  return impl_->attachment.AttachmentId();
}

void TIBRDATABASE::StartTransaction() {
  if (impl_->transaction) return;
  impl_->RequireConnection();
  ISC_STATUS_ARRAY status{};
  if (isc_start_transaction(status, &impl_->transaction, 1, impl_->attachment.Handle(),
                            static_cast<unsigned short>(sizeof kTransactionParameters),
                            kTransactionParameters)) {
    impl_->transaction = 0;
    detail::Throw(status, "Start transaction");
  }
}

bool TIBRDATABASE::InTransaction() const { return impl_->transaction != 0; }

void TIBRDATABASE::Commit() {
  if (!impl_->transaction) return;
  impl_->TellQueriesTransactionEnds();
  ISC_STATUS_ARRAY status{};
  if (isc_commit_transaction(status, &impl_->transaction)) detail::Throw(status, "Commit");
}

void TIBRDATABASE::Rollback() {
  if (!impl_->transaction) return;
  impl_->TellQueriesTransactionEnds();
  ISC_STATUS_ARRAY status{};
  if (isc_rollback_transaction(status, &impl_->transaction)) detail::Throw(status, "Rollback");
}

void TIBRDATABASE::CommitRetaining() {
  if (!impl_->transaction) return;
  ISC_STATUS_ARRAY status{};
  if (isc_commit_retaining(status, &impl_->transaction)) detail::Throw(status, "Commit retaining");
}

void TIBRDATABASE::RollbackRetaining() {
  if (!impl_->transaction) return;
  ISC_STATUS_ARRAY status{};
  if (isc_rollback_retaining(status, &impl_->transaction))
    detail::Throw(status, "Rollback retaining");
}

void* TIBRDATABASE::NativeHandle() { return impl_->attachment.Handle(); }

void* TIBRDATABASE::NativeTransactionHandle() {
  StartTransaction();
  return &impl_->transaction;
}

void TIBRDATABASE::RegisterQuery(detail::QueryLink* query) { impl_->queries.push_back(query); }

void TIBRDATABASE::UnregisterQuery(detail::QueryLink* query) {
  auto& q = impl_->queries;
  q.erase(std::remove(q.begin(), q.end(), query), q.end());
}

// ---------------------------------------------------------------------------
// TIBRQuery

namespace {

// An XSQLDA with room for `n` variables.
class Sqlda {
 public:
  explicit Sqlda(int n = 1) { Resize(n); }
  void Resize(int n) {
    if (n < 1) n = 1;
    memory_ = std::make_unique<char[]>(XSQLDA_LENGTH(n));
    std::memset(memory_.get(), 0, XSQLDA_LENGTH(n));
    get()->version = SQLDA_VERSION1;
    get()->sqln = static_cast<short>(n);
  }
  XSQLDA* get() const { return reinterpret_cast<XSQLDA*>(memory_.get()); }
  XSQLDA* operator->() const { return get(); }
  XSQLVAR& operator[](int i) const { return get()->sqlvar[i]; }
  int Count() const { return get()->sqld; }

 private:
  std::unique_ptr<char[]> memory_;
};

// A blob handle; cancels an unfinished new blob and closes an open one.
class Blob {
 public:
  Blob() = default;
  ~Blob() {
    if (!handle_) return;
    ISC_STATUS_ARRAY status{};
    if (creating_)
      isc_cancel_blob(status, &handle_);
    else
      isc_close_blob(status, &handle_);
  }
  Blob(const Blob&) = delete;
  Blob& operator=(const Blob&) = delete;

  void Create(isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD& id) {
    ISC_STATUS_ARRAY status{};
    if (isc_create_blob2(status, db, tr, &handle_, &id, 0, nullptr)) {
      handle_ = 0;
      detail::Throw(status, "Create blob");
    }
    creating_ = true;
  }
  void Open(isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD& id) {
    ISC_STATUS_ARRAY status{};
    if (isc_open_blob2(status, db, tr, &handle_, &id, 0, nullptr)) {
      handle_ = 0;
      detail::Throw(status, "Open blob");
    }
  }
  void Write(std::string_view bytes) {
    ISC_STATUS_ARRAY status{};
    while (!bytes.empty()) {
      const size_t n = std::min(bytes.size(), kBlobSegment);
      if (isc_put_segment(status, &handle_, static_cast<unsigned short>(n), bytes.data()))
        detail::Throw(status, "Write blob");
      bytes.remove_prefix(n);
    }
  }
  // Total length as the server reports it; 0 when unknown.
  size_t Length() {
    ISC_STATUS_ARRAY status{};
    const char items[] = {isc_info_blob_total_length};
    char result[32] = {};
    if (isc_blob_info(status, &handle_, sizeof items, items, sizeof result, result)) return 0;
    if (result[0] != isc_info_blob_total_length) return 0;
    const short len = static_cast<short>(isc_vax_integer(result + 1, 2));
    return static_cast<size_t>(isc_vax_integer(result + 3, len));
  }
  // Calls `sink` for each piece until the end of the blob.
  template <typename Sink>
  void ReadAll(Sink&& sink) {
    std::string buffer(kBlobSegment, '\0');
    for (;;) {
      ISC_STATUS_ARRAY status{};
      unsigned short got = 0;
      const ISC_STATUS rc = isc_get_segment(status, &handle_, &got,
                                            static_cast<unsigned short>(buffer.size()), buffer.data());
      if (rc == 0 || rc == isc_segment) {
        if (got) sink(std::string_view(buffer.data(), got));
        continue;
      }
      if (rc == isc_segstr_eof) break;
      detail::Throw(status, "Read blob");
    }
  }
  void Close() {
    ISC_STATUS_ARRAY status{};
    if (isc_close_blob(status, &handle_)) detail::Throw(status, "Close blob");
    handle_ = 0;
    creating_ = false;
  }

 private:
  isc_blob_handle handle_ = 0;
  bool creating_ = false;
};

struct ParamValue {
  enum class Kind { Unset, Null, Text, DateTime, Integer, Double, Blob };
  Kind kind = Kind::Unset;
  std::string text;  // Text (UTF-8) and Blob (bytes)
  DateTime dateTime;
  int64_t integer = 0;
  double number = 0;
};

bool IsDateInput(const XSQLVAR& var) {
  const int type = var.sqltype & ~1;
  return type == SQL_TIMESTAMP || type == SQL_TYPE_TIME || type == SQL_TYPE_DATE;
}

DateTime FromTm(const std::tm& tm, int fraction) {
  return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  fraction / 10};
}

std::tm ToTm(const DateTime& v) {
  std::tm tm{};
  tm.tm_year = v.year - 1900;
  tm.tm_mon = v.month - 1;
  tm.tm_mday = v.day;
  tm.tm_hour = v.hour;
  tm.tm_min = v.minute;
  tm.tm_sec = v.second;
  return tm;
}

// Days since 30 December 1899 plus the fraction of the day, as Delphi's
// TDateTime counts.
double ToSerial(const DateTime& v) {
  const double day = static_cast<double>(
      DaysFromCivil(v.year, static_cast<unsigned>(v.month), static_cast<unsigned>(v.day)) - DaysFromCivil(1899, 12, 30));
  const double fraction =
      (v.hour * 3600000.0 + v.minute * 60000.0 + v.second * 1000.0 + v.millisecond) / 86400000.0;
  return day >= 0 ? day + fraction : day - fraction;
}

}  // namespace

struct TIBRQuery::Impl final : detail::QueryLink {
  TIBRQuery* owner;
  TIBRDATABASE* database;
  std::string sql;
  ParsedStatement parsed;
  std::map<std::string, ParamValue> values;  // by upper-case name
  int tag = 0;
  std::optional<FormatSettings> settings;

  isc_stmt_handle statement = 0;
  bool prepared = false;
  int statementType = 0;
  Sqlda input, output;
  // Buffers for the result row; one slot per column.
  std::vector<std::vector<char>> columnData;
  std::vector<short> columnNull;
  std::vector<std::string> fieldNames;
  // Buffers for the parameters of one execution.
  std::vector<std::string> inputData;
  std::vector<short> inputNull;
  std::vector<ISC_QUAD> inputBlobIds;
  std::vector<XSQLVAR> described;  // the server's description of each input

  bool active = false;
  bool cursorOpen = false;
  bool hasRow = false;
  bool singletonPending = false;  // an executed procedure's row not yet consumed
  int64_t rowsAffected = 0;

  Impl(TIBRQuery* q, TIBRDATABASE& db) : owner(q), database(&db) { db.RegisterQuery(this); }
  ~Impl() override {
    cursorOpen = false;  // dropping the statement closes its cursor too
    DropStatement();
    if (database) database->UnregisterQuery(this);
  }

  const FormatSettings& Settings() const {
    return settings ? *settings : SystemFormatSettings();
  }

  TIBRDATABASE& Database() {
    if (!database) throw EDatabaseError("The query's database connection no longer exists");
    return *database;
  }
  isc_db_handle* Db() { return static_cast<isc_db_handle*>(Database().NativeHandle()); }
  isc_tr_handle* Tr() { return static_cast<isc_tr_handle*>(Database().NativeTransactionHandle()); }

  // QueryLink
  void TransactionEnding() noexcept override {
    CloseCursor();
    active = false;
    hasRow = false;
  }
  void ConnectionClosing() noexcept override {
    TransactionEnding();
    DropStatement();
  }
  void DatabaseGone() noexcept override {
    ConnectionClosing();
    database = nullptr;
  }

  void CloseCursor() noexcept {
    if (cursorOpen && statement) {
      ISC_STATUS_ARRAY status{};
      isc_dsql_free_statement(status, &statement, DSQL_close);
    }
    cursorOpen = false;
  }

  void DropStatement() noexcept {
    if (statement && database && database->Connected()) {
      ISC_STATUS_ARRAY status{};
      isc_dsql_free_statement(status, &statement, DSQL_drop);
    }
    statement = 0;
    prepared = false;
  }

  void Close() {
    CloseCursor();
    active = false;
    hasRow = false;
    singletonPending = false;
  }

  void Prepare() {
    if (prepared) return;
    TIBRDATABASE& db = Database();
    db.Open();
    isc_tr_handle* tr = Tr();
    ISC_STATUS_ARRAY status{};
    if (!statement && isc_dsql_allocate_statement(status, Db(), &statement)) {
      statement = 0;
      detail::Throw(status, "Allocate statement");
    }
    const std::string text = Utf8ToCp1252(parsed.positionalSql);
    output.Resize(20);
    if (isc_dsql_prepare(status, tr, &statement, 0, text.c_str(), kDialect, output.get()))
      detail::Throw(status, "Prepare");
    if (output->sqld > output->sqln) {
      output.Resize(output->sqld);
      if (isc_dsql_describe(status, &statement, kDialect, output.get()))
        detail::Throw(status, "Describe");
    }
    input.Resize(std::max<int>(1, static_cast<int>(parsed.positions.size())));
    // Without markers in the text there is nothing to describe; a statement
    // that still wants parameters fails on execution with the server's text.
    if (!parsed.positions.empty() &&
        isc_dsql_describe_bind(status, &statement, kDialect, input.get()))
      detail::Throw(status, "Describe parameters");
    if (input->sqld > input->sqln) {
      input.Resize(input->sqld);
      if (isc_dsql_describe_bind(status, &statement, kDialect, input.get()))
        detail::Throw(status, "Describe parameters");
    }
    if (input->sqld != static_cast<short>(parsed.positions.size()))
      throw EDatabaseError("The statement has " + std::to_string(input->sqld) +
                           " parameters, the text names " +
                           std::to_string(parsed.positions.size()));
    described.assign(input->sqlvar, input->sqlvar + input->sqld);
    statementType = QueryStatementType();
    SetUpColumns();
    prepared = true;
  }

  int QueryStatementType() {
    ISC_STATUS_ARRAY status{};
    const char items[] = {isc_info_sql_stmt_type};
    char result[16] = {};
    if (isc_dsql_sql_info(status, &statement, sizeof items, items, sizeof result, result))
      detail::Throw(status, "Statement info");
    if (result[0] != isc_info_sql_stmt_type) return 0;
    const short len = static_cast<short>(isc_vax_integer(result + 1, 2));
    return static_cast<int>(isc_vax_integer(result + 3, len));
  }

  void SetUpColumns() {
    const int n = output->sqld;
    columnData.assign(static_cast<size_t>(n), {});
    columnNull.assign(static_cast<size_t>(n), 0);
    fieldNames.clear();
    for (int i = 0; i < n; ++i) {
      XSQLVAR& var = output[i];
      size_t size = static_cast<size_t>(var.sqllen);
      if ((var.sqltype & ~1) == SQL_VARYING) size += 2;
      columnData[static_cast<size_t>(i)].assign(std::max<size_t>(size, 1), '\0');
      var.sqldata = columnData[static_cast<size_t>(i)].data();
      var.sqlind = &columnNull[static_cast<size_t>(i)];
      fieldNames.push_back(Cp1252ToUtf8(std::string_view(var.aliasname, static_cast<size_t>(var.aliasname_length))));
    }
  }

  const ParamValue& ValueAt(size_t position) const {
    static const ParamValue unset;
    const std::string& key = parsed.positions[position];
    if (key.empty()) return unset;
    auto it = values.find(key);
    return it == values.end() ? unset : it->second;
  }

  // Fills the input descriptors from the parameter values. Date texts are
  // normalised first, before anything reaches the server, so that an
  // unreadable date leaves no trace.
  void Bind(bool normaliseDates) {
    const size_t n = parsed.positions.size();
    std::vector<std::optional<std::string>> normalised(n);
    if (normaliseDates) {
      const DateTime today = DateTime::Now();
      for (size_t i = 0; i < n; ++i) {
        const ParamValue& v = ValueAt(i);
        if (v.kind == ParamValue::Kind::Text && IsDateInput(described[i]))
          normalised[i] = NormalizeDateText(v.text, Settings(), today);
      }
    }
    inputData.assign(n, std::string());
    inputNull.assign(n, 0);
    inputBlobIds.assign(n, ISC_QUAD{});
    for (size_t i = 0; i < n; ++i) {
      XSQLVAR& var = input[static_cast<int>(i)];
      const XSQLVAR& desc = described[i];
      var = desc;
      var.sqlind = &inputNull[i];
      const ParamValue& v = ValueAt(i);
      std::string& data = inputData[i];
      const bool blobInput = (desc.sqltype & ~1) == SQL_BLOB;
      switch (v.kind) {
        case ParamValue::Kind::Unset:
        case ParamValue::Kind::Null: {
          size_t size = static_cast<size_t>(desc.sqllen) + 2;
          data.assign(std::max<size_t>(size, 8), '\0');
          var.sqltype = static_cast<short>(desc.sqltype | 1);
          var.sqldata = data.data();
          inputNull[i] = -1;
          break;
        }
        case ParamValue::Kind::Text: {
          const std::string& utf8 = normalised[i] ? *normalised[i] : v.text;
          if (blobInput) {
            // Text blobs hold the connection's code page; other blobs the
            // bytes as given.
            WriteBlobParam(var, i, desc.sqlsubtype == 1 ? Utf8ToCp1252(utf8) : utf8);
          } else {
            BindText(var, data, Utf8ToCp1252(utf8), v, i);
          }
          break;
        }
        case ParamValue::Kind::Blob:
          if (blobInput)
            WriteBlobParam(var, i, v.text);
          else
            BindText(var, data, v.text, v, i);
          break;
        case ParamValue::Kind::DateTime: {
          std::tm tm = ToTm(v.dateTime);
          ISC_TIMESTAMP ts{};
          isc_encode_timestamp(&tm, &ts);
          ts.timestamp_time += static_cast<ISC_TIME>(v.dateTime.millisecond * 10);
          BindBytes(var, data, &ts, sizeof ts, SQL_TIMESTAMP);
          break;
        }
        case ParamValue::Kind::Integer:
          BindBytes(var, data, &v.integer, sizeof(int64_t), SQL_INT64);
          break;
        case ParamValue::Kind::Double:
          BindBytes(var, data, &v.number, sizeof(double), SQL_DOUBLE);
          break;
      }
    }
  }

  // Binds the `size` bytes at `value` as a nullable parameter of `sqltype`.
  static void BindBytes(XSQLVAR& var, std::string& data, const void* value, size_t size, short sqltype) {
    data.assign(static_cast<const char*>(value), size);
    var.sqltype = static_cast<short>(sqltype + 1);
    var.sqlsubtype = 0;
    var.sqlscale = 0;
    var.sqllen = static_cast<short>(size);
    var.sqldata = data.data();
  }

  void BindText(XSQLVAR& var, std::string& data, std::string bytes, const ParamValue&, size_t i) {
    if (bytes.size() > 32767)
      throw EDatabaseError("Parameter " + NameAt(i) + ": text of " + std::to_string(bytes.size()) +
                           " bytes is longer than a text parameter may be");
    data = std::move(bytes);
    if (data.empty()) data.reserve(1);
    var.sqltype = SQL_TEXT + 1;
    var.sqlsubtype = detail::kCharsetWin1252;
    var.sqlscale = 0;
    var.sqllen = static_cast<short>(data.size());
    var.sqldata = data.data();
  }

  void WriteBlobParam(XSQLVAR& var, size_t i, std::string_view bytes) {
    Blob blob;
    blob.Create(Db(), Tr(), inputBlobIds[i]);
    blob.Write(bytes);
    blob.Close();
    var.sqltype = SQL_BLOB + 1;
    var.sqllen = sizeof(ISC_QUAD);
    var.sqldata = reinterpret_cast<char*>(&inputBlobIds[i]);
  }

  std::string NameAt(size_t position) const {
    const std::string& key = parsed.positions[position];
    for (const auto& name : parsed.names)
      if (AsciiUpper(name) == key) return name;
    return "#" + std::to_string(position + 1);
  }

  XSQLDA* InputSqlda() { return parsed.positions.empty() ? nullptr : input.get(); }

  void Open() {
    Close();
    try {
      OpenPrepared();
    } catch (...) {
      Close();  // an error (also from the first fetch) leaves the query closed
      throw;
    }
  }

  void OpenPrepared() {
    Prepare();
    Bind(true);
    Execute();
    active = true;
    if (cursorOpen) Fetch();
  }

  // Runs the prepared and bound statement: a procedure call brings its
  // output row at once, a select opens the cursor.
  void Execute() {
    ISC_STATUS_ARRAY status{};
    if (statementType == isc_info_sql_stmt_exec_procedure) {
      if (isc_dsql_execute2(status, Tr(), &statement, kDialect, InputSqlda(),
                            output->sqld ? output.get() : nullptr))
        detail::Throw(status, "Execute");
      hasRow = output->sqld > 0;
      return;
    }
    if (isc_dsql_execute(status, Tr(), &statement, kDialect, InputSqlda()))
      detail::Throw(status, "Execute");
    cursorOpen = statementType == isc_info_sql_stmt_select ||
                 statementType == isc_info_sql_stmt_select_for_upd;
  }

  void Fetch() {
    if (!cursorOpen) {
      hasRow = false;
      return;
    }
    ISC_STATUS_ARRAY status{};
    const ISC_STATUS rc = isc_dsql_fetch(status, &statement, kDialect, output.get());
    if (rc == 0) {
      hasRow = true;
    } else if (rc == 100) {
      hasRow = false;
    } else {
      hasRow = false;
      detail::Throw(status, "Fetch");
    }
  }

  // The first word of the statement, upper-cased, past blanks and comments.
  std::string LeadingKeyword() const {
    const std::string& text = sql;
    size_t i = 0;
    for (;;) {
      while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
      if (text.compare(i, 2, "--") == 0) {
        i = text.find('\n', i);
        if (i == std::string::npos) return std::string();
      } else if (text.compare(i, 2, "/*") == 0) {
        i = text.find("*/", i + 2);
        if (i == std::string::npos) return std::string();
        i += 2;
      } else {
        break;
      }
    }
    size_t j = i;
    while (j < text.size() && std::isalpha(static_cast<unsigned char>(text[j]))) ++j;
    return AsciiUpper(std::string_view(text).substr(i, j - i));
  }

  void Validate() {
    if (tag == kNoValidatorTag) return;
    int message = 0;
    if (statementType == isc_info_sql_stmt_insert) message = kMessageNewRecord;
    if (statementType == isc_info_sql_stmt_update) message = kMessageBeforePost;
    if (statementType == isc_info_sql_stmt_exec_procedure) {
      // INSERT ... RETURNING and UPDATE ... RETURNING report themselves as
      // procedure calls.
      const std::string keyword = LeadingKeyword();
      if (keyword == "INSERT") message = kMessageNewRecord;
      if (keyword == "UPDATE") message = kMessageBeforePost;
    }
    if (!message) return;
    auto validator = CurrentValidator();
    if (!validator) return;
    std::string meldung;
    if (!validator->Validate(message, *owner, meldung)) {
      if (!meldung.empty()) throw EValidationError(meldung);
      throw EAbort("");
    }
  }

  void ExecSQL() {
    Close();
    Prepare();
    Validate();
    Bind(false);
    Execute();
    if (cursorOpen) CloseCursor();
    rowsAffected = QueryRowsAffected();
  }

  int64_t QueryRowsAffected() {
    ISC_STATUS_ARRAY status{};
    const char items[] = {isc_info_sql_records};
    char result[64] = {};
    if (isc_dsql_sql_info(status, &statement, sizeof items, items, sizeof result, result))
      return 0;
    if (result[0] != isc_info_sql_records) return 0;
    const char* p = result + 3;
    const char* end = result + sizeof result;
    int64_t total = 0;
    while (p < end && *p != isc_info_end) {
      const char item = *p++;
      const short len = static_cast<short>(isc_vax_integer(p, 2));
      p += 2;
      const int64_t count = isc_vax_integer(p, len);
      p += len;
      if (item == isc_info_req_insert_count || item == isc_info_req_update_count ||
          item == isc_info_req_delete_count)
        total += count;
    }
    return total;
  }

  // --- column access

  const XSQLVAR& Column(int index) const {
    if (!prepared || index < 0 || index >= output->sqld)
      throw EDatabaseError("Field index " + std::to_string(index) + " out of range");
    return output[index];
  }

  bool IsNull(int index) const {
    const XSQLVAR& var = Column(index);
    if (!hasRow) return true;
    return (var.sqltype & 1) && *var.sqlind == -1;
  }

  int Type(int index) const { return Column(index).sqltype & ~1; }

  int64_t RawInteger(const XSQLVAR& var) const {
    switch (var.sqltype & ~1) {
      case SQL_SHORT: { int16_t v; std::memcpy(&v, var.sqldata, 2); return v; }
      case SQL_LONG: { int32_t v; std::memcpy(&v, var.sqldata, 4); return v; }
      case SQL_INT64: { int64_t v; std::memcpy(&v, var.sqldata, 8); return v; }
    }
    return 0;
  }

  double RawDouble(const XSQLVAR& var) const {
    if ((var.sqltype & ~1) == SQL_FLOAT) {
      float f;
      std::memcpy(&f, var.sqldata, 4);
      return f;
    }
    double d;
    std::memcpy(&d, var.sqldata, 8);
    return d;
  }

  std::string RawCharacters(const XSQLVAR& var) const {
    if ((var.sqltype & ~1) == SQL_VARYING) {
      uint16_t len;
      std::memcpy(&len, var.sqldata, 2);
      return std::string(var.sqldata + 2, len);
    }
    return std::string(var.sqldata, static_cast<size_t>(var.sqllen));
  }

  static bool IsOctets(const XSQLVAR& var) {
    return (var.sqlsubtype & 0xFF) == detail::kCharsetOctets;
  }

  DateTime RawDateTime(const XSQLVAR& var) const {
    std::tm tm{};
    switch (var.sqltype & ~1) {
      case SQL_TIMESTAMP: {
        ISC_TIMESTAMP ts;
        std::memcpy(&ts, var.sqldata, sizeof ts);
        isc_decode_timestamp(&ts, &tm);
        return FromTm(tm, static_cast<int>(ts.timestamp_time % 10000));
      }
      case SQL_TYPE_DATE: {
        ISC_DATE d;
        std::memcpy(&d, var.sqldata, sizeof d);
        isc_decode_sql_date(&d, &tm);
        return FromTm(tm, 0);
      }
      case SQL_TYPE_TIME: {
        ISC_TIME t;
        std::memcpy(&t, var.sqldata, sizeof t);
        isc_decode_sql_time(&t, &tm);
        DateTime v = FromTm(tm, static_cast<int>(t % 10000));
        v.year = 1899;  // a time of day carries the zero date
        v.month = 12;
        v.day = 30;
        return v;
      }
    }
    return {};
  }

  ISC_QUAD BlobId(const XSQLVAR& var) const {
    ISC_QUAD id;
    std::memcpy(&id, var.sqldata, sizeof id);
    return id;
  }

  template <typename Sink>
  void ReadBlobRaw(const XSQLVAR& var, Sink&& sink, size_t* total = nullptr) {
    ISC_QUAD id = BlobId(var);
    Blob blob;
    blob.Open(Db(), Tr(), id);
    if (total) *total = blob.Length();
    blob.ReadAll(sink);
    blob.Close();
  }

  std::string BlobBytes(const XSQLVAR& var) {
    std::string bytes;
    size_t total = 0;
    ISC_QUAD id = BlobId(var);
    Blob blob;
    blob.Open(Db(), Tr(), id);
    total = blob.Length();
    if (total) bytes.reserve(total);
    blob.ReadAll([&bytes](std::string_view chunk) { bytes.append(chunk); });
    blob.Close();
    return bytes;
  }

  bool IsTextBlob(const XSQLVAR& var) const { return var.sqlsubtype == 1; }
  // For blob columns the descriptor's scale field holds the character set.
  bool TextBlobNeedsConversion(const XSQLVAR& var) const {
    return IsTextBlob(var) && (var.sqlscale & 0xFF) != detail::kCharsetOctets;
  }

  std::string AsText(int index) {
    if (IsNull(index)) return std::string();
    const XSQLVAR& var = Column(index);
    const char sep = Settings().DecimalSeparator;
    switch (var.sqltype & ~1) {
      case SQL_SHORT:
      case SQL_LONG:
      case SQL_INT64:
        if (var.sqlscale == 0) return std::to_string(RawInteger(var));
        return FormatScaled(RawInteger(var), var.sqlscale, sep);
      case SQL_FLOAT: {
        float f;
        std::memcpy(&f, var.sqldata, 4);
        return FormatSingle(f, sep);
      }
      case SQL_DOUBLE:
      case SQL_D_FLOAT:
        return FormatFloat(RawDouble(var), sep, 15);
      case SQL_TIMESTAMP:
        return Settings().FormatDefault(RawDateTime(var));
      case SQL_TYPE_DATE:
        return Settings().FormatShortDate(RawDateTime(var));
      case SQL_TYPE_TIME:
        return Settings().FormatLongTime(RawDateTime(var));
      case SQL_TEXT:
      case SQL_VARYING:
        return IsOctets(var) ? RawCharacters(var) : Cp1252ToUtf8(RawCharacters(var));
      case SQL_BLOB: {
        std::string bytes = BlobBytes(var);
        return TextBlobNeedsConversion(var) ? Cp1252ToUtf8(bytes) : bytes;
      }
      case SQL_BOOLEAN: {
        const bool b = *reinterpret_cast<const unsigned char*>(var.sqldata) != 0;
        return b ? "True" : "False";
      }
      case SQL_ARRAY:
        return "(Array)";
    }
    return std::string();
  }

  std::string AsBytes(int index) {
    if (IsNull(index)) return std::string();
    const XSQLVAR& var = Column(index);
    if ((var.sqltype & ~1) == SQL_BLOB) return BlobBytes(var);
    return AsText(index);
  }

  void ReadBlob(int index, const std::function<void(std::string_view)>& sink) {
    const XSQLVAR& var = Column(index);
    if ((var.sqltype & ~1) != SQL_BLOB)
      throw EDatabaseError("Field " + fieldNames[static_cast<size_t>(index)] + " is not a blob");
    if (IsNull(index)) return;
    if (TextBlobNeedsConversion(var)) {
      ReadBlobRaw(var, [&sink](std::string_view chunk) {
        const std::string utf8 = Cp1252ToUtf8(chunk);
        sink(utf8);
      });
    } else {
      ReadBlobRaw(var, sink);
    }
  }

  double AsDouble(int index) {
    if (IsNull(index)) return 0;
    const XSQLVAR& var = Column(index);
    switch (var.sqltype & ~1) {
      case SQL_SHORT:
      case SQL_LONG:
      case SQL_INT64:
        return static_cast<double>(RawInteger(var)) * std::pow(10.0, var.sqlscale);
      case SQL_FLOAT:
      case SQL_DOUBLE:
      case SQL_D_FLOAT:
        return RawDouble(var);
      case SQL_TIMESTAMP:
      case SQL_TYPE_DATE:
      case SQL_TYPE_TIME:
        return ToSerial(RawDateTime(var));
      case SQL_BOOLEAN:
        return *reinterpret_cast<const unsigned char*>(var.sqldata) ? 1 : 0;
    }
    return ParseNumber(index, AsText(index));
  }

  double ParseNumber(int index, std::string text) {
    for (char& c : text)
      if (c == Settings().DecimalSeparator) c = '.';
    const char* begin = text.c_str();
    while (*begin == ' ') ++begin;
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    while (end && *end == ' ') ++end;
    if (end == begin || (end && *end)) {
      throw EDatabaseError("'" + AsText(index) + "' is not a valid number (field " +
                           fieldNames[static_cast<size_t>(index)] + ")");
    }
    return value;
  }

  int64_t AsInteger(int index) {
    if (IsNull(index)) return 0;
    const XSQLVAR& var = Column(index);
    switch (var.sqltype & ~1) {
      case SQL_SHORT:
      case SQL_LONG:
      case SQL_INT64:
        if (var.sqlscale == 0) return RawInteger(var);
        return std::llround(AsDouble(index));
      case SQL_TEXT:
      case SQL_VARYING:
      case SQL_BLOB: {
        const std::string text = AsText(index);
        const char* begin = text.c_str();
        while (*begin == ' ') ++begin;
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(begin, &end, 10);
        while (end && *end == ' ') ++end;
        if (end == begin || (end && *end) || errno == ERANGE)
          throw EDatabaseError("'" + text + "' is not a valid integer value (field " +
                               fieldNames[static_cast<size_t>(index)] + ")");
        return value;
      }
    }
    return std::llround(AsDouble(index));
  }

  DateTime AsDateTime(int index) {
    if (IsNull(index)) return DateTime{};
    const XSQLVAR& var = Column(index);
    switch (var.sqltype & ~1) {
      case SQL_TIMESTAMP:
      case SQL_TYPE_DATE:
      case SQL_TYPE_TIME:
        return RawDateTime(var);
      case SQL_TEXT:
      case SQL_VARYING: {
        const std::string text = AsText(index);
        DateTime value;
        if (detail::TryParseDateTimeText(text, Settings(), DateTime::Now(), value)) return value;
        throw EDatabaseError("'" + text + "' is not a valid date and time (field " +
                             fieldNames[static_cast<size_t>(index)] + ")");
      }
    }
    throw EDatabaseError("Field " + fieldNames[static_cast<size_t>(index)] +
                         " cannot be read as a date and time");
  }
};

TIBRQuery::TIBRQuery(TIBRDATABASE& database) : impl_(std::make_unique<Impl>(this, database)) {}
TIBRQuery::~TIBRQuery() = default;

void TIBRQuery::SetSQL(const std::string& sql) {
  impl_->Close();
  impl_->DropStatement();
  impl_->sql = sql;
  impl_->parsed = ParseNamedParameters(sql);
  impl_->values.clear();
  impl_->rowsAffected = 0;
}

const std::string& TIBRQuery::SQL() const { return impl_->sql; }
const std::vector<std::string>& TIBRQuery::ParamNames() const { return impl_->parsed.names; }

bool TIBRQuery::HasParam(std::string_view name) const {
  const std::string key = AsciiUpper(name);
  for (const auto& n : impl_->parsed.names)
    if (AsciiUpper(n) == key) return true;
  return false;
}

namespace {
ParamValue& Slot(std::map<std::string, ParamValue>& values, const TIBRQuery& q,
                 std::string_view name) {
  if (!q.HasParam(name)) throw EDatabaseError("Parameter " + std::string(name) + " not found");
  return values[AsciiUpper(name)];
}
}  // namespace

void TIBRQuery::SetParamText(std::string_view name, std::string_view utf8) {
  ParamValue& v = Slot(impl_->values, *this, name);
  v = ParamValue{};
  v.kind = ParamValue::Kind::Text;
  v.text = std::string(utf8);
}

void TIBRQuery::SetParamDateTime(std::string_view name, const DateTime& value) {
  ParamValue& v = Slot(impl_->values, *this, name);
  v = ParamValue{};
  v.kind = ParamValue::Kind::DateTime;
  v.dateTime = value;
}

void TIBRQuery::SetParamInteger(std::string_view name, int64_t value) {
  ParamValue& v = Slot(impl_->values, *this, name);
  v = ParamValue{};
  v.kind = ParamValue::Kind::Integer;
  v.integer = value;
}

void TIBRQuery::SetParamDouble(std::string_view name, double value) {
  ParamValue& v = Slot(impl_->values, *this, name);
  v = ParamValue{};
  v.kind = ParamValue::Kind::Double;
  v.number = value;
}

void TIBRQuery::SetParamNull(std::string_view name) {
  ParamValue& v = Slot(impl_->values, *this, name);
  v = ParamValue{};
  v.kind = ParamValue::Kind::Null;
}

void TIBRQuery::SetParamBlob(std::string_view name, std::string_view bytes) {
  ParamValue& v = Slot(impl_->values, *this, name);
  v = ParamValue{};
  v.kind = ParamValue::Kind::Blob;
  v.text = std::string(bytes);
}

void TIBRQuery::ClearParams() { impl_->values.clear(); }

void TIBRQuery::SetTag(int tag) { impl_->tag = tag; }
int TIBRQuery::Tag() const { return impl_->tag; }

void TIBRQuery::Prepare() { impl_->Prepare(); }
void TIBRQuery::Open() { impl_->Open(); }
void TIBRQuery::ExecSQL() { impl_->ExecSQL(); }
void TIBRQuery::Close() { impl_->Close(); }
bool TIBRQuery::Active() const { return impl_->active; }

bool TIBRQuery::Eof() const { return !impl_->hasRow; }

void TIBRQuery::Next() {
  if (!impl_->active) return;
  if (impl_->cursorOpen)
    impl_->Fetch();
  else
    impl_->hasRow = false;  // an executed procedure's single row
}

int64_t TIBRQuery::RowsAffected() const { return impl_->rowsAffected; }

int TIBRQuery::FieldCount() const { return impl_->prepared ? impl_->output->sqld : 0; }

const std::string& TIBRQuery::FieldName(int index) const {
  impl_->Column(index);
  return impl_->fieldNames[static_cast<size_t>(index)];
}

int TIBRQuery::FieldIndex(std::string_view name) const {
  const std::string key = AsciiUpper(name);
  for (size_t i = 0; i < impl_->fieldNames.size(); ++i)
    if (AsciiUpper(impl_->fieldNames[i]) == key) return static_cast<int>(i);
  return -1;
}

FieldKind TIBRQuery::Kind(int index) const {
  const XSQLVAR& var = impl_->Column(index);
  switch (var.sqltype & ~1) {
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
      return FieldKind::DateTime;
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      return var.sqlscale ? FieldKind::ScaledNumeric : FieldKind::Float;
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
      return var.sqlscale ? FieldKind::ScaledNumeric : FieldKind::Integer;
    case SQL_TEXT:
    case SQL_VARYING:
      return FieldKind::Character;
    case SQL_BLOB:
      return var.sqlsubtype == 1 ? FieldKind::TextBlob : FieldKind::BinaryBlob;
  }
  return FieldKind::Other;
}

int TIBRQuery::SqlType(int index) const { return impl_->Type(index); }

int TIBRQuery::Scale(int index) const {
  const XSQLVAR& var = impl_->Column(index);
  switch (var.sqltype & ~1) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      return var.sqlscale;
  }
  return 0;
}

bool TIBRQuery::IsNull(int index) const { return impl_->IsNull(index); }
std::string TIBRQuery::AsText(int index) const { return impl_->AsText(index); }
DateTime TIBRQuery::AsDateTime(int index) const { return impl_->AsDateTime(index); }
double TIBRQuery::AsDouble(int index) const { return impl_->AsDouble(index); }
int64_t TIBRQuery::AsInteger(int index) const { return impl_->AsInteger(index); }
std::string TIBRQuery::AsBytes(int index) const { return impl_->AsBytes(index); }

void TIBRQuery::ReadBlob(int index, const std::function<void(std::string_view chunk)>& sink) const {
  impl_->ReadBlob(index, sink);
}

void TIBRQuery::SetFormatSettings(const FormatSettings& settings) { impl_->settings = settings; }

}  // namespace tarvo::db

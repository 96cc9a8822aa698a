// The database layer: a connection (TIBRDATABASE), a query (TIBRQuery) and
// an event listener over the ISC C API of the Firebird/InterBase client
// library. Every handle of the client library is owned by one of these
// classes and released on every path, exceptions included.
//
// Threads: a connection, its transaction and its queries are used by one
// thread at a time. Different connections may be used on different threads.
//
// Errors: every failure raises EDatabaseError whose what() is the server's
// own message text (UTF-8), so a text raised by a trigger or procedure
// ("... ERR:Bitte ...") arrives intact. Unreadable date texts raise
// EDatabaseError with the German message of NormalizeDateText.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/DateTime.h"
#include "common/FormatSettings.h"

namespace tarvo::db {

namespace detail {
class QueryLink;  // the layer's own bookkeeping between a connection and its queries
}

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message, long sqlCode = 0, long gdsCode = 0)
      : std::runtime_error(message), sqlCode_(sqlCode), gdsCode_(gdsCode) {}
  long SqlCode() const { return sqlCode_; }
  long GdsCode() const { return gdsCode_; }

 private:
  long sqlCode_;
  long gdsCode_;
};

// A validator vetoed a post or a new record; what() is the validator's text.
class EValidationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The platform's silent abort: a cancellation without a message.
class EAbort : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The connection. Parameters: user "sysdba", password "quillfern", SQL
// dialect 1, character set WIN1252 (converted to and from UTF-8 here), no
// prompt. Owns one transaction (read_committed, rec_version, nowait) that
// is started on first use by a query and ended by the calls below.
class TIBRDATABASE {
 public:
  TIBRDATABASE();
  ~TIBRDATABASE();  // rolls back an open transaction and detaches
  TIBRDATABASE(const TIBRDATABASE&) = delete;
  TIBRDATABASE& operator=(const TIBRDATABASE&) = delete;

  // host/port:file, e.g. "localhost/3050:/var/lib/firebird/3.0/data/x.fdb".
  void SetDatabaseName(const std::string& connection);
  const std::string& DatabaseName() const;

  void Open();   // attach; no-op when connected
  void Close();  // roll back an open transaction, detach; never throws
  bool Connected() const;
  // Seconds the next Open may wait for the database server's host; 0 (the
  // default) leaves it to the client library.
  void SetConnectTimeout(int seconds);
  // The server's id of this attachment (MON$ATTACHMENT_ID), one round
  // trip; raises EDatabaseError when not connected or the connection is
  // gone.
  int64_t AttachmentId();

  void StartTransaction();  // no-op when one is active
  bool InTransaction() const;
  void Commit();
  void Rollback();
  void CommitRetaining();    // keeps the transaction context open
  void RollbackRetaining();  // undoes the work, keeps the context open

  // Raw handles for the layer's own classes (and the raw benchmark).
  void* NativeHandle();             // isc_db_handle*
  void* NativeTransactionHandle();  // isc_tr_handle*, starts the transaction

  // For TIBRQuery: a query registers itself so that it is told when the
  // transaction ends (its cursor is closed), when the connection closes (its
  // statement handle is released) and when this object goes away (the query
  // then raises EDatabaseError on use).
  void RegisterQuery(detail::QueryLink* query);
  void UnregisterQuery(detail::QueryLink* query);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// What a result column holds, as callers need to tell it.
enum class FieldKind {
  DateTime,       // TIMESTAMP (and dialect-1 DATE), DATE, TIME
  Float,          // FLOAT, DOUBLE PRECISION
  Integer,        // SMALLINT, INTEGER, BIGINT without scale
  ScaledNumeric,  // NUMERIC/DECIMAL with a scale
  Character,      // CHAR, VARCHAR
  TextBlob,       // BLOB SUB_TYPE TEXT
  BinaryBlob,     // any other blob sub type
  Other
};

// The validator that may veto a post (message 2014) or a new record (2015).
// No validator exists on this platform; tests install one. The layer has no
// record editing of its own, so the hook sits where records are written:
// ExecSQL asks the validator before it runs an INSERT (2015) or an UPDATE
// (2014) statement (with or without RETURNING), unless the query's tag is
// -999. Other statements, and Open, never ask it. A veto raises out of
// ExecSQL before anything reaches the server.
class IValidator {
 public:
  virtual ~IValidator() = default;
  // Return false to refuse; a non-empty `meldung` becomes EValidationError,
  // an empty one a silent EAbort.
  virtual bool Validate(int message, const class TIBRQuery& query, std::string& meldung) = 0;
};
// Installs the process-wide validator (nullptr removes it). Not thread-safe
// against concurrent queries; set it before use.
void SetValidator(std::shared_ptr<IValidator> validator);

// One statement on a connection. Named parameters are written as a colon
// and a name (":NR"); names are matched without regard to letter case;
// quoted strings, quoted identifiers and comments are not scanned. A name
// may appear several times; setting it sets every occurrence.
class TIBRQuery {
 public:
  explicit TIBRQuery(TIBRDATABASE& database);
  ~TIBRQuery();
  TIBRQuery(const TIBRQuery&) = delete;
  TIBRQuery& operator=(const TIBRQuery&) = delete;

  // Replaces the statement; closes an open result and clears parameters.
  void SetSQL(const std::string& sql);
  const std::string& SQL() const;

  // Distinct parameter names in order of first appearance, as written.
  const std::vector<std::string>& ParamNames() const;
  bool HasParam(std::string_view name) const;

  // Setting a name the statement does not have raises EDatabaseError
  // "Parameter <name> not found". Values are kept until SetSQL or
  // ClearParams. Blob bytes are copied.
  void SetParamText(std::string_view name, std::string_view utf8);
  void SetParamDateTime(std::string_view name, const DateTime& value);
  void SetParamInteger(std::string_view name, int64_t value);
  void SetParamDouble(std::string_view name, double value);
  void SetParamNull(std::string_view name);
  void SetParamBlob(std::string_view name, std::string_view bytes);
  void ClearParams();

  // -999 keeps the validator out of this query.
  void SetTag(int tag);
  int Tag() const;

  // Prepares on the connection's transaction (started when needed; the
  // connection is opened when it is closed). Open and ExecSQL prepare
  // implicitly; a prepared statement is kept until SetSQL, until the
  // connection closes, or until the query is destroyed. Commit and Rollback
  // close an open result (Active() turns false); the retaining variants keep
  // it. A query that outlives its TIBRDATABASE raises EDatabaseError on use.
  void Prepare();
  // Runs a statement with a result set and moves to the first row. Text
  // parameters that feed TIMESTAMP, TIME or DATE inputs (types 510, 560,
  // 570) are passed through NormalizeDateText first; an unreadable one
  // raises its German message before anything is sent. Any error (also one
  // from the first fetch) leaves the query closed. A statement without a
  // result set is simply executed (Eof() is then true); EXECUTE PROCEDURE
  // and RETURNING give their single row.
  //
  // Parameter binding: a value set as text goes to the server as text in
  // the connection's code page and the server casts it to the column's type
  // (a text for a blob input is written as a blob); integers, doubles and
  // date-times go as such; a name that was never set, and a bare "?", are
  // NULL.
  void Open();
  // Runs a statement without a result set (no date-text normalisation);
  // consults the validator first (see IValidator). Throws EValidationError
  // or EAbort on a veto.
  void ExecSQL();
  void Close();
  bool Active() const;

  bool Eof() const;
  void Next();
  // Rows changed by the last ExecSQL (insert, update, delete).
  int64_t RowsAffected() const;

  int FieldCount() const;
  const std::string& FieldName(int index) const;  // alias name as the server gives it
  int FieldIndex(std::string_view name) const;    // case-insensitive; -1 when absent
  FieldKind Kind(int index) const;
  int SqlType(int index) const;  // XSQLVAR sqltype without the null bit
  int Scale(int index) const;

  // Current row. Reading a NULL value gives 0 / empty; so does reading when
  // there is no current row (Eof). An index outside 0..FieldCount()-1
  // raises EDatabaseError.
  bool IsNull(int index) const;
  // Integers in decimal; scaled numerics and floats as the locale would
  // write them (shortest form of up to 15 significant digits, the locale's
  // decimal separator, no thousands separator; FLOAT columns with the
  // shortest digits that read back as the same single-precision value, so
  // 1.1 stays "1,1"); date-times (TIMESTAMP, dialect-1 DATE) as short date,
  // a blank and long time (time left out at exactly midnight), a TIME as the
  // long time and a SQL DATE as the short date; CHAR columns with their
  // padding, as the server gives them; character columns and text blobs as
  // UTF-8 text (OCTETS columns as their bytes); binary blobs as their bytes.
  // AsDouble/AsInteger of a text read it as a number (EDatabaseError when
  // it is none); AsInteger of a scaled or float value rounds; AsDouble of a
  // date-time counts days since 30.12.1899.
  std::string AsText(int index) const;
  DateTime AsDateTime(int index) const;
  double AsDouble(int index) const;
  int64_t AsInteger(int index) const;
  // Raw bytes: blobs as stored, characters as UTF-8, others as AsText.
  std::string AsBytes(int index) const;
  // Streams a blob column of the current row in chunks; a NULL blob calls
  // nothing. Only text blobs are converted to UTF-8.
  void ReadBlob(int index, const std::function<void(std::string_view chunk)>& sink) const;

  // The settings that AsText and NormalizeDateText use; defaults to
  // SystemFormatSettings().
  void SetFormatSettings(const FormatSettings& settings);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A number as the locale writes it (Delphi's FloatToStr): the shortest form
// of at most `precision` significant digits, `decimalSeparator`, no
// thousands separator, scientific notation ("1,5E20", "1E-5") only when the
// decimal exponent is beyond the precision or below -4; "NAN", "INF", "-INF".
std::string FormatFloat(double value, char decimalSeparator, int precision = 15);

// A statement with its named parameters (":NAME") replaced by positional
// markers. `positions` holds, for each marker in order, the upper-case
// name (empty for a bare "?" written in the statement, which is always
// bound as NULL); `names` the distinct names in order of first appearance,
// as written. Quoted strings ('...' and "...") and comments (-- and /* */)
// are copied unscanned. Statements beginning with CREATE, ALTER or RECREATE
// have no parameters (their PSQL bodies name variables as :NAME); in an
// EXECUTE BLOCK only the header before the body's AS takes parameters.
struct ParsedStatement {
  std::string positionalSql;
  std::vector<std::string> positions;
  std::vector<std::string> names;
};
ParsedStatement ParseNamedParameters(const std::string& sql);

// Turns a short, hand-typed date entry into a full date text, under the
// given settings and today's date; see the rules in IBTarvo.cpp. Raises
// EDatabaseError("Bitte geben Sie ein gültiges Datum ein, oder drücken Sie
// die [ESC]-Taste") when the text cannot be read as a date.
std::string NormalizeDateText(const std::string& text, const FormatSettings& settings,
                              const DateTime& today);
std::string NormalizeDateText(const std::string& text);  // system settings, today

// Listens to database events on a connection of its own. Registers the
// names and calls `onEvent(name, count)` on the listener's thread for every
// post after registration (the client library's first, initial delivery is
// not passed on). Names are case-sensitive, as the server compares them;
// any number of names may be given (the server takes 15 per registration
// block, the listener uses as many blocks as needed). Start() returns once
// the server has confirmed the registration, so every post committed after
// it returns is reported. Counts of posts that arrive together are added
// up by the server: one call may carry a count above 1.
//
// Stop() (and the destructor) cancel the registration, detach and join the
// thread; the callback is never running afterwards. The callback must not
// destroy the listener; a Stop() from inside the callback only asks the
// thread to end (no further callbacks), the join happens at the next Stop()
// or the destructor. When the connection is lost the thread ends and
// Running() turns false; Start() may be called again.
class TIBREventListener {
 public:
  using Callback = std::function<void(const std::string& name, long count)>;
  TIBREventListener(std::string connection, std::vector<std::string> names, Callback onEvent);
  ~TIBREventListener();
  TIBREventListener(const TIBREventListener&) = delete;
  TIBREventListener& operator=(const TIBREventListener&) = delete;

  void Start();  // attaches and registers; raises EDatabaseError on failure
  void Stop();   // never throws
  bool Running() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvo::db

#include "db/uDBStatement.h"

#include <sqlext.h>

#include <algorithm>
#include <cstring>

#include "db/uDBConnection.h"
#include "db/uDBOdbc.h"
#include "diagnostics/uExcecoes.h"

namespace tamrix::db::odbc {

namespace {

bool IsCharType(SQLSMALLINT t) {
  return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR ||
         t == SQL_WVARCHAR || t == SQL_WLONGVARCHAR || t == SQL_GUID;
}
bool IsNumericType(SQLSMALLINT t) {
  return t == SQL_DECIMAL || t == SQL_NUMERIC;
}
bool IsBinaryType(SQLSMALLINT t) {
  return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY;
}
bool IsDateType(SQLSMALLINT t) {
  return t == SQL_TYPE_DATE || t == SQL_TYPE_TIME || t == SQL_TYPE_TIMESTAMP || t == SQL_DATETIME ||
         t == SQL_TIME || t == SQL_TIMESTAMP;
}

SQLSMALLINT SqlTypeForField(TDBFieldType t) {
  switch (t) {
    case TDBFieldType::ftSmallint:
      return SQL_SMALLINT;
    case TDBFieldType::ftInteger:
      return SQL_INTEGER;
    case TDBFieldType::ftLargeint:
      return SQL_BIGINT;
    case TDBFieldType::ftBoolean:
      return SQL_BIT;
    case TDBFieldType::ftFloat:
      return SQL_DOUBLE;
    case TDBFieldType::ftBCD:
      return SQL_DECIMAL;
    case TDBFieldType::ftDateTime:
      return SQL_TYPE_TIMESTAMP;
    case TDBFieldType::ftDate:
      return SQL_TYPE_DATE;
    case TDBFieldType::ftTime:
      return SQL_TYPE_TIME;
    case TDBFieldType::ftBytes:
      return SQL_VARBINARY;
    case TDBFieldType::ftString:
    case TDBFieldType::ftUnknown:
      return SQL_VARCHAR;
  }
  return SQL_VARCHAR;
}

SQLSMALLINT CTypeForSql(SQLSMALLINT t) {
  if (IsCharType(t)) return SQL_C_WCHAR;
  if (IsNumericType(t)) return SQL_C_CHAR;
  if (IsBinaryType(t)) return SQL_C_BINARY;
  switch (t) {
    case SQL_SMALLINT:
    case SQL_TINYINT:
      return SQL_C_SSHORT;
    case SQL_INTEGER:
      return SQL_C_SLONG;
    case SQL_BIGINT:
      return SQL_C_SBIGINT;
    case SQL_BIT:
      return SQL_C_BIT;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return SQL_C_DOUBLE;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return SQL_C_TYPE_DATE;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return SQL_C_TYPE_TIME;
    default:
      break;
  }
  if (IsDateType(t)) return SQL_C_TYPE_TIMESTAMP;
  return SQL_C_CHAR;
}

SQLULEN DefaultSize(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_SMALLINT:
      return 5;
    case SQL_INTEGER:
      return 10;
    case SQL_BIGINT:
      return 19;
    case SQL_BIT:
      return 1;
    case SQL_DOUBLE:
    case SQL_FLOAT:
      return 15;
    case SQL_REAL:
      return 7;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return 18;
    case SQL_TYPE_DATE:
      return 10;
    case SQL_TYPE_TIME:
      return 8;
    default:
      break;
  }
  if (IsDateType(sqlType)) return 23;
  return 1;
}

template <typename T>
void Put(std::vector<unsigned char>& buffer, const T& v) {
  buffer.resize(sizeof(T));
  std::memcpy(buffer.data(), &v, sizeof(T));
}

template <typename T>
T Get(const std::vector<unsigned char>& buffer) {
  T v{};
  std::memcpy(&v, buffer.data(), std::min(sizeof(T), buffer.size()));
  return v;
}

SQL_TIMESTAMP_STRUCT ToStruct(const TDBTimeStamp& t) {
  SQL_TIMESTAMP_STRUCT s{};
  s.year = static_cast<SQLSMALLINT>(t.year);
  s.month = static_cast<SQLUSMALLINT>(t.month);
  s.day = static_cast<SQLUSMALLINT>(t.day);
  s.hour = static_cast<SQLUSMALLINT>(t.hour);
  s.minute = static_cast<SQLUSMALLINT>(t.minute);
  s.second = static_cast<SQLUSMALLINT>(t.second);
  s.fraction = t.nanos;
  return s;
}

TDBTimeStamp FromStruct(const SQL_TIMESTAMP_STRUCT& s) {
  TDBTimeStamp t;
  t.year = s.year;
  t.month = s.month;
  t.day = s.day;
  t.hour = s.hour;
  t.minute = s.minute;
  t.second = s.second;
  t.nanos = s.fraction;
  return t;
}

// Digits before and after the point of a decimal text, for the marker's precision.
void DecimalShape(const std::string& s, SQLULEN& precision, SQLSMALLINT& scale) {
  SQLULEN digits = 0;
  SQLSMALLINT after = 0;
  bool point = false;
  for (char c : s) {
    if (c == '.') {
      point = true;
    } else if (c >= '0' && c <= '9') {
      ++digits;
      if (point) ++after;
    }
  }
  precision = std::max<SQLULEN>(digits, 1);
  scale = after;
}

// Bytes of column buffers one block fetch may take, and the widest text cell (characters)
// bound into it; wider columns are read cell by cell.
constexpr std::size_t kBlockBudget = 2 * 1024 * 1024;
constexpr SQLULEN kMaxBlockCell = 8190;

// Stores the UTF-8 of n UTF-16 units in s (its buffer reused); plain ASCII is copied
// straight.
void TextOfWide(const SQLWCHAR* w, std::size_t n, std::string& s) {
  s.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (w[i] >= 0x80) {
      s = FromWide(w, static_cast<SQLLEN>(n));
      return;
    }
    s[i] = static_cast<char>(w[i]);
  }
}

bool IsTextType(SQLSMALLINT t) {
  return t == SQL_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR || t == SQL_WCHAR ||
         t == SQL_WVARCHAR || t == SQL_WLONGVARCHAR;
}

// psqlODBC's Unicode driver sets the session's client encoding to UTF-8 and hands text bound
// as bytes over as the server sent it: a third less work in the driver than UTF-16, and no
// conversion back. Text bound as SQL_C_CHAR would come in the process locale's charset.
bool DriverSendsUtf8(SQLHDBC dbc) {
  SQLWCHAR name[128] = {0};
  SQLSMALLINT len = 0;
  if (!SQL_SUCCEEDED(SQLGetInfoW(dbc, SQL_DRIVER_NAME, name, sizeof name, &len))) return false;
  return FromWide(name).find("psqlodbcw") != std::string::npos;
}

void TrimPadding(const TDBColumn& column, std::string& s) {
  // Fixed-length text comes padded; the padding is not part of the value.
  if (column.sqlType == SQL_CHAR || column.sqlType == SQL_WCHAR) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
  }
}

}  // namespace

TStatement::TStatement(TDBConnection& connection, int timeout) : connection_(connection) {
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection.Handle(), &stmt_))) {
    stmt_ = SQL_NULL_HSTMT;
    connection.RaiseError(SQL_HANDLE_DBC, connection.Handle(), "Falha ao alocar o comando ODBC.");
  }
  if (timeout < 0) timeout = connection.QueryTimeout();
  try {
    if (connection.ApplyTimeout(stmt_, timeout)) timeout_ = timeout;
  } catch (...) {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    stmt_ = SQL_NULL_HSTMT;
    throw;
  }
}

TStatement::~TStatement() {
  if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
}

void TStatement::Raise(const char* fallback) const {
  connection_.RaiseStatementError(stmt_, timeout_, fallback);
}

void TStatement::Check(SQLRETURN rc, const char* fallback) const {
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) Raise(fallback);
}

TStatement::TBinding TStatement::MakeBinding(const TBindSpec& spec) {
  TBinding b;
  b.io = spec.io == TDBParamType::ptInput         ? SQL_PARAM_INPUT
         : spec.io == TDBParamType::ptInputOutput ? SQL_PARAM_INPUT_OUTPUT
                                                  : SQL_PARAM_OUTPUT;
  b.output = spec.io == TDBParamType::ptInput ? nullptr : spec.output;
  const bool out = b.output != nullptr;
  const SQLSMALLINT decl = spec.declaredSqlType;
  const bool declared = decl != SQL_UNKNOWN_TYPE;
  TDBValue v = spec.value != nullptr ? *spec.value : TDBValue{};
  TDBFieldType type = spec.type;
  // A float for a date-time parameter counts days since 30/12/1899.
  if (std::holds_alternative<double>(v) && declared && IsDateType(decl)) {
    v = TDBTimeStamp::FromDateTime(std::get<double>(v));
    type = TDBFieldType::ftDateTime;
  }
  b.digits = declared ? spec.declaredScale : 0;

  if (IsNullValue(v)) {
    b.sqlType = declared ? decl : SqlTypeForField(type);
    b.cType = CTypeForSql(b.sqlType);
    b.size = std::max<SQLULEN>(declared ? spec.declaredSize : 0, DefaultSize(b.sqlType));
    b.indicator = SQL_NULL_DATA;
    if (IsDateType(b.sqlType) && !declared) b.digits = 3;
    SQLULEN bytes = 16;
    if (out && (b.cType == SQL_C_WCHAR || b.cType == SQL_C_CHAR || b.cType == SQL_C_BINARY)) {
      bytes = (std::min<SQLULEN>(b.size, 8000) + 1) * sizeof(SQLWCHAR);
    } else if (b.cType == SQL_C_TYPE_TIMESTAMP) {
      bytes = sizeof(SQL_TIMESTAMP_STRUCT);
    }
    b.buffer.assign(bytes, 0);
    return b;
  }

  if (auto* s = std::get_if<std::string>(&v)) {
    if (type == TDBFieldType::ftBCD || (declared && IsNumericType(decl))) {
      b.cType = SQL_C_CHAR;
      b.sqlType = declared ? decl : SQL_DECIMAL;
      SQLULEN precision = 0;
      SQLSMALLINT scale = 0;
      DecimalShape(*s, precision, scale);
      b.size = std::max(precision, declared ? spec.declaredSize : 0);
      b.digits = declared ? spec.declaredScale : scale;
      b.buffer.assign(s->begin(), s->end());
      b.buffer.push_back(0);
      b.indicator = static_cast<SQLLEN>(s->size());
    } else if (type == TDBFieldType::ftBytes || (declared && IsBinaryType(decl))) {
      b.cType = SQL_C_BINARY;
      b.sqlType = declared ? decl : (s->size() <= 8000 ? SQL_VARBINARY : SQL_LONGVARBINARY);
      b.size = std::max<SQLULEN>(s->size(), 1);
      b.buffer.assign(s->begin(), s->end());
      if (b.buffer.empty()) b.buffer.push_back(0);
      b.indicator = static_cast<SQLLEN>(s->size());
    } else {
      const WString w = ToWide(*s);
      b.cType = SQL_C_WCHAR;
      b.sqlType = declared ? decl : (w.size() <= 8000 ? SQL_VARCHAR : SQL_LONGVARCHAR);
      b.size = std::max<SQLULEN>(w.size(), 1);
      if (declared && (!IsCharType(decl) || out)) b.size = std::max(b.size, spec.declaredSize);
      if (declared && IsDateType(decl) && b.digits == 0) b.digits = 3;
      std::size_t units = w.size() + 1;
      if (out) units = std::max<std::size_t>(units, std::min<SQLULEN>(b.size, 8000) + 1);
      b.buffer.assign(units * sizeof(SQLWCHAR), 0);
      std::memcpy(b.buffer.data(), w.data(), w.size() * sizeof(SQLWCHAR));
      b.indicator = static_cast<SQLLEN>(w.size() * sizeof(SQLWCHAR));
    }
    return b;
  }

  if (auto* i = std::get_if<std::int64_t>(&v)) {
    if (type == TDBFieldType::ftSmallint) {
      b.cType = SQL_C_SSHORT;
      Put(b.buffer, static_cast<SQLSMALLINT>(*i));
    } else if (type == TDBFieldType::ftInteger) {
      b.cType = SQL_C_SLONG;
      Put(b.buffer, static_cast<SQLINTEGER>(*i));
    } else {
      b.cType = SQL_C_SBIGINT;
      Put(b.buffer, static_cast<SQLBIGINT>(*i));
      if (type != TDBFieldType::ftLargeint) type = TDBFieldType::ftLargeint;
    }
    b.sqlType = declared ? decl : SqlTypeForField(type);
  } else if (auto* d = std::get_if<double>(&v)) {
    b.cType = SQL_C_DOUBLE;
    Put(b.buffer, *d);
    b.sqlType = declared ? decl : SQL_DOUBLE;
  } else if (auto* f = std::get_if<bool>(&v)) {
    b.cType = SQL_C_BIT;
    Put(b.buffer, static_cast<unsigned char>(*f ? 1 : 0));
    b.sqlType = declared ? decl : SQL_BIT;
  } else if (auto* t = std::get_if<TDBTimeStamp>(&v)) {
    b.sqlType = declared
                    ? decl
                    : SqlTypeForField(type == TDBFieldType::ftDate || type == TDBFieldType::ftTime
                                          ? type
                                          : TDBFieldType::ftDateTime);
    if (b.sqlType == SQL_TYPE_DATE || b.sqlType == SQL_DATE) {
      SQL_DATE_STRUCT ds{static_cast<SQLSMALLINT>(t->year), static_cast<SQLUSMALLINT>(t->month),
                         static_cast<SQLUSMALLINT>(t->day)};
      b.cType = SQL_C_TYPE_DATE;
      Put(b.buffer, ds);
      b.digits = 0;
    } else if (b.sqlType == SQL_TYPE_TIME || b.sqlType == SQL_TIME) {
      SQL_TIME_STRUCT ts{static_cast<SQLUSMALLINT>(t->hour), static_cast<SQLUSMALLINT>(t->minute),
                         static_cast<SQLUSMALLINT>(t->second)};
      b.cType = SQL_C_TYPE_TIME;
      Put(b.buffer, ts);
      b.digits = 0;
    } else {
      b.cType = SQL_C_TYPE_TIMESTAMP;
      Put(b.buffer, ToStruct(*t));
      if (!declared) b.digits = 3;
    }
  }
  b.size = std::max<SQLULEN>(declared ? spec.declaredSize : 0, DefaultSize(b.sqlType));
  if (IsDateType(b.sqlType) && b.sqlType != SQL_TYPE_DATE && b.sqlType != SQL_TYPE_TIME) {
    b.size = std::max<SQLULEN>(b.size, 23);
  }
  if (out && b.buffer.size() < 16) b.buffer.resize(16, 0);
  b.indicator = 0;
  return b;
}

void TStatement::Bind(const std::vector<TBindSpec>& specs) {
  bindings_.clear();
  bindings_.reserve(specs.size());
  for (const auto& s : specs) bindings_.push_back(MakeBinding(s));
  for (std::size_t i = 0; i < bindings_.size(); ++i) {
    TBinding& b = bindings_[i];
    const SQLRETURN rc = SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(i + 1), b.io, b.cType,
                                          b.sqlType, b.size, b.digits, b.buffer.data(),
                                          static_cast<SQLLEN>(b.buffer.size()), &b.indicator);
    Check(rc, "Falha ao associar um parâmetro.");
  }
}

void TStatement::Execute(const std::string& sql) {
  WString w = ToWide(sql);
  const SQLRETURN rc = SQLExecDirectW(stmt_, w.data(), static_cast<SQLINTEGER>(w.size()));
  Check(rc, "Falha ao executar o comando.");
}

bool TStatement::SeekResultSet() {
  if (mode_ == TFetchMode::Blocks) EndBlocks();
  mode_ = TFetchMode::Undecided;
  for (;;) {
    SQLSMALLINT n = 0;
    Check(SQLNumResultCols(stmt_, &n), "Falha ao ler o resultado.");
    if (n > 0) return true;
    const SQLRETURN rc = SQLMoreResults(stmt_);
    if (rc == SQL_NO_DATA) return false;
    Check(rc, "Falha ao ler o resultado.");
  }
}

void TStatement::Drain() {
  if (mode_ == TFetchMode::Blocks) EndBlocks();
  mode_ = TFetchMode::Undecided;
  for (;;) {
    const SQLRETURN rc = SQLMoreResults(stmt_);
    if (rc == SQL_NO_DATA) return;
    Check(rc, "Falha ao ler o resultado.");
  }
}

SQLLEN TStatement::RowCount() {
  SQLLEN n = -1;
  if (!SQL_SUCCEEDED(SQLRowCount(stmt_, &n))) return -1;
  return n;
}

std::vector<TDBColumn> TStatement::DescribeColumns() {
  SQLSMALLINT n = 0;
  Check(SQLNumResultCols(stmt_, &n), "Falha ao ler o resultado.");
  std::vector<TDBColumn> cols;
  cols.reserve(static_cast<std::size_t>(n));
  for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(n); ++i) {
    SQLWCHAR name[512];
    SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
    SQLULEN size = 0;
    Check(SQLDescribeColW(stmt_, i, name, 512, &nameLen, &type, &size, &digits, &nullable),
          "Falha ao descrever o resultado.");
    TDBColumn c;
    c.name = FromWide(name, std::min<SQLSMALLINT>(nameLen, 511));
    c.sqlType = type;
    c.fieldType = FieldTypeOfSqlType(type);
    c.size = size;
    c.scale = digits;
    c.nullable = nullable;
    SQLLEN precision = 0, scale = 0;
    if (SQL_SUCCEEDED(
            SQLColAttributeW(stmt_, i, SQL_DESC_PRECISION, nullptr, 0, nullptr, &precision))) {
      c.precision = static_cast<int>(precision);
    }
    if (SQL_SUCCEEDED(SQLColAttributeW(stmt_, i, SQL_DESC_SCALE, nullptr, 0, nullptr, &scale))) {
      c.scale = static_cast<int>(scale);
    }
    cols.push_back(std::move(c));
  }
  return cols;
}

TDBValue TStatement::ReadColumn(SQLUSMALLINT index, const TDBColumn& column) {
  SQLLEN ind = 0;
  SQLRETURN rc;
  switch (column.fieldType) {
    case TDBFieldType::ftSmallint:
    case TDBFieldType::ftInteger:
    case TDBFieldType::ftLargeint: {
      SQLBIGINT v = 0;
      rc = SQLGetData(stmt_, index, SQL_C_SBIGINT, &v, 0, &ind);
      Check(rc, "Falha ao ler um campo.");
      if (ind == SQL_NULL_DATA) return {};
      return static_cast<std::int64_t>(v);
    }
    case TDBFieldType::ftBoolean: {
      unsigned char v = 0;
      Check(SQLGetData(stmt_, index, SQL_C_BIT, &v, 0, &ind), "Falha ao ler um campo.");
      if (ind == SQL_NULL_DATA) return {};
      return v != 0;
    }
    case TDBFieldType::ftFloat: {
      double v = 0;
      Check(SQLGetData(stmt_, index, SQL_C_DOUBLE, &v, 0, &ind), "Falha ao ler um campo.");
      if (ind == SQL_NULL_DATA) return {};
      return v;
    }
    case TDBFieldType::ftDateTime: {
      SQL_TIMESTAMP_STRUCT v{};
      Check(SQLGetData(stmt_, index, SQL_C_TYPE_TIMESTAMP, &v, sizeof v, &ind),
            "Falha ao ler um campo.");
      if (ind == SQL_NULL_DATA) return {};
      return FromStruct(v);
    }
    case TDBFieldType::ftDate: {
      SQL_DATE_STRUCT v{};
      Check(SQLGetData(stmt_, index, SQL_C_TYPE_DATE, &v, sizeof v, &ind),
            "Falha ao ler um campo.");
      if (ind == SQL_NULL_DATA) return {};
      TDBTimeStamp t;
      t.year = v.year, t.month = v.month, t.day = v.day;
      return t;
    }
    case TDBFieldType::ftTime: {
      SQL_TIME_STRUCT v{};
      Check(SQLGetData(stmt_, index, SQL_C_TYPE_TIME, &v, sizeof v, &ind),
            "Falha ao ler um campo.");
      if (ind == SQL_NULL_DATA) return {};
      TDBTimeStamp t;
      t.hour = v.hour, t.minute = v.minute, t.second = v.second;
      return t;
    }
    case TDBFieldType::ftBCD: {
      char v[128];
      Check(SQLGetData(stmt_, index, SQL_C_CHAR, v, sizeof v, &ind), "Falha ao ler um campo.");
      if (ind == SQL_NULL_DATA) return {};
      return std::string(v);
    }
    case TDBFieldType::ftBytes: {
      std::string acc;
      std::vector<char> buf(8192);
      for (;;) {
        rc = SQLGetData(stmt_, index, SQL_C_BINARY, buf.data(), static_cast<SQLLEN>(buf.size()),
                        &ind);
        if (rc == SQL_NO_DATA) break;
        Check(rc, "Falha ao ler um campo.");
        if (ind == SQL_NULL_DATA) return {};
        const std::size_t got = (ind == SQL_NO_TOTAL || ind > static_cast<SQLLEN>(buf.size()))
                                    ? buf.size()
                                    : static_cast<std::size_t>(ind);
        acc.append(buf.data(), got);
        if (rc == SQL_SUCCESS) break;
      }
      return acc;
    }
    case TDBFieldType::ftString:
    case TDBFieldType::ftUnknown:
      break;
  }
  WString acc;
  std::vector<SQLWCHAR> buf(4096);
  const SQLLEN bytes = static_cast<SQLLEN>(buf.size() * sizeof(SQLWCHAR));
  for (;;) {
    rc = SQLGetData(stmt_, index, SQL_C_WCHAR, buf.data(), bytes, &ind);
    if (rc == SQL_NO_DATA) break;
    Check(rc, "Falha ao ler um campo.");
    if (ind == SQL_NULL_DATA) return {};
    const std::size_t units = (ind == SQL_NO_TOTAL || ind >= bytes)
                                  ? buf.size() - 1
                                  : static_cast<std::size_t>(ind) / sizeof(SQLWCHAR);
    acc.append(buf.data(), units);
    if (rc == SQL_SUCCESS) break;
  }
  std::string s;
  TextOfWide(acc.data(), acc.size(), s);
  TrimPadding(column, s);
  return s;
}

bool TStatement::StartBlocks(const std::vector<TDBColumn>& columns) {
  const std::size_t most = connection_.Profile().FetchBlockRows();
  if (most <= 1 || columns.empty()) return false;
  blocks_.assign(columns.size(), TColumnBlock{});
  const bool utf8 = DriverSendsUtf8(connection_.Handle());
  std::size_t rowBytes = 0;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const TDBColumn& c = columns[i];
    TColumnBlock& b = blocks_[i];
    switch (c.fieldType) {
      case TDBFieldType::ftSmallint:
      case TDBFieldType::ftInteger:
      case TDBFieldType::ftLargeint:
        b.cType = SQL_C_SBIGINT, b.width = sizeof(SQLBIGINT);
        break;
      case TDBFieldType::ftBoolean:
        b.cType = SQL_C_BIT, b.width = 1;
        break;
      case TDBFieldType::ftFloat:
        b.cType = SQL_C_DOUBLE, b.width = sizeof(double);
        break;
      case TDBFieldType::ftDateTime:
        b.cType = SQL_C_TYPE_TIMESTAMP, b.width = sizeof(SQL_TIMESTAMP_STRUCT);
        break;
      case TDBFieldType::ftDate:
        b.cType = SQL_C_TYPE_DATE, b.width = sizeof(SQL_DATE_STRUCT);
        break;
      case TDBFieldType::ftTime:
        b.cType = SQL_C_TYPE_TIME, b.width = sizeof(SQL_TIME_STRUCT);
        break;
      case TDBFieldType::ftBCD:
        b.cType = SQL_C_CHAR, b.width = 128;
        break;
      case TDBFieldType::ftBytes:
        if (c.size == 0 || c.size > kMaxBlockCell) return false;
        b.cType = SQL_C_BINARY, b.width = c.size;
        break;
      case TDBFieldType::ftString:
        if (c.size == 0 || c.size > kMaxBlockCell) return false;
        if (utf8 && IsTextType(c.sqlType) && ServerTextType(i)) {
          b.cType = SQL_C_BINARY, b.utf8 = true, b.width = 4 * c.size;  // up to 4 bytes each
        } else {
          // A character beyond U+FFFF takes two UTF-16 units.
          b.cType = SQL_C_WCHAR, b.width = (2 * c.size + 1) * sizeof(SQLWCHAR);
        }
        break;
      case TDBFieldType::ftUnknown:
        return false;
    }
    // Column-wise, a fixed-size C type lies at its own size (the driver ignores the buffer
    // length); only text and bytes cells take the width given.
    rowBytes += b.width;
  }
  const std::size_t rows = std::min(most, std::max<std::size_t>(kBlockBudget / rowBytes, 1));
  if (rows <= 1) return false;
  rowStatus_.assign(rows, 0);
  bool bound =
      SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_BIND_TYPE,
                                   reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0)) &&
      SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE,
                                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(rows)), 0)) &&
      SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &blockRows_, 0)) &&
      SQL_SUCCEEDED(SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, rowStatus_.data(), 0));
  for (std::size_t i = 0; bound && i < blocks_.size(); ++i) {
    TColumnBlock& b = blocks_[i];
    b.data.assign(b.width * rows, 0);
    b.indicators.assign(rows, 0);
    bound =
        SQL_SUCCEEDED(SQLBindCol(stmt_, static_cast<SQLUSMALLINT>(i + 1), b.cType, b.data.data(),
                                 static_cast<SQLLEN>(b.width), b.indicators.data()));
  }
  if (!bound) {
    // A driver that refuses the row array is read cell by cell.
    EndBlocks();
    return false;
  }
  blockRows_ = blockPos_ = 0;
  return true;
}

bool TStatement::ServerTextType(std::size_t index) {
  SQLWCHAR name[64] = {0};
  SQLSMALLINT len = 0;
  if (!SQL_SUCCEEDED(SQLColAttributeW(stmt_, static_cast<SQLUSMALLINT>(index + 1),
                                      SQL_DESC_TYPE_NAME, name, sizeof name, &len, nullptr)))
    return false;
  const std::string t = FromWide(name);
  return t == "varchar" || t == "text" || t == "bpchar";
}

void TStatement::EndBlocks() {
  SQLFreeStmt(stmt_, SQL_UNBIND);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
  SQLSetStmtAttr(stmt_, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
  blocks_.clear();
  rowStatus_.clear();
  blockRows_ = blockPos_ = 0;
  mode_ = TFetchMode::Undecided;
}

void TStatement::BlockValue(std::size_t index, const TDBColumn& column, TDBValue& value) {
  const TColumnBlock& b = blocks_[index];
  const SQLLEN ind = b.indicators[blockPos_];
  if (ind == SQL_NULL_DATA) {
    value = std::monostate{};
    return;
  }
  const unsigned char* cell = b.data.data() + blockPos_ * b.width;
  const auto width = static_cast<SQLLEN>(b.width);
  // A cell longer than its buffer (a size the driver under-reported) is read again whole
  // from its row.
  auto again = [&] {
    Check(SQLSetPos(stmt_, static_cast<SQLSETPOSIROW>(blockPos_ + 1), SQL_POSITION,
                    SQL_LOCK_NO_CHANGE),
          "Falha ao ler um campo.");
    value = ReadColumn(static_cast<SQLUSMALLINT>(index + 1), column);
  };
  switch (b.cType) {
    case SQL_C_SBIGINT: {
      SQLBIGINT v;
      std::memcpy(&v, cell, sizeof v);
      value = static_cast<std::int64_t>(v);
      return;
    }
    case SQL_C_BIT:
      value = cell[0] != 0;
      return;
    case SQL_C_DOUBLE: {
      double v;
      std::memcpy(&v, cell, sizeof v);
      value = v;
      return;
    }
    case SQL_C_TYPE_TIMESTAMP: {
      SQL_TIMESTAMP_STRUCT v;
      std::memcpy(&v, cell, sizeof v);
      value = FromStruct(v);
      return;
    }
    case SQL_C_TYPE_DATE: {
      SQL_DATE_STRUCT v;
      std::memcpy(&v, cell, sizeof v);
      TDBTimeStamp t;
      t.year = v.year, t.month = v.month, t.day = v.day;
      value = t;
      return;
    }
    case SQL_C_TYPE_TIME: {
      SQL_TIME_STRUCT v;
      std::memcpy(&v, cell, sizeof v);
      TDBTimeStamp t;
      t.hour = v.hour, t.minute = v.minute, t.second = v.second;
      value = t;
      return;
    }
    case SQL_C_BINARY: {
      if (ind == SQL_NO_TOTAL || ind > width) return again();
      // The previous row's buffer is reused.
      auto* s = std::get_if<std::string>(&value);
      if (s == nullptr) s = &value.emplace<std::string>();
      s->assign(reinterpret_cast<const char*>(cell), static_cast<std::size_t>(ind));
      if (b.utf8) TrimPadding(column, *s);
      return;
    }
    case SQL_C_WCHAR: {
      if (ind == SQL_NO_TOTAL || ind > width - static_cast<SQLLEN>(sizeof(SQLWCHAR)))
        return again();
      // The previous row's text buffer is reused.
      auto* s = std::get_if<std::string>(&value);
      if (s == nullptr) s = &value.emplace<std::string>();
      TextOfWide(reinterpret_cast<const SQLWCHAR*>(cell),
                 static_cast<std::size_t>(ind) / sizeof(SQLWCHAR), *s);
      TrimPadding(column, *s);
      return;
    }
    default: {  // SQL_C_CHAR (decimals)
      if (ind == SQL_NO_TOTAL || ind >= width) return again();
      value = std::string(reinterpret_cast<const char*>(cell), static_cast<std::size_t>(ind));
      return;
    }
  }
}

bool TStatement::Fetch(const std::vector<TDBColumn>& columns, std::vector<TDBValue>& row) {
  if (mode_ == TFetchMode::Undecided)
    mode_ = StartBlocks(columns) ? TFetchMode::Blocks : TFetchMode::Cells;
  if (mode_ == TFetchMode::Cells) {
    const SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA) {
      mode_ = TFetchMode::Undecided;
      return false;
    }
    Check(rc, "Falha ao ler uma linha.");
    row.resize(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
      row[i] = ReadColumn(static_cast<SQLUSMALLINT>(i + 1), columns[i]);
    }
    return true;
  }
  if (blockPos_ >= blockRows_) {
    blockRows_ = blockPos_ = 0;
    const SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA || (SQL_SUCCEEDED(rc) && blockRows_ == 0)) {
      EndBlocks();
      return false;
    }
    Check(rc, "Falha ao ler uma linha.");
  }
  if (rowStatus_[blockPos_] == SQL_ROW_ERROR) Raise("Falha ao ler uma linha.");
  row.resize(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) BlockValue(i, columns[i], row[i]);
  ++blockPos_;
  return true;
}

void TStatement::StoreOutputs() {
  for (const TBinding& b : bindings_) {
    if (b.output == nullptr) continue;
    if (b.indicator == SQL_NULL_DATA) {
      b.output->StoreOutput({});
      continue;
    }
    switch (b.cType) {
      case SQL_C_WCHAR: {
        const std::size_t units = std::min<std::size_t>(
            static_cast<std::size_t>(std::max<SQLLEN>(b.indicator, 0)) / sizeof(SQLWCHAR),
            b.buffer.size() / sizeof(SQLWCHAR) - 1);
        WString w(units, 0);
        std::memcpy(w.data(), b.buffer.data(), units * sizeof(SQLWCHAR));
        b.output->StoreOutput(FromWide(w.data(), static_cast<SQLLEN>(w.size())));
        break;
      }
      case SQL_C_CHAR:
        b.output->StoreOutput(std::string(reinterpret_cast<const char*>(b.buffer.data())));
        break;
      case SQL_C_SSHORT:
        b.output->StoreOutput(static_cast<std::int64_t>(Get<SQLSMALLINT>(b.buffer)));
        break;
      case SQL_C_SLONG:
        b.output->StoreOutput(static_cast<std::int64_t>(Get<SQLINTEGER>(b.buffer)));
        break;
      case SQL_C_SBIGINT:
        b.output->StoreOutput(static_cast<std::int64_t>(Get<SQLBIGINT>(b.buffer)));
        break;
      case SQL_C_DOUBLE:
        b.output->StoreOutput(Get<double>(b.buffer));
        break;
      case SQL_C_BIT:
        b.output->StoreOutput(Get<unsigned char>(b.buffer) != 0);
        break;
      case SQL_C_TYPE_TIMESTAMP:
        b.output->StoreOutput(FromStruct(Get<SQL_TIMESTAMP_STRUCT>(b.buffer)));
        break;
      default:
        break;
    }
  }
}

void TStatement::ProcedureParams(const std::string& name, TDBParams& params, bool& found) {
  // Split catalog.schema.name; the catalog functions take name parts as search patterns.
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = name.find('.', start);
    parts.push_back(name.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  SQLWCHAR esc[8] = {0};
  SQLSMALLINT escLen = 0;
  SQLGetInfoW(connection_.Handle(), SQL_SEARCH_PATTERN_ESCAPE, esc, sizeof esc, &escLen);
  const std::string escape = FromWide(esc);
  auto pattern = [&](const std::string& s) {
    std::string out;
    for (char c : s) {
      if (!escape.empty() && (c == '_' || c == '%')) out += escape;
      out += c;
    }
    return out;
  };
  const std::string proc = pattern(parts.back());
  const std::string schema = parts.size() >= 2 ? pattern(parts[parts.size() - 2]) : std::string();
  const std::string catalog = parts.size() >= 3 ? parts[parts.size() - 3] : std::string();
  WString wproc = ToWide(proc), wschema = ToWide(schema), wcat = ToWide(catalog);
  SQLWCHAR* pcat = catalog.empty() ? nullptr : wcat.data();
  SQLWCHAR* pschema = schema.empty() ? nullptr : wschema.data();
  const SQLSMALLINT lcat = catalog.empty() ? 0 : static_cast<SQLSMALLINT>(wcat.size());
  const SQLSMALLINT lschema = schema.empty() ? 0 : static_cast<SQLSMALLINT>(wschema.size());

  found = false;
  params.Clear();
  const std::string query = connection_.Profile().Text(TDBEngineText::ProcedureParams);
  if (!query.empty()) {
    // The engine's own catalog query: names as they are, not as search patterns.
    const TDBValue name = parts.back();
    const TDBValue owner = parts.size() >= 2 ? parts[parts.size() - 2] : std::string();
    std::vector<TBindSpec> specs(3);
    specs[0].value = &name;
    specs[1].value = specs[2].value = &owner;
    for (auto& spec : specs) spec.type = TDBFieldType::ftString;
    Bind(specs);
    Execute(query);
  } else {
    Check(SQLProceduresW(stmt_, pcat, lcat, pschema, lschema, wproc.data(),
                         static_cast<SQLSMALLINT>(wproc.size())),
          "Falha ao consultar o procedimento.");
    while (SQL_SUCCEEDED(SQLFetch(stmt_))) found = true;
    SQLCloseCursor(stmt_);
    if (!found) return;
    Check(SQLProcedureColumnsW(stmt_, pcat, lcat, pschema, lschema, wproc.data(),
                               static_cast<SQLSMALLINT>(wproc.size()), nullptr, 0),
          "Falha ao consultar os parâmetros do procedimento.");
  }
  std::string firstOwner;
  bool haveOwner = false;
  for (;;) {
    const SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA) break;
    Check(rc, "Falha ao consultar os parâmetros do procedimento.");
    found = true;
    auto text = [&](SQLUSMALLINT col) {
      SQLWCHAR buf[512];
      SQLLEN ind = 0;
      if (!SQL_SUCCEEDED(SQLGetData(stmt_, col, SQL_C_WCHAR, buf, sizeof buf, &ind)) ||
          ind == SQL_NULL_DATA) {
        return std::string();
      }
      return FromWide(buf);
    };
    auto number = [&](SQLUSMALLINT col) {
      SQLINTEGER v = 0;
      SQLLEN ind = 0;
      if (!SQL_SUCCEEDED(SQLGetData(stmt_, col, SQL_C_SLONG, &v, 0, &ind)) ||
          ind == SQL_NULL_DATA) {
        return 0;
      }
      return static_cast<int>(v);
    };
    // Only the procedure of the first catalog and schema listed, should the name exist twice.
    const std::string owner = text(1) + "." + text(2);
    if (!haveOwner) {
      firstOwner = owner;
      haveOwner = true;
    } else if (owner != firstOwner) {
      continue;
    }
    const std::string column = text(4);
    const int kind = number(5);
    const int dataType = number(6);
    const int size = number(8);
    const int digits = number(10);
    TDBParamType io;
    if (kind == SQL_PARAM_INPUT) {
      io = TDBParamType::ptInput;
    } else if (kind == SQL_PARAM_INPUT_OUTPUT) {
      io = TDBParamType::ptInputOutput;
    } else if (kind == SQL_PARAM_OUTPUT) {
      io = TDBParamType::ptOutput;
    } else {
      continue;  // return value and result columns are no markers of the call
    }
    TDBParam& p = params.Add(column, io);
    p.Declare(static_cast<SQLSMALLINT>(dataType), static_cast<SQLULEN>(std::max(size, 0)),
              static_cast<SQLSMALLINT>(digits));
  }
  SQLCloseCursor(stmt_);
}

}  // namespace tamrix::db::odbc

namespace tamrix::db {

TDBFieldType FieldTypeOfSqlType(SQLSMALLINT t) {
  switch (t) {
    case SQL_UNKNOWN_TYPE:
      return TDBFieldType::ftUnknown;
    case SQL_TINYINT:
    case SQL_SMALLINT:
      return TDBFieldType::ftSmallint;
    case SQL_INTEGER:
      return TDBFieldType::ftInteger;
    case SQL_BIGINT:
      return TDBFieldType::ftLargeint;
    case SQL_BIT:
      return TDBFieldType::ftBoolean;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return TDBFieldType::ftFloat;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return TDBFieldType::ftBCD;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      return TDBFieldType::ftDate;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      return TDBFieldType::ftTime;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      return TDBFieldType::ftDateTime;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return TDBFieldType::ftBytes;
    default:
      return TDBFieldType::ftString;
  }
}

}  // namespace tamrix::db

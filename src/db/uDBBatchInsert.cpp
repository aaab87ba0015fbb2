#include "db/uDBBatchInsert.h"

#include <algorithm>
#include <cstdio>

#include "db/uDBConnection.h"
#include "db/uDBStatement.h"
#include "diagnostics/uExcecoes.h"

namespace tamrix::db {

TDBBatchLimits BatchLimitsFor(TDBEngine engine) {
  switch (engine) {
    case TDBEngine::SQLServer:
      return {2000, 1000};
    case TDBEngine::PostgreSQL:
      // psqlODBC breaks the type cast it writes after markers numbered 1000 and up
      // ("type \"timestam\" does not exist" for a timestamp column), so stay below them.
      return {999, 1000};
  }
  return {1, 1};
}

std::size_t BatchRows(const TDBBatchLimits& limits, std::size_t columns, std::size_t requested) {
  std::size_t rows = columns == 0 ? 1 : std::min(limits.maxRows, limits.maxParams / columns);
  if (requested > 0) rows = std::min(rows, requested);
  return std::max<std::size_t>(rows, 1);
}

std::string BatchInsertSql(const std::string& table, const std::vector<std::string>& columns,
                           std::size_t rows) {
  if (columns.empty()) return "INSERT INTO " + table + " DEFAULT VALUES";
  std::string sql = "INSERT INTO " + table + " (";
  std::string marks = "(";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) {
      sql += ", ";
      marks += ", ";
    }
    sql += columns[i];
    marks += "?";
  }
  marks += ")";
  sql += ") VALUES ";
  sql.reserve(sql.size() + rows * (marks.size() + 2));
  for (std::size_t r = 0; r < rows; ++r) {
    if (r > 0) sql += ", ";
    sql += marks;
  }
  return sql;
}

}  // namespace tamrix::db

namespace tamrix::db {

TDBArrayInsert::TDBArrayInsert(TDBConnection& connection, std::string table,
                               std::vector<TFixedColumn> fixed, std::string numberColumn,
                               std::string textColumn, std::size_t maxRows, std::size_t maxBytes)
    : connection_(connection),
      fixed_(std::move(fixed)),
      maxRows_(std::max<std::size_t>(maxRows, 1)),
      maxBytes_(maxBytes) {
  std::string columns, values;
  for (const TFixedColumn& f : fixed_) {
    columns += f.column.name + ", ";
    values += "?, ";
  }
  // The ordinality keeps the rows in the order of the arrays whatever plan runs the SELECT.
  sql_ = "INSERT INTO " + table + " (" + columns + numberColumn + ", " + textColumn + ") SELECT " +
         values +
         "a.n, a.t FROM unnest(?::bigint[], ?::text[]) WITH ORDINALITY AS a(n, t, o) ORDER BY "
         "a.o";
}

void TDBArrayInsert::Add(std::int64_t number, std::initializer_list<std::string_view> text) {
  // An element of an array literal: quoted, with backslash before quote and backslash.
  if (!ends_.empty()) texts_ += ',';
  texts_ += '"';
  for (std::string_view piece : text) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < piece.size(); ++i) {
      if (piece[i] != '"' && piece[i] != '\\') continue;
      texts_.append(piece, from, i - from);
      texts_ += '\\';
      from = i;
    }
    texts_.append(piece, from, std::string_view::npos);
  }
  texts_ += '"';
  ends_.push_back(texts_.size());
  numbers_.push_back(number);
  if (ends_.size() >= maxRows_ || texts_.size() >= maxBytes_) Flush();
}

void TDBArrayInsert::Flush() {
  struct TClear {  // the block is dropped whatever happens to it
    TDBArrayInsert& o;
    ~TClear() {
      o.texts_.clear();
      o.ends_.clear();
      o.numbers_.clear();
    }
  } clear{*this};
  failedNumber_ = -1;
  if (ends_.empty()) return;
  std::exception_ptr blockError;
  try {
    Send(0, ends_.size());
    rowsSent_ += ends_.size();
    return;
  } catch (const diagnostics::EDatabaseError&) {
    failedNumber_ = numbers_[0];
    // A connection the server dropped has no row to single out: its own error stands.
    if (ends_.size() == 1 || !connection_.Connected()) throw;
    blockError = std::current_exception();
  }
  // Row by row, so the error raised is the refused row's own.
  for (std::size_t i = 0; i < ends_.size(); ++i) {
    try {
      Send(i, i + 1);
    } catch (const diagnostics::EDatabaseError&) {
      failedNumber_ = numbers_[i];
      throw;
    }
  }
  // Every row passed alone although the block was refused (a statement-level trigger, say):
  // the block's error still stands.
  std::rethrow_exception(blockError);
}

void TDBArrayInsert::Send(std::size_t first, std::size_t last) {
  const std::size_t from = first == 0 ? 0 : ends_[first - 1] + 1;  // past the comma
  std::string numbers = "{", texts;
  texts.reserve(ends_[last - 1] - from + 2);
  texts += '{';
  texts.append(texts_, from, ends_[last - 1] - from);
  texts += '}';
  char digits[24];
  for (std::size_t i = first; i < last; ++i) {
    if (i > first) numbers += ',';
    const int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(numbers_[i]));
    numbers.append(digits, static_cast<std::size_t>(n));
  }
  numbers += '}';
  const TDBValue numberArray = std::move(numbers), textArray = std::move(texts);

  std::vector<odbc::TBindSpec> specs;
  specs.reserve(fixed_.size() + 2);
  for (const TFixedColumn& f : fixed_) {
    odbc::TBindSpec s;
    s.value = &f.value;
    s.type = f.column.fieldType;
    s.declaredSqlType = f.column.sqlType;
    s.declaredSize = f.column.size;
    s.declaredScale = static_cast<SQLSMALLINT>(f.column.scale);
    specs.push_back(s);
  }
  for (const TDBValue* array : {&numberArray, &textArray}) {
    odbc::TBindSpec s;
    s.value = array;
    s.type = TDBFieldType::ftString;
    specs.push_back(s);
  }
  auto lock = connection_.Lock();
  if (!connection_.Connected())
    throw diagnostics::EDatabaseError(
        "Não há conexão com o banco de dados para inserir as linhas.");
  odbc::TStatement st(connection_);
  st.Bind(specs);
  st.Execute(sql_);
  st.Drain();
}

}  // namespace tamrix::db

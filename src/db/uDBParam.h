// Parameters of a query or stored procedure, bound by name with an explicit type.
//
// Names compare without a leading "@" or ":" and without regard to case, so "@cd_empresa",
// ":cd_empresa" and "CD_EMPRESA" are one parameter; the same code runs on SQL Server
// procedures ("@" names) and PostgreSQL functions (bare names).
#ifndef TAMRIX_DB_UDBPARAM_H
#define TAMRIX_DB_UDBPARAM_H

#include <sql.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/uDBTypes.h"

namespace tamrix::db {

enum class TDBParamType { ptInput, ptInputOutput, ptOutput };

class TDBParam {
 public:
  explicit TDBParam(std::string name, TDBParamType type = TDBParamType::ptInput)
      : name_(std::move(name)), paramType_(type) {}

  // The name as the statement or the database writes it ("pdt_evento", "@cd_empresa").
  const std::string& Name() const { return name_; }
  TDBParamType ParamType() const { return paramType_; }
  // Type of the bound value; for a procedure before binding, the declared type.
  TDBFieldType DataType() const { return dataType_; }

  // Binding. Each setter fixes the type the value is sent as.
  void SetAsString(std::string value);
  // Only the low 16 bits are sent, as a signed 16-bit integer (70000 goes as 4464).
  void SetAsSmallInt(std::int64_t value);
  void SetAsInteger(std::int32_t value);
  void SetAsLargeInt(std::int64_t value);
  // A float; sent to a date-time procedure parameter as the date-time it counts (days
  // since 30 December 1899).
  void SetAsFloat(double value);
  void SetAsDateTime(const TDBTimeStamp& value);
  void SetAsBoolean(bool value);
  // Binds null, sent as the given type (a procedure parameter uses its declared type).
  void Clear(TDBFieldType type = TDBFieldType::ftString);
  // Back to unbound: a query refuses to run with it, a procedure sends null.
  void Unbind();

  bool Bound() const { return bound_; }
  bool IsNull() const { return IsNullValue(value_); }
  // The bound value; after a procedure ran (ExecProc), an output parameter's result.
  const TDBValue& Value() const { return value_; }
  std::string AsString() const { return ValueToText(value_, dataType_); }

  // What the database declared for a procedure parameter (SQL_UNKNOWN_TYPE and 0 otherwise).
  SQLSMALLINT DeclaredSqlType() const { return declaredSqlType_; }
  SQLULEN DeclaredSize() const { return declaredSize_; }
  SQLSMALLINT DeclaredScale() const { return declaredScale_; }
  // For the db layer: the declaration read from the database.
  void Declare(SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT scale);
  // For the db layer: stores an output value read back from the driver.
  void StoreOutput(TDBValue value) { value_ = std::move(value); }

 private:
  void Bind(TDBValue value, TDBFieldType type);

  std::string name_;
  TDBParamType paramType_;
  TDBFieldType dataType_ = TDBFieldType::ftUnknown;
  TDBValue value_;
  bool bound_ = false;
  SQLSMALLINT declaredSqlType_ = SQL_UNKNOWN_TYPE;
  SQLULEN declaredSize_ = 0;
  SQLSMALLINT declaredScale_ = 0;
};

// The parameter list of one statement, in order.
class TDBParams {
 public:
  // Name comparison for parameters: without leading "@"/":" and without regard to case.
  static bool SameParamName(std::string_view a, std::string_view b);

  int Count() const { return static_cast<int>(items_.size()); }
  TDBParam& operator[](int i) { return items_.at(static_cast<std::size_t>(i)); }
  const TDBParam& operator[](int i) const { return items_.at(static_cast<std::size_t>(i)); }
  // The parameter of that name, or nullptr.
  TDBParam* FindParam(std::string_view name);
  const TDBParam* FindParam(std::string_view name) const;
  // The parameter of that name; raises EDatabaseError "Parâmetro ... não encontrado." when
  // the statement or procedure has none.
  TDBParam& ParamByName(std::string_view name);
  bool Exists(std::string_view name) const { return FindParam(name) != nullptr; }
  // Index of the named parameter, -1 when absent.
  int IndexOf(std::string_view name) const;

  TDBParam& Add(std::string name, TDBParamType type = TDBParamType::ptInput);
  void Clear() { items_.clear(); }

 private:
  std::vector<TDBParam> items_;
};

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBPARAM_H

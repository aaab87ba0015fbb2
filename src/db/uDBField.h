// A column of a data set's result (its description from the driver) and the field object
// that reads and, in insert state, writes that column of the current row.
#ifndef TAMRIX_DB_UDBFIELD_H
#define TAMRIX_DB_UDBFIELD_H

#include <sql.h>

#include <cstdint>
#include <string>

#include "db/uDBTypes.h"

namespace tamrix::db {

class TDBDataSet;

// One result column as the driver describes it.
struct TDBColumn {
  std::string name;
  SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;  // ODBC SQL type (SQL_VARCHAR, SQL_INTEGER...)
  TDBFieldType fieldType = TDBFieldType::ftUnknown;
  SQLULEN size = 0;   // column size: characters for text, digits for numbers
  int precision = 0;  // SQL_DESC_PRECISION
  int scale = 0;      // SQL_DESC_SCALE (decimal digits)
  SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;  // SQL_NO_NULLS, SQL_NULLABLE or unknown
};

// The field type the db layer uses for an ODBC SQL type.
TDBFieldType FieldTypeOfSqlType(SQLSMALLINT sqlType);

// A field reads the data set's current row; it lives while the data set is open.
class TDBField {
 public:
  // Only data sets make fields.
  class TKey {
    friend class TDBDataSet;
    TKey() = default;
  };
  TDBField(TKey, TDBDataSet& owner, int index) : owner_(&owner), index_(index) {}
  TDBField(const TDBField&) = delete;
  TDBField& operator=(const TDBField&) = delete;

  const std::string& FieldName() const;
  int Index() const { return index_; }  // 0-based position in the result
  TDBFieldType DataType() const;
  const TDBColumn& Column() const;

  // The current row's value. Reading a field of an empty data set gives null.
  const TDBValue& Value() const;
  bool IsNull() const { return IsNullValue(Value()); }
  // Text form (null gives ""; see ValueToText).
  std::string AsString() const;
  // Conversions; null gives 0, false or 30/12/1899. A value that cannot be converted raises
  // EDatabaseError.
  std::int32_t AsInteger() const;
  std::int64_t AsLargeInt() const;
  double AsFloat() const;
  TDBTimeStamp AsDateTime() const;
  bool AsBoolean() const;

  // Setters, only while the data set is in insert state (Append); the value is converted to
  // the field's type. SetAsSmallInt keeps only the low 16 bits, as a signed 16-bit integer.
  void SetAsString(std::string value);
  void SetAsInteger(std::int32_t value);
  void SetAsSmallInt(std::int64_t value);
  void SetAsLargeInt(std::int64_t value);
  void SetAsFloat(double value);
  void SetAsDateTime(const TDBTimeStamp& value);
  void SetAsBoolean(bool value);
  // Sets null (an assigned null: the column is written as null).
  void Clear();

 private:
  void Set(TDBValue value);

  TDBDataSet* owner_;
  int index_;
};

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBFIELD_H

// Values that travel between the server and the database: field types, date-times and the
// value variant held by fields and parameters.
#ifndef TAMRIX_DB_UDBTYPES_H
#define TAMRIX_DB_UDBTYPES_H

#include <cstdint>
#include <string>
#include <variant>

namespace tamrix::db {

// Kind of a field or parameter value. Decimals (ftBCD) are kept as their exact decimal text.
enum class TDBFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftLargeint,
  ftBoolean,
  ftFloat,
  ftBCD,
  ftDateTime,
  ftDate,
  ftTime,
  ftBytes,
};

// A calendar date and time of day without time zone (the database's own columns carry none).
struct TDBTimeStamp {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  std::uint32_t nanos = 0;  // fraction of the second

  // The local time of this machine, to the millisecond.
  static TDBTimeStamp Now();
  // From a date-time counted in days since 30 December 1899, the fraction being the time of
  // day (the form clients send); negative values count back as that form does.
  static TDBTimeStamp FromDateTime(double days);
  // Back to days since 30 December 1899.
  double ToDateTime() const;
  // True when the fields form a real date and time (month 1-12, day within the month...).
  bool IsValid() const;
  // "dd/MM/yyyy hh:nn:ss", or "dd/MM/yyyy" alone at midnight (the server's regional form).
  std::string ToString() const;

  friend bool operator==(const TDBTimeStamp&, const TDBTimeStamp&) = default;
};

// The value of a field or parameter: null (monostate), text (also decimals and bytes),
// integer, float, Boolean or date-time.
using TDBValue =
    std::variant<std::monostate, std::string, std::int64_t, double, bool, TDBTimeStamp>;

inline bool IsNullValue(const TDBValue& v) {
  return std::holds_alternative<std::monostate>(v);
}

// Text form of a value as fields show it: null gives the empty text, integers decimal,
// floats with up to 15 significant digits and "." as separator, date-times per ToString,
// Booleans "True"/"False", text and decimals unchanged.
std::string ValueToText(const TDBValue& v, TDBFieldType type);

// Name of a field type for messages ("ftString", ...).
const char* FieldTypeName(TDBFieldType type);

// The value in the form a field of type `to` holds it: integers as int64, ftFloat as double,
// ftBCD, ftString and ftBytes as text, date and time types as TDBTimeStamp, ftBoolean as
// bool. Text is read as an integer, a number ("." or "," as separator), a date-time
// ("yyyy-mm-dd hh:nn:ss[.zzz]", "dd/mm/yyyy hh:nn:ss", either without its time) or a Boolean
// ("True"/"False", "1"/"0", "S"/"N"). Null stays null. Raises EDatabaseError naming `what`
// when the value cannot be converted.
TDBValue ConvertValue(const TDBValue& v, TDBFieldType to, const std::string& what);

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBTYPES_H

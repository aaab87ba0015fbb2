#include "db/uDBTypes.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "diagnostics/uExcecoes.h"
#include "util/uAparar.h"

namespace tamrix::db {

namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

const long long kDiaZeroDataHora = DaysFromCivil(1899, 12, 30);

}  // namespace

TDBTimeStamp TDBTimeStamp::Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  TDBTimeStamp ts;
  ts.year = tm.tm_year + 1900;
  ts.month = tm.tm_mon + 1;
  ts.day = tm.tm_mday;
  ts.hour = tm.tm_hour;
  ts.minute = tm.tm_min;
  ts.second = tm.tm_sec;
  ts.nanos = static_cast<std::uint32_t>(ms) * 1000000u;
  return ts;
}

TDBTimeStamp TDBTimeStamp::FromDateTime(double days) {
  double whole = std::trunc(days);
  long long ms = std::llround(std::fabs(days - whole) * 86400000.0);
  if (ms >= 86400000LL) {  // rounding reached the next day
    ms -= 86400000LL;
    whole += days < 0 ? -1 : 1;
  }
  TDBTimeStamp ts;
  CivilFromDays(kDiaZeroDataHora + static_cast<long long>(whole), ts.year, ts.month, ts.day);
  ts.hour = static_cast<int>(ms / 3600000);
  ts.minute = static_cast<int>(ms / 60000 % 60);
  ts.second = static_cast<int>(ms / 1000 % 60);
  ts.nanos = static_cast<std::uint32_t>(ms % 1000) * 1000000u;
  return ts;
}

double TDBTimeStamp::ToDateTime() const {
  const double date = static_cast<double>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kDiaZeroDataHora);
  const double time = (hour * 3600.0 + minute * 60.0 + second + nanos / 1e9) / 86400.0;
  return date >= 0 ? date + time : date - time;
}

bool TDBTimeStamp::IsValid() const {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= last && hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 &&
         second < 60 && nanos < 1000000000u;
}

std::string TDBTimeStamp::ToString() const {
  char buf[40];
  if (hour == 0 && minute == 0 && second == 0 && nanos == 0) {
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", day, month, year);
  } else {
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", day, month, year, hour, minute,
                  second);
  }
  return buf;
}

std::string ValueToText(const TDBValue& v, TDBFieldType type) {
  struct Visitor {
    TDBFieldType type;
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(std::int64_t i) const { return std::to_string(i); }
    std::string operator()(double d) const {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.15g", d);
      return buf;
    }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(const TDBTimeStamp& ts) const {
      char buf[40];
      if (type == TDBFieldType::ftDate) {
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", ts.day, ts.month, ts.year);
        return buf;
      }
      if (type == TDBFieldType::ftTime) {
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", ts.hour, ts.minute, ts.second);
        return buf;
      }
      return ts.ToString();
    }
  };
  return std::visit(Visitor{type}, v);
}

const char* FieldTypeName(TDBFieldType type) {
  switch (type) {
    case TDBFieldType::ftUnknown:
      return "ftUnknown";
    case TDBFieldType::ftString:
      return "ftString";
    case TDBFieldType::ftSmallint:
      return "ftSmallint";
    case TDBFieldType::ftInteger:
      return "ftInteger";
    case TDBFieldType::ftLargeint:
      return "ftLargeint";
    case TDBFieldType::ftBoolean:
      return "ftBoolean";
    case TDBFieldType::ftFloat:
      return "ftFloat";
    case TDBFieldType::ftBCD:
      return "ftBCD";
    case TDBFieldType::ftDateTime:
      return "ftDateTime";
    case TDBFieldType::ftDate:
      return "ftDate";
    case TDBFieldType::ftTime:
      return "ftTime";
    case TDBFieldType::ftBytes:
      return "ftBytes";
  }
  return "ftUnknown";
}

}  // namespace tamrix::db

namespace tamrix::db {

namespace {

bool ParseInt(const std::string& text, std::int64_t& out) {
  const std::string s = util::Aparar(text);
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || end != s.c_str() + s.size()) return false;
  out = v;
  return true;
}

bool ParseFloat(const std::string& text, double& out) {
  std::string s = util::Aparar(text);
  if (s.empty()) return false;
  if (s.find('.') == std::string::npos) {
    for (char& c : s) {
      if (c == ',') c = '.';
    }
  }
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return false;
  out = v;
  return true;
}

bool ParseTimeStamp(const std::string& text, TDBTimeStamp& ts) {
  const std::string s = util::Aparar(text);
  int a = 0, b = 0, c = 0, h = 0, mi = 0, se = 0, consumed = 0;
  unsigned ms = 0;
  ts = TDBTimeStamp{};
  const char* p = s.c_str();
  if (std::sscanf(p, "%4d-%2d-%2d%n", &a, &b, &c, &consumed) == 3) {
    ts.year = a, ts.month = b, ts.day = c;
  } else if (std::sscanf(p, "%2d/%2d/%4d%n", &c, &b, &a, &consumed) == 3) {
    ts.year = a, ts.month = b, ts.day = c;
  } else if (std::sscanf(p, "%2d:%2d:%2d%n", &h, &mi, &se, &consumed) == 3 &&
             static_cast<std::size_t>(consumed) == s.size()) {
    ts.hour = h, ts.minute = mi, ts.second = se;
    return ts.IsValid();
  } else {
    return false;
  }
  p += consumed;
  if (*p == 'T' || *p == ' ') {
    ++p;
    int n = 0;
    const int got = std::sscanf(p, "%2d:%2d%n:%2d%n", &h, &mi, &n, &se, &n);
    if (got < 2) return false;
    p += n;
    ts.hour = h, ts.minute = mi, ts.second = got == 3 ? se : 0;
    if (*p == '.') {
      ++p;
      unsigned scale = 100000000u;
      while (*p >= '0' && *p <= '9') {
        ms += static_cast<unsigned>(*p - '0') * scale;
        scale /= 10;
        ++p;
      }
      ts.nanos = ms;
    }
  }
  return *p == '\0' && ts.IsValid();
}

[[noreturn]] void Fail(const TDBValue& v, TDBFieldType to, const std::string& what) {
  throw diagnostics::EDatabaseError("O valor '" + ValueToText(v, TDBFieldType::ftString) +
                                    "' não pode ser convertido para " + FieldTypeName(to) +
                                    " em '" + what + "'.");
}

}  // namespace

TDBValue ConvertValue(const TDBValue& v, TDBFieldType to, const std::string& what) {
  if (IsNullValue(v)) return v;
  switch (to) {
    case TDBFieldType::ftSmallint:
    case TDBFieldType::ftInteger:
    case TDBFieldType::ftLargeint: {
      if (auto* i = std::get_if<std::int64_t>(&v)) return *i;
      if (auto* d = std::get_if<double>(&v)) return static_cast<std::int64_t>(std::llround(*d));
      if (auto* b = std::get_if<bool>(&v)) return static_cast<std::int64_t>(*b ? 1 : 0);
      if (auto* s = std::get_if<std::string>(&v)) {
        std::int64_t i = 0;
        double d = 0;
        if (ParseInt(*s, i)) return i;
        if (ParseFloat(*s, d)) return static_cast<std::int64_t>(std::llround(d));
      }
      Fail(v, to, what);
    }
    case TDBFieldType::ftFloat: {
      if (auto* d = std::get_if<double>(&v)) return *d;
      if (auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
      if (auto* b = std::get_if<bool>(&v)) return *b ? 1.0 : 0.0;
      if (auto* t = std::get_if<TDBTimeStamp>(&v)) return t->ToDateTime();
      if (auto* s = std::get_if<std::string>(&v)) {
        double d = 0;
        if (ParseFloat(*s, d)) return d;
      }
      Fail(v, to, what);
    }
    case TDBFieldType::ftBCD: {
      if (auto* s = std::get_if<std::string>(&v)) {
        double d = 0;
        if (!ParseFloat(*s, d)) Fail(v, to, what);
        std::string t = util::Aparar(*s);
        for (char& c : t) {
          if (c == ',') c = '.';
        }
        return t;
      }
      if (std::holds_alternative<TDBTimeStamp>(v)) Fail(v, to, what);
      return ValueToText(v, to);
    }
    case TDBFieldType::ftDateTime:
    case TDBFieldType::ftDate:
    case TDBFieldType::ftTime: {
      if (auto* t = std::get_if<TDBTimeStamp>(&v)) return *t;
      if (auto* d = std::get_if<double>(&v)) return TDBTimeStamp::FromDateTime(*d);
      if (auto* i = std::get_if<std::int64_t>(&v)) {
        return TDBTimeStamp::FromDateTime(static_cast<double>(*i));
      }
      if (auto* s = std::get_if<std::string>(&v)) {
        TDBTimeStamp ts;
        if (ParseTimeStamp(*s, ts)) return ts;
      }
      Fail(v, to, what);
    }
    case TDBFieldType::ftBoolean: {
      if (auto* b = std::get_if<bool>(&v)) return *b;
      if (auto* i = std::get_if<std::int64_t>(&v)) return *i != 0;
      if (auto* d = std::get_if<double>(&v)) return *d != 0;
      if (auto* s = std::get_if<std::string>(&v)) {
        const std::string t = util::Aparar(*s);
        if (t == "True" || t == "true" || t == "TRUE" || t == "1" || t == "S" || t == "s") {
          return true;
        }
        if (t == "False" || t == "false" || t == "FALSE" || t == "0" || t == "N" || t == "n") {
          return false;
        }
      }
      Fail(v, to, what);
    }
    case TDBFieldType::ftString:
    case TDBFieldType::ftBytes:
    case TDBFieldType::ftUnknown:
      if (std::holds_alternative<std::string>(v)) return v;
      return ValueToText(v, to);
  }
  return v;
}

}  // namespace tamrix::db

#include "db/uDBSqlParser.h"

#include <algorithm>

#include "db/uDBConnectionParams.h"

namespace tamrix::db {

namespace {

bool IsNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9');
}

}  // namespace

TDBParsedSql ParseNamedParams(std::string_view sql) {
  TDBParsedSql out;
  out.odbcSql.reserve(sql.size());
  std::size_t i = 0;
  const std::size_t n = sql.size();
  // Copies up to and including the closing character (or to the end of the text).
  auto copyUntil = [&](char close, bool doubledEscapes) {
    out.odbcSql += sql[i++];
    while (i < n) {
      const char c = sql[i++];
      out.odbcSql += c;
      if (c == close) {
        if (doubledEscapes && i < n && sql[i] == close) {
          out.odbcSql += sql[i++];
          continue;
        }
        return;
      }
    }
  };
  while (i < n) {
    const char c = sql[i];
    if (c == '\'') {
      copyUntil('\'', true);
    } else if (c == '"') {
      copyUntil('"', true);
    } else if (c == '[') {
      copyUntil(']', false);
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      while (i < n && sql[i] != '\n' && sql[i] != '\r') out.odbcSql += sql[i++];
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      const std::size_t end = sql.find("*/", i + 2);
      const std::size_t stop = end == std::string_view::npos ? n : end + 2;
      out.odbcSql.append(sql.substr(i, stop - i));
      i = stop;
    } else if (c == ':' && i + 1 < n && sql[i + 1] == ':') {
      out.odbcSql += "::";
      i += 2;
    } else if (c == ':' && i + 1 < n && IsNameStart(sql[i + 1])) {
      std::size_t j = i + 1;
      while (j < n && IsNameChar(sql[j])) ++j;
      std::string name(sql.substr(i + 1, j - i - 1));
      const bool known = std::any_of(out.names.begin(), out.names.end(),
                                     [&](const std::string& s) { return SameName(s, name); });
      if (!known) out.names.push_back(name);
      out.markers.push_back(std::move(name));
      out.odbcSql += '?';
      i = j;
    } else {
      out.odbcSql += c;
      ++i;
    }
  }
  return out;
}

}  // namespace tamrix::db

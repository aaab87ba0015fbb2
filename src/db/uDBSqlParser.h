// Named parameters in SQL text: ":name" becomes the ODBC marker "?".
#ifndef TAMRIX_DB_UDBSQLPARSER_H
#define TAMRIX_DB_UDBSQLPARSER_H

#include <string>
#include <string_view>
#include <vector>

namespace tamrix::db {

struct TDBParsedSql {
  std::string odbcSql;               // the text with every parameter replaced by "?"
  std::vector<std::string> markers;  // parameter name of each "?", in order (may repeat)
  std::vector<std::string> names;    // distinct names, in order of first appearance
};

// Finds ":name" parameters (a letter or "_" after the colon, then letters, digits, "_").
// Not parameters: colons inside '...' literals, "..." or [...] identifiers, "--" and /* */
// comments, and "::" casts. Names compare without regard to case, so ":Id" and ":id" are one.
TDBParsedSql ParseNamedParams(std::string_view sql);

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBSQLPARSER_H

#include "db/uDBQuery.h"

#include "db/uDBConnection.h"
#include "db/uDBStatement.h"

namespace tamrix::db {

using diagnostics::EDatabaseError;

void TDBQuery::SetSQL(std::string sql) {
  Close();
  sql_ = std::move(sql);
  parsed_ = ParseNamedParams(sql_);
  params_.Clear();
  for (const std::string& n : parsed_.names) params_.Add(n);
}

void TDBQuery::Execute(odbc::TStatement& stmt) {
  std::vector<odbc::TBindSpec> specs;
  specs.reserve(parsed_.markers.size());
  for (const std::string& name : parsed_.markers) {
    TDBParam& p = params_.ParamByName(name);
    if (!p.Bound()) {
      throw EDatabaseError("Parâmetro '" + p.Name() + "' de " + Describe() + " sem valor.");
    }
    odbc::TBindSpec s;
    s.value = &p.Value();
    s.type = p.DataType();
    specs.push_back(s);
  }
  stmt.Bind(specs);
  stmt.Execute(parsed_.odbcSql);
}

void TDBQuery::ExecSQL() {
  TDBConnection& c = RequireConnection("executar");
  auto lock = c.Lock();
  RequireConnection("executar");
  odbc::TStatement st(c, Timeout());
  Execute(st);
  rowsAffected_ = st.RowCount();
  st.Drain();
}

std::string TDBQuery::UpdateTableName() const {
  if (!updateTable_.empty()) return updateTable_;
  // The first FROM outside literals and comments names the table.
  const std::string& s = parsed_.odbcSql;
  auto isWord = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  };
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '\'' || c == '"') {
      const std::size_t end = s.find(c, i + 1);
      i = end == std::string::npos ? s.size() : end + 1;
    } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      const std::size_t end = s.find_first_of("\r\n", i);
      i = end == std::string::npos ? s.size() : end;
    } else if ((i == 0 || !isWord(s[i - 1])) && i + 4 <= s.size() &&
               SameName(std::string_view(s).substr(i, 4), "FROM") &&
               (i + 4 == s.size() || !isWord(s[i + 4]))) {
      std::size_t j = i + 4;
      while (j < s.size() && static_cast<unsigned char>(s[j]) <= ' ') ++j;
      std::size_t k = j;
      while (k < s.size() && (isWord(s[k]) || s[k] == '.' || s[k] == '[' || s[k] == ']' ||
                              s[k] == '"' || s[k] == '#')) {
        ++k;
      }
      return s.substr(j, k - j);
    } else {
      ++i;
    }
  }
  return {};
}

}  // namespace tamrix::db

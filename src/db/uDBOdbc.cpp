#include "db/uDBOdbc.h"

#include <algorithm>

#include "util/uUTF16.h"

namespace tamrix::db::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager must use UTF-16");

WString ToWide(std::string_view s) {
  const std::u16string u = util::ConverterParaUTF16(s);
  return WString(u.begin(), u.end());
}

std::string FromWide(const SQLWCHAR* text, SQLLEN n) {
  if (text == nullptr) return {};
  if (n == SQL_NTS) {
    n = 0;
    while (text[n] != 0) ++n;
  }
  const std::u16string u(text, text + n);
  return util::ConverterParaUTF8(u);
}

std::vector<TDiagRecord> ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
  std::vector<TDiagRecord> records;
  if (handle == SQL_NULL_HANDLE) return records;
  for (SQLSMALLINT i = 1; i < 50; ++i) {
    SQLWCHAR state[6] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    std::vector<SQLWCHAR> msg(1024);
    SQLRETURN rc = SQLGetDiagRecW(handleType, handle, i, state, &native, msg.data(),
                                  static_cast<SQLSMALLINT>(msg.size()), &len);
    if (rc == SQL_SUCCESS_WITH_INFO && len >= static_cast<SQLSMALLINT>(msg.size())) {
      msg.resize(static_cast<std::size_t>(len) + 1);
      rc = SQLGetDiagRecW(handleType, handle, i, state, &native, msg.data(),
                          static_cast<SQLSMALLINT>(msg.size()), &len);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    TDiagRecord r;
    r.state = FromWide(state, 5);
    r.native = native;
    r.text = FromWide(msg.data(), std::min<SQLLEN>(len, static_cast<SQLLEN>(msg.size()) - 1));
    // Drivers often end their texts with a line break; the message is kept as one line.
    while (!r.text.empty() && (r.text.back() == '\n' || r.text.back() == '\r')) r.text.pop_back();
    records.push_back(std::move(r));
  }
  return records;
}

}  // namespace tamrix::db::odbc

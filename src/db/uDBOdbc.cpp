#include "db/uDBOdbc.h"

namespace tamrix::db::odbc {

namespace {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

WString ToWide(std::string_view s) {
  WString out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if (c >= 0xC2 && c <= 0xF4) {
      len = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      if (i + len <= s.size()) {
        char32_t v = c & (0xFF >> (len + 1));
        bool ok = true;
        for (std::size_t k = 1; k < len; ++k) {
          const auto cc = static_cast<unsigned char>(s[i + k]);
          if ((cc & 0xC0) != 0x80) {
            ok = false;
            len = k;
            break;
          }
          v = (v << 6) | (cc & 0x3F);
        }
        const char32_t minimum = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
        if (ok && v >= minimum && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF)) cp = v;
      } else {
        len = 1;
      }
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<SQLWCHAR>(0xD800 + (cp >> 10));
      out += static_cast<SQLWCHAR>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<SQLWCHAR>(cp);
    }
  }
  return out;
}

std::string FromWide(const SQLWCHAR* text, SQLLEN n) {
  std::string out;
  if (text == nullptr) return out;
  if (n == SQL_NTS) {
    n = 0;
    while (text[n] != 0) ++n;
  }
  out.reserve(static_cast<std::size_t>(n));
  for (SQLLEN i = 0; i < n; ++i) {
    char32_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      u = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      u = 0xFFFD;
    }
    AppendUtf8(out, u);
  }
  return out;
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

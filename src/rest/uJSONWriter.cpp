#include "rest/uJSONWriter.h"

#include <charconv>
#include <cmath>

#include "util/uUTF16.h"

namespace tamrix::rest {

namespace {

void EscreverEscapeU(std::string& out, unsigned unidade) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\u";
  out += kHex[(unidade >> 12) & 0xF];
  out += kHex[(unidade >> 8) & 0xF];
  out += kHex[(unidade >> 4) & 0xF];
  out += kHex[unidade & 0xF];
}

// One UTF-16 unit: printable ASCII as it is, except the escaped three.
void EscreverUnidadeJSON(std::string& out, unsigned u) {
  switch (u) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '/':
      out += "\\/";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\r':
      out += "\\r";
      return;
    default:
      if (u >= 0x20 && u < 0x7F)
        out += static_cast<char>(u);
      else
        EscreverEscapeU(out, u);
  }
}

void EscreverNumero(std::string& out, double d) {
  if (!std::isfinite(d)) {
    out += "null";
    return;
  }
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  out.append(buf, r.ptr);
}

template <class Inteiro>
void EscreverInteiro(std::string& out, Inteiro i) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, i);
  out.append(buf, r.ptr);
}

}  // namespace

void EscreverTextoJSON(std::string& out, std::string_view utf8) {
  out += '"';
  // Character by character: a big text is never held again as UTF-16.
  for (std::size_t pos = 0; pos < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[pos]);
    if (c < 0x80) {
      EscreverUnidadeJSON(out, c);
      ++pos;
      continue;
    }
    const char32_t cp = util::LerCodigoUTF8(utf8, pos);
    if (cp >= 0x10000) {
      EscreverEscapeU(out, 0xD800 + ((cp - 0x10000) >> 10));
      EscreverEscapeU(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      EscreverUnidadeJSON(out, cp);
    }
  }
  out += '"';
}

std::size_t TamanhoBytesJSON(std::string_view bytes) {
  std::size_t n = 0;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F)
      n += b == '"' || b == '\\' || b == '/' ? 2 : 1;
    else
      n += b == '\b' || b == '\t' || b == '\n' || b == '\f' || b == '\r' ? 2 : 6;
  }
  return n;
}

void EscreverBytesJSON(std::string& out, std::string_view bytes) {
  for (char c : bytes) EscreverUnidadeJSON(out, static_cast<unsigned char>(c));
}

void EscreverValorJSON(std::string& out, const boost::json::value& v) {
  switch (v.kind()) {
    case boost::json::kind::null:
      out += "null";
      break;
    case boost::json::kind::bool_:
      out += v.get_bool() ? "true" : "false";
      break;
    case boost::json::kind::int64:
      EscreverInteiro(out, v.get_int64());
      break;
    case boost::json::kind::uint64:
      EscreverInteiro(out, v.get_uint64());
      break;
    case boost::json::kind::double_:
      EscreverNumero(out, v.get_double());
      break;
    case boost::json::kind::string:
      EscreverTextoJSON(out, v.get_string());
      break;
    case boost::json::kind::array: {
      out += '[';
      bool primeiro = true;
      for (const auto& e : v.get_array()) {
        if (!primeiro) out += ',';
        primeiro = false;
        EscreverValorJSON(out, e);
      }
      out += ']';
      break;
    }
    case boost::json::kind::object: {
      out += '{';
      bool primeiro = true;
      for (const auto& par : v.get_object()) {
        if (!primeiro) out += ',';
        primeiro = false;
        EscreverTextoJSON(out, par.key());
        out += ':';
        EscreverValorJSON(out, par.value());
      }
      out += '}';
      break;
    }
  }
}

std::string ValorParaJSON(const boost::json::value& v) {
  std::string out;
  EscreverValorJSON(out, v);
  return out;
}

}  // namespace tamrix::rest

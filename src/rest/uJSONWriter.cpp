#include "rest/uJSONWriter.h"

#include <charconv>
#include <cmath>

#include "rest/uUTF8.h"

namespace tamrix::rest {

namespace {

void EscreverUnidade(std::string& out, unsigned unidade) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\u";
  out += kHex[(unidade >> 12) & 0xF];
  out += kHex[(unidade >> 8) & 0xF];
  out += kHex[(unidade >> 4) & 0xF];
  out += kHex[unidade & 0xF];
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
  for (std::size_t pos = 0; pos < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[pos]);
    if (b >= 0x20 && b < 0x7F) {
      ++pos;
      switch (b) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '/':
          out += "\\/";
          break;
        default:
          out += static_cast<char>(b);
      }
      continue;
    }
    const char32_t c = LerCodigoUTF8(utf8, pos);
    switch (c) {
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (c >= 0x10000) {
          const char32_t v = c - 0x10000;
          EscreverUnidade(out, 0xD800 + (v >> 10));
          EscreverUnidade(out, 0xDC00 + (v & 0x3FF));
        } else {
          EscreverUnidade(out, static_cast<unsigned>(c));
        }
    }
  }
  out += '"';
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

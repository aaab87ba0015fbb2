#include "rest/uJSONWriter.h"

#include <charconv>
#include <cmath>

#include "rest/uUTF8.h"
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
  if (SoASCII(utf8)) {
    for (char c : utf8) EscreverUnidadeJSON(out, static_cast<unsigned char>(c));
  } else {
    for (char16_t u : util::ConverterParaUTF16(utf8)) EscreverUnidadeJSON(out, u);
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

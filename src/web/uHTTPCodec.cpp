#include "web/uHTTPCodec.h"

#include <boost/beast/http/status.hpp>
#include <ctime>

#include "rest/uRestURL.h"
#include "rest/uUTF8.h"
#include "util/uAparar.h"
#include "util/uCaixaTexto.h"
#include "util/uUTF16.h"

namespace tamrix::web {

std::string DecodificarCaminho(std::string_view caminho) {
  return rest::DecodificarSegmento(caminho);
}

std::string CodificarURL(std::string_view texto) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string r;
  r.reserve(texto.size());
  for (unsigned char c : texto) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      r.push_back(static_cast<char>(c));
    } else {
      r.push_back('%');
      r.push_back(kHex[c >> 4]);
      r.push_back(kHex[c & 15]);
    }
  }
  return r;
}

std::string_view TextoStatus(int codigo) {
  switch (codigo) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 302:
      return "Moved Temporarily";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 409:
      return "Conflict";
    case 411:
      return "Length Required";
    case 413:
      return "Request Entity Too Large";
    case 417:
      return "Expectation Failed";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    default:
      break;
  }
  if (codigo < 0 || codigo > 999) return "Unknown";
  const auto texto = boost::beast::http::obsolete_reason(
      static_cast<boost::beast::http::status>(static_cast<unsigned>(codigo)));
  if (texto.empty() || texto.front() == '<') return "Unknown";  // Beast's "<unknown-status>"
  return {texto.data(), texto.size()};
}

std::string DataHTTP(std::chrono::system_clock::time_point momento) {
  static constexpr const char* kDias[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMeses[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t t = std::chrono::system_clock::to_time_t(momento);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDias[tm.tm_wday % 7],
                tm.tm_mday, kMeses[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return buf;
}

std::string CharsetDoTipo(std::string_view contentType) {
  std::size_t pos = contentType.find(';');
  while (pos != std::string_view::npos) {
    std::string_view resto = contentType.substr(pos + 1);
    const std::size_t fim = resto.find(';');
    std::string_view parametro = util::ApararVisao(resto.substr(0, fim));
    const std::size_t igual = parametro.find('=');
    if (igual != std::string_view::npos &&
        util::TextoIgualSemCaixa(util::ApararVisao(parametro.substr(0, igual)), "charset")) {
      std::string_view valor = util::ApararVisao(parametro.substr(igual + 1));
      if (valor.size() >= 2 && valor.front() == '"' && valor.back() == '"')
        valor = valor.substr(1, valor.size() - 2);
      return util::MinusculasASCII(valor);
    }
    pos = fim == std::string_view::npos ? fim : pos + 1 + fim;
  }
  return {};
}

std::string CodificarTexto(std::string_view textoUTF8, std::string_view charset) {
  if (rest::SoASCII(textoUTF8)) return std::string(textoUTF8);
  if (charset == "utf-8" || charset == "utf8") return std::string(textoUTF8);
  const char16_t limite = (charset == "us-ascii" || charset == "ascii") ? 0x80 : 0x100;
  const std::u16string unidades = util::ConverterParaUTF16(textoUTF8);
  std::string r;
  r.reserve(unidades.size());
  for (std::size_t i = 0; i < unidades.size(); ++i) {
    const char16_t u = unidades[i];
    if (u < limite) {
      r.push_back(static_cast<char>(u));
    } else {
      r.push_back('?');
      // A surrogate pair is one character, hence one "?".
      if (u >= 0xD800 && u < 0xDC00 && i + 1 < unidades.size() && unidades[i + 1] >= 0xDC00 &&
          unidades[i + 1] < 0xE000)
        ++i;
    }
  }
  return r;
}

}  // namespace tamrix::web

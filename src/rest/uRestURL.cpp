#include "rest/uRestURL.h"

#include "rest/uUTF8.h"
#include "util/uAparar.h"
#include "util/uCaixaTexto.h"
#include "util/uUTF16.h"

namespace tamrix::rest {

namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Value of n hex digits at pos, or -1.
long LerHex(std::string_view s, std::size_t pos, std::size_t n) {
  if (pos + n > s.size()) return -1;
  long v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const int h = Hex(s[pos + i]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

std::string DecodificarFormulario(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const long b = s[i] == '%' ? LerHex(s, i + 1, 2) : -1;
    if (b >= 0) {
      out += static_cast<char>(b);
      i += 2;
    } else {
      out += s[i] == '+' ? ' ' : s[i];
    }
  }
  return UTF8Valido(out);
}

}  // namespace

std::string DecodificarSegmento(std::string_view s) {
  if (s.find('%') == std::string_view::npos) return UTF8Valido(s);
  std::string bytes;
  bytes.reserve(s.size());
  std::u16string unidades;  // a run of %uXXXX, joined into pairs when it ends
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] == '%' && i + 1 < s.size() && (s[i + 1] == 'u' || s[i + 1] == 'U')) {
      const long u = LerHex(s, i + 2, 4);
      if (u >= 0) {
        unidades += static_cast<char16_t>(u);
        i += 6;
        continue;
      }
    }
    if (!unidades.empty()) bytes += util::ConverterParaUTF8(unidades), unidades.clear();
    const long b = s[i] == '%' ? LerHex(s, i + 1, 2) : -1;
    if (b >= 0) {
      bytes += static_cast<char>(b);
      i += 3;
    } else {
      bytes += s[i++];
    }
  }
  bytes += util::ConverterParaUTF8(unidades);
  return UTF8Valido(bytes);
}

std::vector<TCampoRest> LerCampos(std::string_view texto) {
  std::vector<TCampoRest> campos;
  while (!texto.empty()) {
    const std::size_t fim = texto.find('&');
    const std::string_view par = texto.substr(0, fim);
    texto = fim == std::string_view::npos ? std::string_view{} : texto.substr(fim + 1);
    if (par.empty()) continue;
    const std::size_t igual = par.find('=');
    campos.push_back({DecodificarFormulario(par.substr(0, igual)),
                      igual == std::string_view::npos
                          ? std::string{}
                          : DecodificarFormulario(par.substr(igual + 1))});
  }
  return campos;
}

std::string ValorItemLista(std::string_view lista, std::string_view nome) {
  while (!lista.empty()) {
    const std::size_t fim = lista.find(',');
    const std::string_view item = lista.substr(0, fim);
    lista = fim == std::string_view::npos ? std::string_view{} : lista.substr(fim + 1);
    const std::size_t igual = item.find('=');
    if (igual != std::string_view::npos &&
        util::TextoIgualSemCaixa(util::ApararVisao(item.substr(0, igual)), nome))
      return std::string(util::ApararVisao(item.substr(igual + 1)));
  }
  return {};
}

bool ComecaSemCaixa(std::string_view texto, std::string_view prefixo) {
  return texto.size() >= prefixo.size() &&
         util::TextoIgualSemCaixa(texto.substr(0, prefixo.size()), prefixo);
}

}  // namespace tamrix::rest

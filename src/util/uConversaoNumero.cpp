#include "util/uConversaoNumero.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <string>

#include "util/uAparar.h"

namespace tamrix::util {

namespace {
bool Digito(char c) {
  return c >= '0' && c <= '9';
}

std::size_t PularDigitos(std::string_view s, std::size_t i) {
  while (i < s.size() && Digito(s[i])) ++i;
  return i;
}
}  // namespace

double TextoParaFloat(std::string_view texto, std::string_view separadorDecimal) {
  const std::string_view s = ApararVisao(texto);
  // Checked by hand first: from_chars alone would also take "inf", "nan" and hex forms.
  std::string normal;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') normal += '-';
    ++i;
  }
  std::size_t fim = PularDigitos(s, i);
  bool temDigito = fim > i;
  normal.append(s.substr(i, fim - i));
  i = fim;
  if (!separadorDecimal.empty() && s.substr(i, separadorDecimal.size()) == separadorDecimal) {
    i += separadorDecimal.size();
    fim = PularDigitos(s, i);
    temDigito = temDigito || fim > i;
    normal += '.';
    normal.append(s.substr(i, fim - i));
    i = fim;
  }
  if (!temDigito) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    fim = PularDigitos(s, j);
    if (fim == j) return 0;
    normal += 'e';
    normal.append(s.substr(i + 1, fim - i - 1));
    i = fim;
  }
  if (i != s.size()) return 0;

  // from_chars wants a digit before "."; ".5" and "-.5" get one.
  const std::size_t ponto = normal[0] == '-' ? 1 : 0;
  if (ponto < normal.size() && normal[ponto] == '.') normal.insert(ponto, "0");
  double valor = 0;
  const char* ini = normal.data();
  const auto r = std::from_chars(ini, ini + normal.size(), valor);
  if (r.ec != std::errc() || r.ptr != ini + normal.size() || !std::isfinite(valor)) return 0;
  return valor;
}

double TextoParaFloat(std::string_view texto) {
  const std::lconv* lc = std::localeconv();
  const char* sep = lc != nullptr && lc->decimal_point != nullptr ? lc->decimal_point : ".";
  return TextoParaFloat(texto, sep);
}

namespace {
template <typename T>
bool LerInteiro(std::string_view texto, T& valor) {
  std::string_view s = ApararVisao(texto);
  if (!s.empty() && s[0] == '+') {
    s.remove_prefix(1);  // from_chars takes "-" only
    if (!s.empty() && s[0] == '-') return false;
  }
  T lido = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), lido);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  valor = lido;
  return true;
}
}  // namespace

bool TentarTextoParaInteiro(std::string_view texto, std::int32_t& valor) {
  return LerInteiro(texto, valor);
}

bool TentarTextoParaInteiro(std::string_view texto, std::int64_t& valor) {
  return LerInteiro(texto, valor);
}

std::int32_t TextoParaInteiro(std::string_view texto) {
  std::int32_t valor = 0;
  return LerInteiro(texto, valor) ? valor : 0;
}

}  // namespace tamrix::util

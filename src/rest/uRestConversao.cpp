#include "rest/uRestConversao.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "rest/uJSONDataSets.h"
#include "rest/uJSONWriter.h"
#include "rest/uRestExcecoes.h"
#include "util/uCaixaTexto.h"

namespace tamrix::rest {

namespace {

[[noreturn]] void FalhaConversao(std::string_view formato, std::string_view texto) {
  std::string msg;
  msg += '\'';
  msg += texto;
  msg += "' is not a valid ";
  msg += formato;
  throw EConvertError(msg);
}

[[noreturn]] void FalhaJSON(const boost::json::value& v, TTipoRest tipo) {
  throw EConvertError("Cannot convert JSON value " + ValorParaJSON(v) + " input into " +
                      NomeTipoRest(tipo));
}

template <class Inteiro>
bool LerInteiro(std::string_view t, Inteiro& out) {
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  if (t.empty() || t.front() == '+') return false;
  auto r = std::from_chars(t.data(), t.data() + t.size(), out);
  return r.ec == std::errc() && r.ptr == t.data() + t.size();
}

bool LerDouble(std::string_view t, double& out) {
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  if (t.empty() || t.front() == '+') return false;
  auto r = std::from_chars(t.data(), t.data() + t.size(), out, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == t.data() + t.size() && std::isfinite(out);
}

// The text a JSON scalar stands for when a text or a number is wanted.
std::string TextoDoEscalar(const boost::json::value& v) {
  if (v.is_string()) return std::string(v.get_string());
  if (v.is_bool()) return v.get_bool() ? "true" : "false";
  return ValorParaJSON(v);
}

template <class Inteiro>
Inteiro TextoParaInteiro(std::string_view t) {
  if (util::TextoIgualSemCaixa(t, "true")) return 1;
  if (util::TextoIgualSemCaixa(t, "false")) return 0;
  Inteiro i{};
  if (!LerInteiro(t, i)) FalhaConversao("integer value", t);
  return i;
}

template <class Inteiro>
Inteiro ArgumentoParaInteiro(const TArgumentoRest& arg, TTipoRest tipo) {
  if (auto* t = std::get_if<TArgumentoTexto>(&arg)) return TextoParaInteiro<Inteiro>(t->Texto);
  if (auto* v = std::get_if<boost::json::value>(&arg)) {
    if (v->is_null()) return 0;
    if (v->is_bool()) return v->get_bool() ? 1 : 0;
    if (v->is_number() || v->is_string()) return TextoParaInteiro<Inteiro>(TextoDoEscalar(*v));
    FalhaJSON(*v, tipo);
  }
  return 0;
}

bool TextoParaBoolean(std::string_view t) {
  if (util::TextoIgualSemCaixa(t, "true")) return true;
  if (util::TextoIgualSemCaixa(t, "false")) return false;
  double d;
  if (!LerDouble(t, d)) FalhaConversao("Boolean value", t);
  return d != 0;
}

double TextoParaDouble(std::string_view t) {
  double d;
  if (!LerDouble(t, d)) FalhaConversao("floating point value", t);
  return d;
}

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long DiasDesde1970(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

void DataDosDias(long z, long& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<long>(yoe) + era * 400 + (m <= 2);
}

const long kDias1899 = DiasDesde1970(1899, 12, 30);

unsigned DiasNoMes(long y, unsigned m) {
  static constexpr unsigned kDias[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool bissexto = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && bissexto ? 29 : kDias[m - 1];
}

// Reads 1 to maxDigitos digits at pos.
bool LerCampo(std::string_view t, std::size_t& pos, std::size_t maxDigitos, unsigned& out) {
  std::size_t n = 0;
  out = 0;
  while (pos < t.size() && n < maxDigitos && t[pos] >= '0' && t[pos] <= '9') {
    out = out * 10 + static_cast<unsigned>(t[pos] - '0');
    ++pos, ++n;
  }
  return n > 0;
}

bool Separador(std::string_view t, std::size_t& pos, char c) {
  if (pos < t.size() && t[pos] == c) return ++pos, true;
  return false;
}

}  // namespace

const char* NomeTipoRest(TTipoRest tipo) {
  switch (tipo) {
    case TTipoRest::trVoid:
      return "void";
    case TTipoRest::trString:
      return "string";
    case TTipoRest::trInt32:
      return "Integer";
    case TTipoRest::trInt64:
      return "Int64";
    case TTipoRest::trBoolean:
      return "Boolean";
    case TTipoRest::trDouble:
      return "Double";
    case TTipoRest::trDateTime:
      return "TDateTime";
    case TTipoRest::trJSONValue:
      return "TJSONValue";
    case TTipoRest::trJSONObject:
      return "TJSONObject";
    case TTipoRest::trJSONArray:
      return "TJSONArray";
    case TTipoRest::trDataSets:
      return "TJSONDataSets";
  }
  return "?";
}

const char* NomeDirecao(TDirecaoParametro d) {
  switch (d) {
    case TDirecaoParametro::dpIn:
      return "in";
    case TDirecaoParametro::dpOut:
      return "out";
    case TDirecaoParametro::dpInOut:
      return "var";
  }
  return "?";
}

std::string ArgumentoParaString(const TArgumentoRest& arg) {
  if (auto* t = std::get_if<TArgumentoTexto>(&arg)) return t->Texto;
  if (auto* v = std::get_if<boost::json::value>(&arg)) {
    if (v->is_null()) return {};
    if (v->is_object() || v->is_array()) FalhaJSON(*v, TTipoRest::trString);
    return TextoDoEscalar(*v);
  }
  return {};
}

std::int32_t ArgumentoParaInt32(const TArgumentoRest& arg) {
  return ArgumentoParaInteiro<std::int32_t>(arg, TTipoRest::trInt32);
}

std::int64_t ArgumentoParaInt64(const TArgumentoRest& arg) {
  return ArgumentoParaInteiro<std::int64_t>(arg, TTipoRest::trInt64);
}

bool ArgumentoParaBoolean(const TArgumentoRest& arg) {
  if (auto* t = std::get_if<TArgumentoTexto>(&arg)) return TextoParaBoolean(t->Texto);
  if (auto* v = std::get_if<boost::json::value>(&arg)) {
    switch (v->kind()) {
      case boost::json::kind::null:
        return false;
      case boost::json::kind::bool_:
        return v->get_bool();
      case boost::json::kind::int64:
        return v->get_int64() == 1;
      case boost::json::kind::uint64:
        return v->get_uint64() == 1;
      case boost::json::kind::double_:
        return v->get_double() == 1.0;
      case boost::json::kind::string:
        return TextoParaBoolean(v->get_string());
      default:
        FalhaJSON(*v, TTipoRest::trBoolean);
    }
  }
  return false;
}

double ArgumentoParaDouble(const TArgumentoRest& arg) {
  if (auto* t = std::get_if<TArgumentoTexto>(&arg)) return TextoParaDouble(t->Texto);
  if (auto* v = std::get_if<boost::json::value>(&arg)) {
    if (v->is_null()) return 0;
    if (v->is_bool()) return v->get_bool() ? 1 : 0;
    if (v->is_number()) return v->to_number<double>();
    if (v->is_string()) return TextoParaDouble(v->get_string());
    FalhaJSON(*v, TTipoRest::trDouble);
  }
  return 0;
}

TDateTime ArgumentoParaDateTime(const TArgumentoRest& arg) {
  if (auto* t = std::get_if<TArgumentoTexto>(&arg)) return TextoParaDateTime(t->Texto);
  if (auto* v = std::get_if<boost::json::value>(&arg)) {
    if (v->is_null()) return {};
    if (v->is_string()) return TextoParaDateTime(v->get_string());
    if (v->is_number()) return {v->to_number<double>()};
    FalhaJSON(*v, TTipoRest::trDateTime);
  }
  return {};
}

boost::json::value ArgumentoParaJSON(const TArgumentoRest& arg) {
  if (auto* t = std::get_if<TArgumentoTexto>(&arg)) return boost::json::string(t->Texto);
  if (auto* v = std::get_if<boost::json::value>(&arg)) return *v;
  return nullptr;
}

boost::json::value ArgumentoParaJSON(TArgumentoRest&& arg) {
  if (auto* v = std::get_if<boost::json::value>(&arg)) return std::move(*v);
  return ArgumentoParaJSON(std::as_const(arg));
}

TDateTime TextoParaDateTime(std::string_view t) {
  std::size_t pos = 0;
  unsigned ano, mes, dia, hora = 0, minuto = 0, segundo = 0, milis = 0;
  bool ok = LerCampo(t, pos, 4, ano) && Separador(t, pos, '-') && LerCampo(t, pos, 2, mes) &&
            Separador(t, pos, '-') && LerCampo(t, pos, 2, dia);
  if (ok && pos < t.size()) {
    ok = Separador(t, pos, ' ') && LerCampo(t, pos, 2, hora) && Separador(t, pos, ':') &&
         LerCampo(t, pos, 2, minuto);
    if (ok && Separador(t, pos, ':')) {
      ok = LerCampo(t, pos, 2, segundo);
      if (ok && Separador(t, pos, '.')) {
        const std::size_t inicio = pos;
        ok = LerCampo(t, pos, 3, milis);
        for (std::size_t n = pos - inicio; n < 3; ++n) milis *= 10;
      }
    }
  }
  ok = ok && pos == t.size() && mes >= 1 && mes <= 12 && dia >= 1 && dia <= DiasNoMes(ano, mes) &&
       hora < 24 && minuto < 60 && segundo < 60;
  if (!ok) FalhaConversao("date and time", t);
  const double fracao = (hora * 3600.0 + minuto * 60.0 + segundo + milis / 1000.0) / 86400.0;
  return {static_cast<double>(DiasDesde1970(ano, mes, dia) - kDias1899) + fracao};
}

std::string DateTimeParaTexto(TDateTime d) {
  if (!std::isfinite(d.Valor) || std::fabs(d.Valor) > 3.0e6)
    FalhaConversao("date and time", std::to_string(d.Valor));
  long long milisTotal = std::llround(d.Valor * 86400000.0);
  long long dias = milisTotal / 86400000;
  long long resto = milisTotal % 86400000;
  if (resto < 0) resto += 86400000, --dias;
  long y;
  unsigned m, dd;
  DataDosDias(static_cast<long>(dias) + kDias1899, y, m, dd);
  const unsigned h = static_cast<unsigned>(resto / 3600000), n = (resto / 60000) % 60,
                 s = (resto / 1000) % 60, z = resto % 1000;
  char buf[40];
  int len = std::snprintf(buf, sizeof buf, "%04ld-%02u-%02u %02u:%02u:%02u", y, m, dd, h, n, s);
  if (z != 0) len += std::snprintf(buf + len, sizeof buf - len, ".%03u", z);
  return std::string(buf, static_cast<std::size_t>(len));
}

void EscreverSaidaJSON(std::string& out, const TSaidaRest& saida) {
  EscreverSaidaJSON(out, saida, nullptr);
}

void EscreverSaidaJSON(std::string& out, const TSaidaRest& saida,
                       const TJanelaLinhas* janelaTabela) {
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          out += "null";
        } else if constexpr (std::is_same_v<T, std::string>) {
          EscreverTextoJSON(out, v);
        } else if constexpr (std::is_same_v<T, bool>) {
          out += v ? "true" : "false";
        } else if constexpr (std::is_same_v<T, std::int32_t> || std::is_same_v<T, std::int64_t>) {
          out += std::to_string(v);
        } else if constexpr (std::is_same_v<T, double>) {
          EscreverValorJSON(out, boost::json::value(v));
        } else if constexpr (std::is_same_v<T, TDateTime>) {
          EscreverTextoJSON(out, DateTimeParaTexto(v));
        } else if constexpr (std::is_same_v<T, boost::json::value>) {
          EscreverValorJSON(out, v);
        } else if constexpr (std::is_same_v<T, TTextoJSON>) {
          out += v.JSON;
        } else {
          if (v)
            EscreverJSONDataSets(*v, out, janelaTabela ? *janelaTabela : TJanelaLinhas{});
          else
            out += "null";
        }
      },
      saida.Valor);
}

}  // namespace tamrix::rest

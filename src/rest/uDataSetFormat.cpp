#include "rest/uDataSetFormat.h"

#include <array>
#include <charconv>
#include <limits>

#include "diagnostics/uExcecoes.h"

namespace tamrix::rest {

namespace {

using diagnostics::EDatabaseError;
using diagnostics::Exception;

// Pieces appended one by one (a chain of + on temporaries trips GCC's -Wrestrict).
template <class... Partes>
std::string Juntar(const Partes&... partes) {
  std::string s;
  (s.append(std::string_view(partes)), ...);
  return s;
}

constexpr std::uint8_t kMarcaLinha = 1;
constexpr std::uint8_t kMarcaFim = 0;

// Appends v little-endian in exactly sizeof(Inteiro) bytes.
template <class Inteiro>
void EscreverLE(std::string& buf, Inteiro v) {
  const auto u = static_cast<std::make_unsigned_t<Inteiro>>(v);
  for (std::size_t i = 0; i < sizeof(Inteiro); ++i) buf += static_cast<char>((u >> (8 * i)) & 0xFF);
}

void EscreverU16(std::string& buf, std::uint16_t v) {
  EscreverLE(buf, v);
}
void EscreverU32(std::string& buf, std::uint32_t v) {
  EscreverLE(buf, v);
}

void EscreverComTamanho(std::string& buf, std::string_view v) {
  if (v.size() > std::numeric_limits<std::uint32_t>::max())
    throw EDatabaseError("Valor grande demais para o conjunto de dados.");
  EscreverU32(buf, static_cast<std::uint32_t>(v.size()));
  buf += v;
}

bool AnoBissexto(int a) {
  return (a % 4 == 0 && a % 100 != 0) || a % 400 == 0;
}

int DiasNoMes(int ano, int mes) {
  static constexpr std::array<int, 12> kDias = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return mes == 2 && AnoBissexto(ano) ? 29 : kDias[mes - 1];
}

bool LerDigitos(std::string_view t, std::size_t& pos, std::size_t n, int& v) {
  if (t.size() - pos < n) return false;
  v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = t[pos + i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  pos += n;
  return true;
}

bool LerLetra(std::string_view t, std::size_t& pos, char c) {
  if (pos >= t.size() || t[pos] != c) return false;
  ++pos;
  return true;
}

bool LerData(std::string_view t, std::size_t& pos, TMomentoDataSet& m) {
  return LerDigitos(t, pos, 4, m.Ano) && LerLetra(t, pos, '-') && LerDigitos(t, pos, 2, m.Mes) &&
         LerLetra(t, pos, '-') && LerDigitos(t, pos, 2, m.Dia) && m.Ano >= 1 && m.Mes >= 1 &&
         m.Mes <= 12 && m.Dia >= 1 && m.Dia <= DiasNoMes(m.Ano, m.Mes);
}

bool LerHora(std::string_view t, std::size_t& pos, TMomentoDataSet& m) {
  if (!(LerDigitos(t, pos, 2, m.Hora) && LerLetra(t, pos, ':') && LerDigitos(t, pos, 2, m.Minuto) &&
        LerLetra(t, pos, ':') && LerDigitos(t, pos, 2, m.Segundo) && m.Hora <= 23 &&
        m.Minuto <= 59 && m.Segundo <= 59))
    return false;
  m.Nanos = 0;
  if (pos < t.size() && t[pos] == '.') {
    ++pos;
    std::size_t digitos = 0;
    std::uint32_t escala = 100000000;
    while (pos < t.size() && t[pos] >= '0' && t[pos] <= '9') {
      if (++digitos > 9) return false;
      m.Nanos += static_cast<std::uint32_t>(t[pos++] - '0') * escala;
      escala /= 10;
    }
    if (digitos == 0) return false;
  }
  return true;
}

// "Z", "+hh", "+hhmm" or "+hh:mm" (or "-"), after an optional blank.
bool LerFuso(std::string_view t, std::size_t& pos, TMomentoDataSet& m) {
  LerLetra(t, pos, ' ');
  if (LerLetra(t, pos, 'Z')) {
    m.FusoMinutos = 0;
    return true;
  }
  if (pos >= t.size() || (t[pos] != '+' && t[pos] != '-')) return false;
  const int sinal = t[pos++] == '-' ? -1 : 1;
  int h = 0, mi = 0;
  if (!LerDigitos(t, pos, 2, h)) return false;
  if (pos < t.size()) {
    LerLetra(t, pos, ':');
    if (!LerDigitos(t, pos, 2, mi)) return false;
  }
  if (h > 23 || mi > 59) return false;
  m.FusoMinutos = sinal * (h * 60 + mi);
  return true;
}

bool LerMomento(TTipoColuna tipo, std::string_view t, TMomentoDataSet& m) {
  std::size_t pos = 0;
  bool ok = true;
  switch (tipo) {
    case TTipoColuna::tcData:
      ok = LerData(t, pos, m);
      break;
    case TTipoColuna::tcHora:
      ok = LerHora(t, pos, m);
      break;
    default:  // date and time, a date alone meaning midnight
      ok = LerData(t, pos, m);
      if (ok && pos < t.size() && (t[pos] == ' ' || t[pos] == 'T')) {
        ++pos;
        ok = LerHora(t, pos, m);
      }
      if (ok && tipo == TTipoColuna::tcDataHoraFuso) ok = LerFuso(t, pos, m);
  }
  return ok && pos == t.size();
}

void EscreverMomento(std::string& buf, TTipoColuna tipo, const TMomentoDataSet& m) {
  if (tipo != TTipoColuna::tcHora) {
    EscreverU16(buf, static_cast<std::uint16_t>(m.Ano));
    buf += static_cast<char>(m.Mes);
    buf += static_cast<char>(m.Dia);
  }
  if (tipo != TTipoColuna::tcData) {
    buf += static_cast<char>(m.Hora);
    buf += static_cast<char>(m.Minuto);
    buf += static_cast<char>(m.Segundo);
    EscreverU32(buf, m.Nanos);
  }
  if (tipo == TTipoColuna::tcDataHoraFuso)
    EscreverLE(buf, static_cast<std::int16_t>(m.FusoMinutos));
}

void AcrescentarNumero(std::string& out, int v, int largura) {
  char tmp[16];
  auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
  for (int n = static_cast<int>(r.ptr - tmp); n < largura; ++n) out += '0';
  out.append(tmp, r.ptr);
}

// "-?d*(.d*)?" with at least one digit; a missing integer part becomes 0 and a bare
// trailing point is dropped, so every reader sees one form.
bool NormalizarDecimal(std::string_view t, std::string& saida) {
  saida.clear();
  std::size_t pos = 0;
  if (pos < t.size() && t[pos] == '-') saida += t[pos++];
  const std::size_t inicioInteira = pos;
  while (pos < t.size() && t[pos] >= '0' && t[pos] <= '9') ++pos;
  const std::string_view inteira = t.substr(inicioInteira, pos - inicioInteira);
  std::string_view fracao;
  if (pos < t.size() && t[pos] == '.') {
    const std::size_t inicio = ++pos;
    while (pos < t.size() && t[pos] >= '0' && t[pos] <= '9') ++pos;
    fracao = t.substr(inicio, pos - inicio);
  }
  if (pos != t.size() || (inteira.empty() && fracao.empty())) return false;
  saida += inteira.empty() ? std::string_view("0") : inteira;
  if (!fracao.empty()) {
    saida += '.';
    saida += fracao;
  }
  return true;
}

bool TextoReal(std::string_view t) {
  double d;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), d);
  return !t.empty() && r.ec == std::errc() && r.ptr == t.data() + t.size();
}

template <class Inteiro>
bool LerInteiro(std::string_view t, Inteiro& v) {
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  return !t.empty() && r.ec == std::errc() && r.ptr == t.data() + t.size();
}

bool LerLogico(std::string_view t, bool& v) {
  std::string m;
  for (char c : t) m += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (m == "1" || m == "true" || m == "t") return v = true, true;
  if (m == "0" || m == "false" || m == "f") return v = false, true;
  return false;
}

bool TipoConhecido(std::uint8_t t) {
  return t >= 1 && t <= 13;
}

[[noreturn]] void ValorInvalido(const TColunaDataSet& c, std::string_view v) {
  throw EDatabaseError(Juntar("Valor inválido para a coluna \"", c.Nome, "\" (",
                              NomeTipoColuna(c.Tipo), "): \"", v.substr(0, 64), "\""));
}

template <class Inteiro>
void EscreverInteiro(std::string& buf, const TColunaDataSet& c, std::string_view v) {
  Inteiro i;
  if (!LerInteiro(v, i)) ValorInvalido(c, v);
  EscreverLE(buf, i);
}

void EscreverValor(std::string& buf, const TColunaDataSet& c, std::string_view v) {
  switch (c.Tipo) {
    case TTipoColuna::tcLogico: {
      bool b;
      if (!LerLogico(v, b)) ValorInvalido(c, v);
      buf += static_cast<char>(b ? 1 : 0);
      return;
    }
    case TTipoColuna::tcInteiro16:
      return EscreverInteiro<std::int16_t>(buf, c, v);
    case TTipoColuna::tcInteiro32:
      return EscreverInteiro<std::int32_t>(buf, c, v);
    case TTipoColuna::tcInteiro64:
      return EscreverInteiro<std::int64_t>(buf, c, v);
    case TTipoColuna::tcDecimal: {
      std::string n;
      if (!NormalizarDecimal(v, n)) ValorInvalido(c, v);
      EscreverComTamanho(buf, n);
      return;
    }
    case TTipoColuna::tcReal:
      if (!TextoReal(v)) ValorInvalido(c, v);
      EscreverComTamanho(buf, v);
      return;
    case TTipoColuna::tcData:
    case TTipoColuna::tcHora:
    case TTipoColuna::tcDataHora:
    case TTipoColuna::tcDataHoraFuso: {
      TMomentoDataSet m;
      if (!LerMomento(c.Tipo, v, m)) ValorInvalido(c, v);
      EscreverMomento(buf, c.Tipo, m);
      return;
    }
    case TTipoColuna::tcTexto:
    case TTipoColuna::tcBinario:
    case TTipoColuna::tcGuid:
      EscreverComTamanho(buf, v);
      return;
  }
  ValorInvalido(c, v);
}

template <class... Partes>
[[noreturn]] void Corrompido(const Partes&... partes) {
  throw Exception(Juntar("Conjunto de dados corrompido: ", partes..., "."));
}

}  // namespace

std::string TextoMomento(TTipoColuna tipo, const TMomentoDataSet& m) {
  std::string s;
  if (tipo != TTipoColuna::tcHora) {
    AcrescentarNumero(s, m.Ano, 4);
    s += '-';
    AcrescentarNumero(s, m.Mes, 2);
    s += '-';
    AcrescentarNumero(s, m.Dia, 2);
  }
  if (tipo != TTipoColuna::tcData) {
    if (!s.empty()) s += ' ';
    AcrescentarNumero(s, m.Hora, 2);
    s += ':';
    AcrescentarNumero(s, m.Minuto, 2);
    s += ':';
    AcrescentarNumero(s, m.Segundo, 2);
    if (m.Nanos != 0) {
      std::string f;
      AcrescentarNumero(f, static_cast<int>(m.Nanos), 9);
      f.erase(f.find_last_not_of('0') + 1);
      s += '.';
      s += f;
    }
  }
  if (tipo == TTipoColuna::tcDataHoraFuso) {
    const int abs = m.FusoMinutos < 0 ? -m.FusoMinutos : m.FusoMinutos;
    s += m.FusoMinutos < 0 ? '-' : '+';
    AcrescentarNumero(s, abs / 60, 2);
    s += ':';
    AcrescentarNumero(s, abs % 60, 2);
  }
  return s;
}

std::string_view NomeTipoColuna(TTipoColuna tipo) {
  switch (tipo) {
    case TTipoColuna::tcLogico:
      return "Logico";
    case TTipoColuna::tcInteiro16:
      return "Inteiro16";
    case TTipoColuna::tcInteiro32:
      return "Inteiro32";
    case TTipoColuna::tcInteiro64:
      return "Inteiro64";
    case TTipoColuna::tcDecimal:
      return "Decimal";
    case TTipoColuna::tcReal:
      return "Real";
    case TTipoColuna::tcData:
      return "Data";
    case TTipoColuna::tcHora:
      return "Hora";
    case TTipoColuna::tcDataHora:
      return "DataHora";
    case TTipoColuna::tcDataHoraFuso:
      return "DataHoraFuso";
    case TTipoColuna::tcTexto:
      return "Texto";
    case TTipoColuna::tcBinario:
      return "Binario";
    case TTipoColuna::tcGuid:
      return "Guid";
  }
  return "?";
}

void EscreverCabecalhoDataSet(std::string& buf, const std::vector<TColunaDataSet>& colunas) {
  buf += kMarcaDataSet;
  EscreverU16(buf, kVersaoDataSet);
  EscreverU32(buf, static_cast<std::uint32_t>(colunas.size()));
  for (const auto& c : colunas) {
    EscreverComTamanho(buf, c.Nome);
    buf += static_cast<char>(c.Tipo);
    EscreverLE(buf, c.TipoSQL);
    EscreverU32(buf, c.Tamanho);
    EscreverU16(buf, c.Precisao);
    EscreverU16(buf, c.Escala);
    buf += static_cast<char>(c.Nulidade);
  }
}

void EscreverLinhaDataSet(std::string& buf, const std::vector<TColunaDataSet>& colunas,
                          const TLinhaDataSet& linha) {
  if (linha.size() != colunas.size())
    throw EDatabaseError(Juntar("Linha com ", std::to_string(linha.size()), " valores para ",
                                std::to_string(colunas.size()), " colunas."));
  buf += static_cast<char>(kMarcaLinha);
  const std::size_t inicioNulos = buf.size();
  buf.append((colunas.size() + 7) / 8, '\0');
  for (std::size_t i = 0; i < colunas.size(); ++i) {
    if (!linha[i]) {
      buf[inicioNulos + i / 8] = static_cast<char>(buf[inicioNulos + i / 8] | (1 << (i % 8)));
      continue;
    }
    EscreverValor(buf, colunas[i], *linha[i]);
  }
}

void EscreverFimDataSet(std::string& buf, std::uint64_t linhas) {
  buf += static_cast<char>(kMarcaFim);
  EscreverLE(buf, linhas);
}

TLeitorDataSet::TLeitorDataSet(std::string_view dados) : dados_(dados) {
  if (LerBytes(kMarcaDataSet.size()) != kMarcaDataSet) Corrompido("marca inicial ausente");
  const std::uint16_t versao = LerU16();
  if (versao != kVersaoDataSet)
    throw Exception(Juntar("Versão ", std::to_string(versao),
                           " do formato de conjunto de dados não suportada."));
  const std::uint32_t n = LerU32();
  // Each description takes at least 16 bytes: a count beyond that is garbage, not a request
  // to reserve gigabytes.
  if (n > (dados_.size() - pos_) / 16) Corrompido("número de colunas");
  colunas_.resize(n);
  for (auto& c : colunas_) {
    c.Nome = std::string(LerBytes(LerU32()));
    const std::uint8_t tipo = LerByte();
    if (!TipoConhecido(tipo)) Corrompido("tipo de coluna ", std::to_string(tipo));
    c.Tipo = static_cast<TTipoColuna>(tipo);
    c.TipoSQL = LerLE<std::int16_t>();
    c.Tamanho = LerU32();
    c.Precisao = LerU16();
    c.Escala = LerU16();
    const std::uint8_t nul = LerByte();
    if (nul > 2) Corrompido("nulidade da coluna");
    c.Nulidade = static_cast<TNulidade>(nul);
  }
}

bool TLeitorDataSet::ProximaLinha(TLinhaDataSet& linha) {
  if (fim_) return false;
  const std::uint8_t marca = LerByte();
  if (marca == kMarcaFim) {
    fim_ = true;
    if (LerLE<std::uint64_t>() != linhasLidas_) Corrompido("contagem de linhas");
    if (pos_ != dados_.size()) Corrompido("bytes depois do fim");
    return false;
  }
  if (marca != kMarcaLinha) Corrompido("marca de linha");
  const std::string_view nulos = LerBytes((colunas_.size() + 7) / 8);
  linha.resize(colunas_.size());
  for (std::size_t i = 0; i < colunas_.size(); ++i) {
    if (static_cast<unsigned char>(nulos[i / 8]) & (1u << (i % 8))) {
      linha[i].reset();
      continue;
    }
    if (!linha[i]) linha[i].emplace();
    LerValor(colunas_[i], *linha[i]);
  }
  ++linhasLidas_;
  return true;
}

void TLeitorDataSet::LerValor(const TColunaDataSet& c, std::string& v) {
  switch (c.Tipo) {
    case TTipoColuna::tcLogico: {
      const std::uint8_t b = LerByte();
      if (b > 1) Corrompido("valor lógico");
      v = b ? "true" : "false";
      return;
    }
    case TTipoColuna::tcInteiro16:
      v = std::to_string(LerLE<std::int16_t>());
      return;
    case TTipoColuna::tcInteiro32:
      v = std::to_string(LerLE<std::int32_t>());
      return;
    case TTipoColuna::tcInteiro64:
      v = std::to_string(LerLE<std::int64_t>());
      return;
    case TTipoColuna::tcData:
    case TTipoColuna::tcHora:
    case TTipoColuna::tcDataHora:
    case TTipoColuna::tcDataHoraFuso: {
      TMomentoDataSet m;
      if (c.Tipo != TTipoColuna::tcHora) {
        m.Ano = LerU16();
        m.Mes = LerByte();
        m.Dia = LerByte();
        if (m.Ano < 1 || m.Ano > 9999 || m.Mes < 1 || m.Mes > 12 || m.Dia < 1 ||
            m.Dia > DiasNoMes(m.Ano, m.Mes))
          Corrompido("data");
      }
      if (c.Tipo != TTipoColuna::tcData) {
        m.Hora = LerByte();
        m.Minuto = LerByte();
        m.Segundo = LerByte();
        m.Nanos = LerU32();
        if (m.Hora > 23 || m.Minuto > 59 || m.Segundo > 59 || m.Nanos > 999999999)
          Corrompido("hora");
      }
      if (c.Tipo == TTipoColuna::tcDataHoraFuso) {
        m.FusoMinutos = LerLE<std::int16_t>();
        if (m.FusoMinutos < -(23 * 60 + 59) || m.FusoMinutos > 23 * 60 + 59) Corrompido("fuso");
      }
      v = TextoMomento(c.Tipo, m);
      return;
    }
    default:
      v.assign(LerBytes(LerU32()));
  }
}

std::uint8_t TLeitorDataSet::LerByte() {
  return static_cast<std::uint8_t>(LerBytes(1)[0]);
}

template <class Inteiro>
Inteiro TLeitorDataSet::LerLE() {
  const auto b = LerBytes(sizeof(Inteiro));
  std::make_unsigned_t<Inteiro> u = 0;
  for (std::size_t i = sizeof(Inteiro); i-- > 0;)
    u = static_cast<decltype(u)>((u << 8) | static_cast<unsigned char>(b[i]));
  return static_cast<Inteiro>(u);
}

std::uint16_t TLeitorDataSet::LerU16() {
  return LerLE<std::uint16_t>();
}
std::uint32_t TLeitorDataSet::LerU32() {
  return LerLE<std::uint32_t>();
}

std::string_view TLeitorDataSet::LerBytes(std::size_t n) {
  if (dados_.size() - pos_ < n) Corrompido("fim inesperado dos dados");
  const auto r = dados_.substr(pos_, n);
  pos_ += n;
  return r;
}

}  // namespace tamrix::rest

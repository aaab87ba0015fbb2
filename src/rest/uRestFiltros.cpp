#include "rest/uRestFiltros.h"

#include <algorithm>
#include <boost/json/parse.hpp>
#include <charconv>
#include <string_view>

#include "rest/uRestConversao.h"
#include "rest/uUTF8.h"
#include "util/uAparar.h"
#include "util/uCaixaTexto.h"

namespace tamrix::rest {

namespace {

constexpr int kRejeitado = 409;
constexpr int kNaoConverte = 500;

[[noreturn]] void Rejeitar(const TCampoRest& campo) {
  throw EFiltroRest(kRejeitado, "Query parameter " + campo.Nome + " (" + campo.Valor +
                                    ") is not accepted as a valid converter. The converter type "
                                    "might not be registered yet hence the request is rejected");
}

[[noreturn]] void Conflito() {
  throw EFiltroRest(kRejeitado,
                    "Query parameters are conflicting. This is usually due to references on the "
                    "same output parameter");
}

[[noreturn]] void NaoConverte() {
  throw EFiltroRest(kNaoConverte, {});
}

// A decimal integer, optionally signed; 500 when it is not one, 409 when it is negative.
std::uint64_t LerQuantia(std::string_view texto, const TCampoRest& campo) {
  texto = util::ApararVisao(texto);
  std::int64_t v = 0;
  const auto r = std::from_chars(texto.data(), texto.data() + texto.size(), v);
  if (texto.empty() || r.ec != std::errc() || r.ptr != texto.data() + texto.size()) NaoConverte();
  if (v < 0) Rejeitar(campo);
  return static_cast<std::uint64_t>(v);
}

// "[0,2]" -> {0, 2}; "" -> every element. Anything else does not convert.
std::optional<std::vector<std::size_t>> LerPosicoes(std::string_view texto) {
  if (texto.empty()) return std::nullopt;
  if (texto.size() < 3 || texto.front() != '[' || texto.back() != ']') NaoConverte();
  texto = texto.substr(1, texto.size() - 2);
  std::vector<std::size_t> posicoes;
  for (;;) {
    const std::size_t virgula = texto.find(',');
    const std::string_view item = util::ApararVisao(texto.substr(0, virgula));
    std::size_t v = 0;
    const auto r = std::from_chars(item.data(), item.data() + item.size(), v);
    if (item.empty() || r.ec != std::errc() || r.ptr != item.data() + item.size()) NaoConverte();
    posicoes.push_back(v);
    if (virgula == std::string_view::npos) break;
    texto.remove_prefix(virgula + 1);
  }
  std::sort(posicoes.begin(), posicoes.end());
  posicoes.erase(std::unique(posicoes.begin(), posicoes.end()), posicoes.end());
  return posicoes;
}

bool SeCruzam(const std::optional<std::vector<std::size_t>>& a,
              const std::optional<std::vector<std::size_t>>& b) {
  if (!a || !b) return true;
  return std::any_of(a->begin(), a->end(),
                     [&](std::size_t i) { return std::binary_search(b->begin(), b->end(), i); });
}

bool Contem(const std::optional<std::vector<std::size_t>>& posicoes, std::size_t i) {
  return !posicoes || std::binary_search(posicoes->begin(), posicoes->end(), i);
}

}  // namespace

EFiltroRest::EFiltroRest(int status, std::string motivo)
    : ERestException(motivo.empty() ? "Filtro de requisição inválido." : motivo),
      status_(status),
      motivo_(std::move(motivo)) {}

TFiltrosRest TFiltrosRest::Ler(const std::vector<TCampoRest>& campos) {
  TFiltrosRest filtros;
  for (const auto& campo : campos) {
    if (util::TextoIgualSemCaixa(campo.Nome, "SESSIONID") ||
        util::TextoIgualSemCaixa(campo.Nome, "SID"))
      continue;
    filtros.Acrescentar(campo);
  }
  return filtros;
}

void TFiltrosRest::Acrescentar(const TCampoRest& campo) {
  const std::string_view nome = campo.Nome;
  if (util::TextoIgualSemCaixa(nome, "json")) {
    try {
      streamComoJSON_ = ArgumentoParaBoolean(TArgumentoTexto{util::Aparar(campo.Valor)});
    } catch (const EConvertError&) {
      NaoConverte();
    }
    return;
  }

  // {filter}[{positions}].{field}
  const std::size_t fimFiltro = nome.find_first_of("[.");
  const std::size_t ponto = nome.rfind('.');
  if (fimFiltro == std::string_view::npos || ponto == std::string_view::npos) return;
  const std::string_view nomeFiltro = nome.substr(0, fimFiltro);
  const std::string_view campoFiltro = nome.substr(ponto + 1);
  TTipoFiltro tipo;
  if (util::TextoIgualSemCaixa(nomeFiltro, "ss"))
    tipo = TTipoFiltro::tfTexto;
  else if (util::TextoIgualSemCaixa(nomeFiltro, "t"))
    tipo = TTipoFiltro::tfTabela;
  else
    return;
  const bool offset = util::TextoIgualSemCaixa(campoFiltro, "o");
  const bool count = util::TextoIgualSemCaixa(campoFiltro, "c");
  const bool range = util::TextoIgualSemCaixa(campoFiltro, "r");
  if (!offset && !count && !range) return;

  const std::string_view textoPosicoes = nome.substr(fimFiltro, ponto - fimFiltro);
  if (!textoPosicoes.empty() && textoPosicoes.front() != '[') return;  // "t.x.c": no filter
  auto posicoes = LerPosicoes(textoPosicoes);
  std::optional<std::uint64_t> inicio, quantidade;
  if (range) {
    const std::size_t virgula = campo.Valor.find(',');
    if (virgula == std::string::npos) Rejeitar(campo);
    const std::string_view valor = campo.Valor;
    inicio = LerQuantia(valor.substr(0, virgula), campo);
    quantidade = LerQuantia(valor.substr(virgula + 1), campo);
  } else if (offset) {
    inicio = LerQuantia(campo.Valor, campo);
  } else {
    quantidade = LerQuantia(campo.Valor, campo);
  }

  TInstancia* mesma = nullptr;
  for (auto& outra : instancias_) {
    if (outra.Tipo != tipo) continue;
    if (outra.Posicoes == posicoes)
      mesma = &outra;
    else if (SeCruzam(outra.Posicoes, posicoes))
      Conflito();
  }
  if (!mesma) {
    instancias_.push_back({tipo, std::move(posicoes), {}, {}, {}});
    mesma = &instancias_.back();
  }
  // One output takes each of offset and count once ("r" sets both).
  if ((inicio && mesma->Inicio) || (quantidade && mesma->Quantidade)) Conflito();
  if (inicio) mesma->Inicio = inicio;
  if (quantidade) mesma->Quantidade = quantidade;
  mesma->Janela.Inicio = mesma->Inicio.value_or(0);
  mesma->Janela.Quantidade = mesma->Quantidade;
}

const TJanelaLinhas* TFiltrosRest::Janela(TTipoFiltro tipo, std::size_t indice) const {
  for (const auto& instancia : instancias_)
    if (instancia.Tipo == tipo && Contem(instancia.Posicoes, indice)) return &instancia.Janela;
  return nullptr;
}

void TFiltrosRest::CortarTextos(std::vector<TSaidaRest>& saidas) const {
  for (std::size_t i = 0; i < saidas.size(); ++i) {
    // A text already written as JSON is read back, so it is cropped by its characters.
    if (const auto* pronto = std::get_if<TTextoJSON>(&saidas[i].Valor);
        pronto && Janela(TTipoFiltro::tfTexto, i))
      saidas[i].Valor = std::string(boost::json::parse(pronto->JSON).get_string());
    auto* texto = std::get_if<std::string>(&saidas[i].Valor);
    const TJanelaLinhas* janela = texto ? Janela(TTipoFiltro::tfTexto, i) : nullptr;
    if (janela) *texto = CortarCaracteres(*texto, janela->Inicio, janela->Quantidade);
  }
}

}  // namespace tamrix::rest

#include "rest/uRestEnvelope.h"

#include "rest/uJSONWriter.h"
#include "rest/uRestConversao.h"

namespace tamrix::rest {

namespace {

const TJanelaLinhas* JanelaTabela(const TModoResposta& modo, std::size_t indice) {
  return modo.Filtros ? modo.Filtros->Janela(TTipoFiltro::tfTabela, indice) : nullptr;
}

// Cache mode: every element is written first, as the kept ones go to the cache whole.
std::string MontarEnvelopeCache(std::vector<TSaidaRest>& saidas, const TModoResposta& modo) {
  std::vector<std::string> elementos(saidas.size());
  for (std::size_t i = 0; i < saidas.size(); ++i) {
    // A text already in its JSON form moves over: a big echo is not copied.
    if (auto* pronto = std::get_if<TTextoJSON>(&saidas[i].Valor))
      elementos[i] = std::move(pronto->JSON);
    else
      EscreverSaidaJSON(elementos[i], saidas[i], JanelaTabela(modo, i));
  }

  std::vector<TComandoCache> comandos(1);
  for (std::size_t i = 0; i < saidas.size(); ++i)
    if (GuardadoNoCache(saidas[i].Tipo))
      comandos[0].push_back({i, saidas[i].Tipo, std::move(elementos[i])});
  std::optional<std::uint64_t> id;
  if (!comandos[0].empty()) id = modo.Cache->Guardar(std::move(comandos), modo.Limites);
  if (!id)  // not kept: the values go inline
    for (auto& valor : comandos[0]) elementos[valor.Indice] = std::move(valor.JSON);

  std::string out = "{\"result\":[";
  for (std::size_t i = 0; i < saidas.size(); ++i) {
    if (i) out += ',';
    if (id && GuardadoNoCache(saidas[i].Tipo))
      EscreverTextoJSON(out, std::to_string(*id) + "/0/" + std::to_string(i));
    else
      out += elementos[i];
    std::string().swap(elementos[i]);  // so a big element is held twice at most
  }
  out += ']';
  if (id) {
    out += ",\"cacheId\":";
    out += std::to_string(*id);
    out += ",\"cmdIndex\":0";
  }
  out += '}';
  return out;
}

}  // namespace

std::string MontarEnvelopeResultado(std::vector<TSaidaRest>& saidas, const TModoResposta& modo) {
  if (modo.Filtros) modo.Filtros->CortarTextos(saidas);
  if (modo.Cache) return MontarEnvelopeCache(saidas, modo);
  constexpr std::string_view kInicio = "{\"result\":[";
  std::string out;
  std::size_t i = 0;
  if (auto* pronto = saidas.empty() ? nullptr : std::get_if<TTextoJSON>(&saidas[0].Valor)) {
    // A text already written as JSON becomes the answer in its own buffer: a big one is
    // never copied (its maker leaves room for the envelope).
    out = std::move(pronto->JSON);
    out.insert(0, kInicio);
    i = 1;
  } else {
    out = kInicio;
  }
  for (; i < saidas.size(); ++i) {
    if (i) out += ',';
    EscreverSaidaJSON(out, saidas[i], JanelaTabela(modo, i));
  }
  out += "]}";
  return out;
}

std::string MontarEnvelopeErro(std::string_view mensagem) {
  std::string out = "{\"error\":";
  EscreverTextoJSON(out, mensagem);
  out += '}';
  return out;
}

}  // namespace tamrix::rest

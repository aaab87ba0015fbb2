#include "rest/uRestCacheRequisicao.h"

#include <charconv>
#include <optional>
#include <string>
#include <vector>

#include "rest/uJSONWriter.h"
#include "rest/uRestConversao.h"
#include "rest/uRestEnvelope.h"

namespace tamrix::rest {

namespace {

using util::TWebRequest;
using util::TWebResponse;

// More digits than any id a session reaches: longer ones do not parse.
constexpr std::size_t kMaximoDigitos = 18;

// The numbers of the path, or nullopt when it does not parse: at most three non-negative
// decimal segments, one trailing '/' allowed.
std::optional<std::vector<std::uint64_t>> LerCaminho(std::string_view caminho) {
  std::vector<std::uint64_t> numeros;
  if (!caminho.empty() && caminho.front() == '/') caminho.remove_prefix(1);
  if (!caminho.empty() && caminho.back() == '/') caminho.remove_suffix(1);
  if (caminho.empty()) return numeros;
  for (;;) {
    const std::size_t barra = caminho.find('/');
    const std::string_view seg = caminho.substr(0, barra);
    std::uint64_t v = 0;
    if (seg.empty() || seg.size() > kMaximoDigitos ||
        seg.find_first_not_of("0123456789") != std::string_view::npos)
      return std::nullopt;
    std::from_chars(seg.data(), seg.data() + seg.size(), v);
    numeros.push_back(v);
    if (barra == std::string_view::npos) break;
    caminho.remove_prefix(barra + 1);
  }
  if (numeros.size() > 3) return std::nullopt;
  return numeros;
}

void EscreverParametros(std::string& out, const TComandoCache& comando) {
  out += "{\"parameters\":[";
  for (std::size_t i = 0; i < comando.size(); ++i) {
    if (i) out += ',';
    out += "{\"paramIndex\":";
    out += std::to_string(comando[i].Indice);
    out += ",\"type\":";
    EscreverTextoJSON(out, NomeTipoRest(comando[i].Tipo));
    out += ",\"bytes\":";
    out += std::to_string(comando[i].JSON.size());
    out += '}';
  }
  out += "]}";
}

void EscreverComandos(std::string& out, const TEntradaCache& entrada) {
  out += "{\"commands\":[";
  for (std::size_t i = 0; i < entrada.Comandos.size(); ++i) {
    if (i) out += ',';
    EscreverParametros(out, entrada.Comandos[i]);
  }
  out += "]}";
}

void Erro(TWebResponse& r, const std::string& mensagem) {
  r.StatusCode = 500;
  r.Content = MontarEnvelopeErro(mensagem);
}

std::string SemItem(std::uint64_t id) {
  return "There is no cached item with ID: " + std::to_string(id);
}

void AtenderGet(TRestCache& cache, const std::vector<std::uint64_t>& n, TWebResponse& r) {
  if (n.empty()) {
    std::string out = "{";
    bool primeiro = true;
    for (const auto& [id, entrada] : cache.Entradas()) {
      if (!primeiro) out += ',';
      primeiro = false;
      EscreverTextoJSON(out, std::to_string(id));
      out += ':';
      EscreverComandos(out, *entrada);
    }
    out += '}';
    r.Content = std::move(out);
    return;
  }
  const auto entrada = cache.Procurar(n[0]);
  if (!entrada) return Erro(r, SemItem(n[0]));
  if (n.size() == 1) return EscreverComandos(r.Content, *entrada);

  const TComandoCache* comando =
      n[1] < entrada->Comandos.size() ? &entrada->Comandos[n[1]] : nullptr;
  if (n.size() == 2) {
    if (!comando)
      return Erro(r, "Não há comando " + std::to_string(n[1]) + " no item de cache " +
                         std::to_string(n[0]) + ".");
    return EscreverParametros(r.Content, *comando);
  }
  if (comando)
    for (const auto& valor : *comando)
      if (valor.Indice == n[2]) {
        std::string out;
        out.reserve(valor.JSON.size() + 11);
        out += "{\"result\":";
        out += valor.JSON;
        out += '}';
        r.Content = std::move(out);
        return;
      }
  Erro(r, "There is no parameter for command " + std::to_string(n[1]) + ", parameter index " +
              std::to_string(n[2]) + ".");
}

}  // namespace

void AtenderPedidoCache(TRestCache& cache, const TWebRequest& req, std::string_view caminho,
                        TWebResponse& resposta) {
  resposta.StatusCode = 200;
  resposta.ReasonString.clear();
  resposta.ContentType.clear();
  resposta.Content.clear();
  resposta.ContentStream.reset();
  const bool apagar = req.Method == "DELETE" || req.MethodType == util::TMethodType::mtDelete;
  if (!apagar && req.MethodType != util::TMethodType::mtGet) {
    resposta.StatusCode = 501;
    resposta.Content = "Command " + req.Method +
                       " in request is not supported. Accepted commands are: GET, POST, PUT and "
                       "DELETE";
    return;
  }
  const auto numeros = LerCaminho(caminho);
  if (!numeros || (apagar && numeros->size() > 1)) {
    resposta.StatusCode = 400;
    resposta.ReasonString = "Invalid request format. (" + req.RawPathInfo + ")";
    return;
  }
  if (!apagar) return AtenderGet(cache, *numeros, resposta);
  if (numeros->empty())
    cache.Limpar();
  else if (!cache.Remover(numeros->front()))
    return Erro(resposta, SemItem(numeros->front()));
  resposta.Content = R"({"result":[true]})";
}

}  // namespace tamrix::rest

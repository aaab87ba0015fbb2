#include "web/uwmAdministracao.h"

#include <memory>
#include <string_view>
#include <utility>

#include "diagnostics/uMetricas.h"
#include "rest/uJSONWriter.h"

namespace tamrix::web {

namespace {

constexpr std::string_view kTipoJSON = "application/json; charset=utf-8";

void ResponderJSON(util::TWebResponse& r, int status, std::string corpo) {
  r.StatusCode = status;
  r.ContentType = std::string(kTipoJSON);
  r.Content = std::move(corpo);
  // A probe must see the state of now, never a copy kept on the way.
  r.SetCustomHeader("Cache-Control", "no-store");
}

std::string CorpoStatus(std::string_view status, std::string_view motivo = {}) {
  std::string s = "{\"status\":";
  rest::EscreverTextoJSON(s, status);
  if (!motivo.empty()) {
    s += ",\"motivo\":";
    rest::EscreverTextoJSON(s, motivo);
  }
  s += '}';
  return s;
}

void ResponderProntidao(const TProntidao& p, util::TWebResponse& r) {
  switch (p.Estado) {
    case TProntidao::TEstado::Pronto:
      ResponderJSON(r, 200, CorpoStatus("pronto"));
      return;
    case TProntidao::TEstado::Encerrando:
      ResponderJSON(r, 503, CorpoStatus("encerrando", p.Motivo));
      return;
    case TProntidao::TEstado::Indisponivel:
      ResponderJSON(r, 503, CorpoStatus("indisponivel", p.Motivo));
      return;
  }
}

}  // namespace

TwmAdministracao::TwmAdministracao(TwmAdministracaoConfig config) : config_(std::move(config)) {}

TWebModuleFactory TwmAdministracao::Fabrica(TwmAdministracaoConfig config) {
  return [config = std::move(config)] {
    return std::unique_ptr<TWebModuleBase>(std::make_unique<TwmAdministracao>(config));
  };
}

bool TwmAdministracao::HandleRequest(util::TWebRequest& request, util::TWebResponse& response) {
  const std::string& caminho = request.PathInfo;
  const bool conhecido = caminho == "/live" || caminho == "/ready" || caminho == "/metrics";
  if (!conhecido) {
    ResponderJSON(response, 404,
                  CorpoStatus("erro",
                              "caminho não encontrado: use /live, /ready "
                              "ou /metrics"));
    return true;
  }
  if (request.Method != "GET" && request.Method != "HEAD") {
    ResponderJSON(response, 405, CorpoStatus("erro", "método não permitido: use GET"));
    response.SetCustomHeader("Allow", "GET, HEAD");
    return true;
  }
  if (caminho == "/live") {
    ResponderJSON(response, 200, CorpoStatus("vivo"));
  } else if (caminho == "/ready") {
    if (config_.Prontidao)
      ResponderProntidao(config_.Prontidao(), response);
    else
      ResponderJSON(response, 503, CorpoStatus("indisponivel", "prontidão não configurada"));
  } else {
    response.StatusCode = 200;
    response.ContentType = "text/plain; version=0.0.4; charset=utf-8";
    response.Content = diagnostics::metricas::Texto();
    response.SetCustomHeader("Cache-Control", "no-store");
  }
  return true;
}

}  // namespace tamrix::web

#include "web/uwmServidor.h"

#include <mutex>

#include "util/uCaixaTexto.h"
#include "util/uDataHora.h"
#include "util/uSistema.h"
#include "util/uUTF16.h"

namespace tamrix::web {

namespace fs = std::filesystem;
using util::TWebRequest;
using util::TWebResponse;

namespace {

// Text safe inside HTML: markup characters as entities and every non-ASCII character as a
// numeric reference, so the page shows the same whatever charset it travels in.
std::string CodificarHTML(std::string_view utf8) {
  std::string out;
  const std::u16string unidades = util::ConverterParaUTF16(utf8);
  for (std::size_t i = 0; i < unidades.size(); ++i) {
    char32_t c = unidades[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < unidades.size())  // a valid pair, by conversion
      c = 0x10000 + ((c - 0xD800) << 10) + (unidades[++i] - 0xDC00);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if (c < 0x80)
          out += static_cast<char>(c);
        else
          out += "&#" + std::to_string(static_cast<unsigned long>(c)) + ";";
    }
  }
  return out;
}

void LimparResposta(TWebResponse& r) {
  r.Content.clear();
  r.ContentStream.reset();
  r.ContentType.clear();
  r.ReasonString.clear();
  r.Location.clear();
  r.LastModified.reset();
}

// Regenerations of serverfunctions.js by different instances wait for each other, so one
// request does not generate again what another has just written.
std::mutex gMutexGeracao;

}  // namespace

TwmServidor::TwmServidor(TwmServidorConfig config)
    : config_(std::move(config)),
      raiz_(config_.PastaRaiz.empty() ? fs::path(util::PastaExecutavel()) : config_.PastaRaiz),
      serverFunctionInvoker_(raiz_ / "templates" / "ServerFunctionInvoker.html"),
      reverseString_(raiz_ / "templates" / "ReverseString.html"),
      webFileDispatcher_(
          raiz_, [this](const fs::path& arquivo) { WebFileDispatcherBeforeDispatch(arquivo); }),
      restProxyDispatcher_(webFileDispatcher_) {}

TWebModuleFactory TwmServidor::Fabrica(TwmServidorConfig config) {
  return [config = std::move(config)] {
    return std::unique_ptr<TWebModuleBase>(std::make_unique<TwmServidor>(config));
  };
}

bool TwmServidor::EhRequisicaoLocal(const TWebRequest& request) {
  const auto& a = request.RemoteAddr;
  return a == "127.0.0.1" || a == "0:0:0:0:0:0:0:1" || a == "::1";
}

bool TwmServidor::HandleRequest(TWebRequest& request, TWebResponse& response) {
  if (response.Sent) return true;
  WebModuleBeforeDispatch(request);
  try {
    if (!DespacharAcoes(request, response) && !DespacharComponentes(request, response))
      WebModuleDefaultAction(request, response);
  } catch (const std::exception& e) {
    LimparResposta(response);
    response.StatusCode = 500;
    response.Content = "<html><body><h1>Internal Application Error</h1>\r\n<p>" +
                       CodificarHTML(e.what()) + "\r\n<p><hr width=\"100%\"><i>" +
                       CodificarHTML(request.PathInfo) + "</i></body></html>";
  }
  return true;
}

void TwmServidor::OnRequestDone() noexcept {
  if (config_.AoTerminarChamada) config_.AoTerminarChamada();
}

void TwmServidor::WebModuleBeforeDispatch(const TWebRequest& request) {
  invokerHabilitado_ = EhRequisicaoLocal(request);
}

bool TwmServidor::DespacharAcoes(const TWebRequest& request, TWebResponse& response) {
  const std::string& caminho = request.PathInfo;
  if (util::TextoIgualSemCaixa(caminho, "/ReverseString")) {
    ResponderPagina(reverseString_, request, response);
    return true;
  }
  if (invokerHabilitado_ && util::TextoIgualSemCaixa(caminho, "/ServerFunctionInvoker")) {
    ResponderPagina(serverFunctionInvoker_, request, response);
    return true;
  }
  if (caminho.empty() || caminho == "/") {
    WebModuleDefaultAction(request, response);
    return true;
  }
  return false;
}

bool TwmServidor::DespacharComponentes(TWebRequest& request, TWebResponse& response) {
  if (config_.RestHTTPWebDispatcher &&
      util::MinusculasASCII(request.PathInfo).starts_with("/tamrix")) {
    try {
      if (config_.RestHTTPWebDispatcher(request, response)) {
        ProtegerRespostaRest(response);
        return true;
      }
    } catch (...) {
      // The protocol answers its own failures; one that escapes it gets no body.
      LimparResposta(response);
      response.StatusCode = 500;
      ProtegerRespostaRest(response);
      return true;
    }
  }
  return webFileDispatcher_.Dispatch(request, response) ||
         restProxyDispatcher_.Dispatch(request, response);
}

void TwmServidor::ProtegerRespostaRest(TWebResponse& response) {
  // REST and cache answers may echo what the caller sent (a method name, a text to reverse):
  // a browser must never run or sniff them as a page.
  response.SetCustomHeader("Content-Security-Policy", "default-src 'none'");
  response.SetCustomHeader("X-Content-Type-Options", "nosniff");
}

void TwmServidor::WebModuleDefaultAction(const TWebRequest& request, TWebResponse& response) {
  if (request.PathInfo.empty() || request.PathInfo == "/")
    ResponderPagina(reverseString_, request, response);
  else
    response.SendRedirect("/");  // the script name is always empty
}

void TwmServidor::ResponderPagina(const TPageProducer& pagina, const TWebRequest& request,
                                  TWebResponse& response) const {
  response.Content = pagina.Content([&](std::string_view tag, std::string_view) {
    return ServerFunctionInvokerHTMLTag(request, tag);
  });
}

std::string TwmServidor::ServerFunctionInvokerHTMLTag(const TWebRequest& request,
                                                      std::string_view tag) const {
  auto eh = [&](std::string_view nome) { return util::TextoIgualSemCaixa(tag, nome); };
  // The script name is always empty with this listener, so "urlpath" gives nothing.
  if (eh("port")) return CodificarHTML(request.ServerPort);
  if (eh("host")) return CodificarHTML(request.Host);
  // The scheme the page came over, so its client calls back the same way.
  if (eh("protocol")) return request.Scheme == "https" ? "https:" : "http:";
  if (eh("classname")) return "TsmBase";
  if (eh("loginrequired")) return config_.TemGerenciadorAutenticacao ? "true" : "false";
  if (eh("serverfunctionsjs")) return "/js/serverfunctions.js";
  if (eh("servertime")) return util::DataHoraAtual();
  if (eh("serverfunctioninvoker") && EhRequisicaoLocal(request))
    return "<div><a href=\"/ServerFunctionInvoker\" target=\"_blank\">Server Functions</a></div>";
  return {};
}

fs::file_time_type TwmServidor::DataDoExecutavel() const {
  if (config_.DataExecutavel) return config_.DataExecutavel();
  return fs::last_write_time("/proc/self/exe");
}

void TwmServidor::WebFileDispatcherBeforeDispatch(const fs::path& arquivo) const {
  // Only the library's own place is ever written; any other path is served or refused as
  // the file it names.
  std::error_code erro;
  if (arquivo != fs::weakly_canonical(fs::absolute(raiz_ / "js" / "serverfunctions.js"), erro))
    return;
  // A folder that does not exist is not created for a request: that answer is 404.
  if (!fs::is_directory(arquivo.parent_path(), erro)) return;
  std::lock_guard trava(gMutexGeracao);
  auto atual = fs::last_write_time(arquivo, erro);
  if (!erro && atual >= DataDoExecutavel()) return;
  restProxyGenerator_.GravarArquivo(arquivo, config_.RestServerMetaDataProvider
                                                 ? config_.RestServerMetaDataProvider()
                                                 : std::vector<TProxyClass>{});
}

}  // namespace tamrix::web

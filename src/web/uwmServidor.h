// The server's web module: turns one HTTP request into one answer. Routes, in order: the
// pages "/ReverseString" and "/ServerFunctionInvoker" (local clients only) and "/", then
// the REST protocol under /tamrix, the static files, the client-library archives, and a
// redirect to "/" for everything else.
#ifndef TAMRIX_WEB_UWMSERVIDOR_H
#define TAMRIX_WEB_UWMSERVIDOR_H

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "util/uWebMessages.h"
#include "web/uPageProducer.h"
#include "web/uRestProxyDispatcher.h"
#include "web/uRestProxyGenerator.h"
#include "web/uWebFileDispatcher.h"
#include "web/uWebModuleBase.h"

namespace tamrix::web {

// The REST protocol's entry: answers a request under /tamrix and returns whether it did.
using TDespachanteRest = std::function<bool(util::TWebRequest&, util::TWebResponse&)>;

// What a web-module instance is made with; shared by all instances of the pool.
struct TwmServidorConfig {
  // Folder whose files, "templates", "js" and "proxy" are served; empty: the executable's.
  std::filesystem::path PastaRaiz;
  // Paths beginning with /tamrix go here; empty: they are not answered (redirect to "/").
  TDespachanteRest RestHTTPWebDispatcher;
  // The registered server classes, described for js/serverfunctions.js.
  std::function<std::vector<TProxyClass>()> RestServerMetaDataProvider;
  // Modification time of the executable; empty: that of the running program file.
  std::function<std::filesystem::file_time_type()> DataExecutavel;
  // Value of the tag "loginrequired": the REST dispatcher has an authentication manager.
  bool TemGerenciadorAutenticacao = true;
  // Runs at the end of every call (after the answer went out); must not throw.
  std::function<void()> AoTerminarChamada;
};

class TwmServidor : public TWebModuleBase {
 public:
  explicit TwmServidor(TwmServidorConfig config);

  // A factory for the request pool that makes instances with config.
  static TWebModuleFactory Fabrica(TwmServidorConfig config);

  // Answers every request (always returns true), unless the answer was already sent. An
  // exception of a page or of the file server becomes the 500 "Internal Application Error"
  // page; one that escapes the REST dispatcher becomes 500 without a body.
  bool HandleRequest(util::TWebRequest& request, util::TWebResponse& response) override;
  void OnRequestDone() noexcept override;

  // Whether the request comes from this machine ("127.0.0.1", "0:0:0:0:0:0:0:1", "::1").
  static bool EhRequisicaoLocal(const util::TWebRequest& request);

 private:
  void WebModuleBeforeDispatch(const util::TWebRequest& request);
  bool DespacharAcoes(const util::TWebRequest& request, util::TWebResponse& response);
  bool DespacharComponentes(util::TWebRequest& request, util::TWebResponse& response);
  void WebModuleDefaultAction(const util::TWebRequest& request, util::TWebResponse& response);
  static void ProtegerRespostaRest(util::TWebResponse& response);
  void ResponderPagina(const TPageProducer& pagina, const util::TWebRequest& request,
                       util::TWebResponse& response) const;
  std::string ServerFunctionInvokerHTMLTag(const util::TWebRequest& request,
                                           std::string_view tag) const;
  void WebFileDispatcherBeforeDispatch(const std::filesystem::path& arquivo) const;
  std::filesystem::file_time_type DataDoExecutavel() const;

  TwmServidorConfig config_;
  std::filesystem::path raiz_;
  TPageProducer serverFunctionInvoker_;
  TPageProducer reverseString_;
  TWebFileDispatcher webFileDispatcher_;
  TRestProxyGenerator restProxyGenerator_;
  TRestProxyDispatcher restProxyDispatcher_;
  bool invokerHabilitado_ = false;  // set per request by the before-dispatch hook
};

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UWMSERVIDOR_H

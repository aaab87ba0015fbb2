#include "app/uInicializacao.h"

#include <algorithm>

#include "config/uConfigServidor.h"
#include "core/uBloqueioLogin.h"
#include "core/uConfigBD.h"
#include "core/uEventosServRest.h"
#include "diagnostics/uLogServidor.h"
#include "endpoints/uRegistroEndpoints.h"
#include "integration/usmIntegracaoArquivo.h"
#include "rest/uRestHTTPWebDispatcher.h"
#include "web/uRequestPool.h"
#include "web/uRestServerMetaDataProvider.h"
#include "web/uwmServidor.h"

namespace tamrix::app {

namespace {

// The REST protocol's entry for the web module. The dispatcher is only two references, so
// each call makes its own over the data module alive at that moment.
bool DespacharRest(util::TWebRequest& req, util::TWebResponse& resposta) {
  rest::TRestServer* servidor = core::PegarRestServer();
  if (servidor == nullptr) return false;
  rest::TRestHTTPWebDispatcher despachante(*servidor, core::PegarRestAuthenticationManager());
  return despachante.DispatchRequest(req, resposta);
}

web::TwmServidorConfig ConfigWebModule(const rest::TRestServer& servidor) {
  web::TwmServidorConfig c;
  c.RestHTTPWebDispatcher = DespacharRest;
  c.RestServerMetaDataProvider = web::RestServerMetaDataProvider(servidor);
  c.TemGerenciadorAutenticacao = core::PegarRestAuthenticationManager() != nullptr;
  return c;
}

}  // namespace

core::TOpcoesDmServidor OpcoesDmServidor() {
  endpoints::TClassesServidor classes =
      endpoints::ClassesServidor(integration::TsmIntegracaoArquivo::Tabela());
  core::TOpcoesDmServidor o;
  o.ClasseBase = std::move(classes.ClasseBase);
  o.Classes = std::move(classes.Classes);
  const auto& config = config::TConfigServidorSingleton::GetInstance();
  o.OpcoesRestServer.LimitesCache.MaximoEntradas =
      static_cast<std::size_t>(config.CacheMaximoEntradas());
  o.OpcoesRestServer.LimitesCache.MaximoBytes =
      static_cast<std::uint64_t>(config.CacheMaximoBytes());
  return o;
}

TInicializacao::TInicializacao() {
  const auto& config = config::TConfigServidorSingleton::GetInstance();
  diagnostics::TLogServidorSingleton::GetInstance();
  core::TEventosServRestSingleton::GetInstance();
  core::TConfigBDSingleton::GetInstance();
  FoDmServidor = std::make_unique<core::TdmServidor>(OpcoesDmServidor());
  web::WebRequestHandler().Configurar(static_cast<std::size_t>(config.MaximoInstancias()),
                                      std::chrono::milliseconds(config.EsperaInstancia()));
  web::WebRequestHandler().SetWebModuleClass(
      web::TwmServidor::Fabrica(ConfigWebModule(FoDmServidor->RestServer())));
  core::TRegrasBloqueioLogin regras;
  regras.Tentativas = config.TentativasLogin();
  regras.Bloqueio = std::chrono::seconds(config.BloqueioLogin());
  regras.BloqueioMaximo = std::max(regras.BloqueioMaximo, regras.Bloqueio);
  core::TBloqueioLoginSingleton::GetInstance().Configurar(regras);
}

TInicializacao::~TInicializacao() {
  // The directory and the events writer hold the main connection, which goes with the data
  // module.
  core::TConfigBDSingleton::GetInstance().SetConexaoBD(nullptr);
  core::TEventosServRestSingleton::GetInstance().DefinirConexao(nullptr);
  FoDmServidor.reset();
  core::TConfigBDSingleton::ReleaseInstance();
  core::TEventosServRestSingleton::ReleaseInstance();
  core::TBloqueioLoginSingleton::ReleaseInstance();
  diagnostics::TLogServidorSingleton::ReleaseInstance();
  config::TConfigServidorSingleton::ReleaseInstance();
}

}  // namespace tamrix::app

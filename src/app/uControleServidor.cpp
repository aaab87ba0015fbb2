#include "app/uControleServidor.h"

#include "config/uConfigServidor.h"
#include "core/udmServidor.h"
#include "diagnostics/uExcecoes.h"
#include "util/uConversaoNumero.h"

namespace tamrix::app {

std::unique_ptr<web::THTTPListener> CriarServidorHTTP() {
  const auto& config = config::TConfigServidorSingleton::GetInstance();
  web::THTTPListenerSettings s;
  s.TempoLeitura = std::chrono::seconds(config.TempoLeitura());
  s.TempoEscrita = std::chrono::seconds(config.TempoEscrita());
  s.TamanhoMaximoCorpo = static_cast<std::uint64_t>(config.TamanhoMaximoCorpo());
  s.TamanhoMaximoCabecalho = static_cast<std::size_t>(config.TamanhoMaximoCabecalho());
  s.MaximoConexoes = static_cast<std::size_t>(config.MaximoConexoes());
  s.MaximoConexoesPorIP = static_cast<std::size_t>(config.MaximoConexoesPorIP());
  auto servidor = std::make_unique<web::THTTPListener>();
  servidor->SetSettings(s);
  return servidor;
}

std::uint16_t PortaDeTexto(const std::string& pspPorta) {
  std::int32_t porta = 0;
  if (!util::TentarTextoParaInteiro(pspPorta, porta))
    throw diagnostics::Exception("'" + pspPorta + "' não é um número inteiro válido.");
  if (porta < 1 || porta > 65535)
    throw diagnostics::Exception("A porta " + std::to_string(porta) +
                                 " é inválida: use um número de 1 a 65535.");
  return static_cast<std::uint16_t>(porta);
}

bool IniciarServidorHTTP(web::THTTPListener& poServer, const std::string& pspPorta) {
  if (!poServer.Active()) {
    poServer.Bindings().clear();
    poServer.SetDefaultPort(PortaDeTexto(pspPorta));
    poServer.SetActive(true);
  }
  return core::dmServidor->IniciarServidor();
}

void PararServidorHTTP(web::THTTPListener& poServer) {
  if (rest::TRestServer* rest = core::PegarRestServer()) rest->Sessoes().TerminarTodasSessoes();
  poServer.SetActive(false);
  poServer.Bindings().clear();
  core::dmServidor->PararServidor();
}

}  // namespace tamrix::app

#include "app/uControleServidor.h"

#include <filesystem>
#include <memory>

#include "config/uConfigServidor.h"
#include "core/uConfigBD.h"
#include "core/uEventosServRest.h"
#include "core/udmServidor.h"
#include "diagnostics/uExcecoes.h"
#include "diagnostics/uLogServidor.h"
#include "diagnostics/uTraduzirErro.h"
#include "util/uConversaoNumero.h"
#include "util/uDataHora.h"
#include "util/uSistema.h"

namespace tamrix::app {

namespace {

// A configured file; a relative path lies beside the executable.
std::filesystem::path ArquivoHTTPS(const std::string& texto) {
  const std::filesystem::path p(texto);
  if (texto.empty() || p.is_absolute()) return p;
  return std::filesystem::path(util::PastaExecutavel()) / p;
}

// The configured HTTPS port and a context from the configured pair; none when off.
void ConfigurarHTTPS(web::THTTPListener& servidor) {
  const auto& config = config::TConfigServidorSingleton::GetInstance();
  if (config.PortaHTTPS() <= 0) {
    servidor.SetTLS(0, nullptr);
    return;
  }
  servidor.SetTLS(static_cast<std::uint16_t>(config.PortaHTTPS()),
                  std::make_shared<web::TContextoTLS>(ArquivoHTTPS(config.CertificadoHTTPS()),
                                                      ArquivoHTTPS(config.ChavePrivadaHTTPS())));
}

}  // namespace

std::unique_ptr<web::THTTPListener> CriarServidorHTTP(bool semJanela) {
  const auto& config = config::TConfigServidorSingleton::GetInstance();
  web::THTTPListenerSettings s;
  s.TempoLeitura = std::chrono::seconds(config.TempoLeitura());
  s.TempoEscrita = std::chrono::seconds(config.TempoEscrita());
  s.TamanhoMaximoCorpo = static_cast<std::uint64_t>(config.TamanhoMaximoCorpo());
  s.TamanhoMaximoCabecalho = static_cast<std::size_t>(config.TamanhoMaximoCabecalho());
  s.MaximoConexoes = static_cast<std::size_t>(config.MaximoConexoes());
  s.MaximoConexoesPorIP = static_cast<std::size_t>(config.MaximoConexoesPorIP());
  s.LogAcesso = config.LogAcesso(semJanela);
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
    ConfigurarHTTPS(poServer);
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

std::string RecarregarDiretorioBancos() {
  try {
    const std::size_t tokens = core::TConfigBDSingleton::GetInstance().Recarregar();
    const std::string texto =
        "Diretório de bancos recarregado (" + std::to_string(tokens) + " tokens).";
    diagnostics::GravarLog(util::DataHoraAtual() + " - " + texto, diagnostics::tlNormal);
    core::TEventosServRestSingleton::GetInstance().InserirEvento(texto);
    return texto;
  } catch (const std::exception& e) {
    const std::string texto =
        "O diretório de bancos não foi recarregado; segue em uso a cópia anterior. Motivo: " +
        diagnostics::TraduzirErro(e);
    diagnostics::GravarLog(texto, diagnostics::tlErro);
    core::TEventosServRestSingleton::GetInstance().InserirEventoErro(texto);
    return texto;
  }
}

std::string RecarregarCertificadoHTTPS(web::THTTPListener& poServer) {
  const auto& contexto = poServer.ContextoTLS();
  if (!contexto || poServer.PortaTLS() == 0) return {};
  const auto& config = config::TConfigServidorSingleton::GetInstance();
  try {
    contexto->Recarregar(ArquivoHTTPS(config.CertificadoHTTPS()),
                         ArquivoHTTPS(config.ChavePrivadaHTTPS()));
    const std::string texto = "Certificado HTTPS recarregado.";
    diagnostics::GravarLog(util::DataHoraAtual() + " - " + texto, diagnostics::tlNormal);
    core::TEventosServRestSingleton::GetInstance().InserirEvento(texto);
    return texto;
  } catch (const std::exception& e) {
    const std::string texto =
        "O certificado HTTPS não foi recarregado; segue em uso o anterior. Motivo: " +
        diagnostics::MensagemExcecao(e);
    diagnostics::GravarLog(texto, diagnostics::tlErro);
    core::TEventosServRestSingleton::GetInstance().InserirEventoErro(texto);
    return texto;
  }
}

}  // namespace tamrix::app

#include "app/uProntidao.h"

#include <atomic>
#include <exception>

#include "config/uEmbaralharTexto.h"
#include "db/uDBConnectionParams.h"
#include "db/uDBQuery.h"
#include "diagnostics/uTraduzirErro.h"
#include "rest/uRestServer.h"
#include "util/uSistema.h"

namespace tamrix::app {

namespace {

std::atomic<bool> encerrando{false};

using TEstado = web::TProntidao::TEstado;

}  // namespace

void MarcarEncerramento() {
  encerrando.store(true);
}

bool Encerrando() {
  return encerrando.load();
}

db::TDBConnectionParams ParametrosBancoPrincipal(const config::TConfigServidor& config) {
  db::TDBConnectionParams p;
  p.SetValue(db::params::kDriverID, "MSSQL");
  p.SetValue(db::params::kServer, config.Instancia().empty()
                                      ? config.Host()
                                      : config.Host() + "\\" + config.Instancia());
  p.SetValue(db::params::kDatabase, config.Database());
  p.SetValue(db::params::kUserName, config::EmbaralharTexto(config.UsuarioBD(), false));
  p.SetValue(db::params::kPassword, config::EmbaralharTexto(config.SenhaBD(), false));
  p.SetValue(db::params::kApplicationName, "TamrixRestServer");
  p.SetValue(db::params::kWorkstation,
             util::PegarNomeEstacao() + " - TamrixRestServer (prontidão)");
  if (!config.Driver().empty()) p.SetValue(db::params::kDriver, config.Driver());
  if (config.PortaBD() > 0) p.SetValue(db::params::kPorta, std::to_string(config.PortaBD()));
  p.SetValue(db::params::kLoginTimeout, std::to_string(config.TempoConexao()));
  // A database that hangs after the connect must not hold the checker, nor the exit that
  // joins it.
  p.SetValue(db::params::kQueryTimeout, "3");
  return p;
}

TVerificadorProntidao::TVerificadorProntidao(db::TDBConnectionParams params) {
  conexao_.Params() = std::move(params);
  thread_ = std::thread([this] { Executar(); });
}

TVerificadorProntidao::~TVerificadorProntidao() {
  {
    std::lock_guard lock(mutex_);
    parar_ = true;
  }
  acordar_.notify_all();
  thread_.join();
}

web::TProntidao TVerificadorProntidao::Estado() const {
  if (Encerrando()) return {TEstado::Encerrando, "o servidor está encerrando."};
  if (!rest::TRestServer::AlgumIniciado())
    return {TEstado::Indisponivel, "o servidor REST não está iniciado."};
  std::lock_guard lock(mutex_);
  if (verificando_) {
    const auto espera = std::chrono::steady_clock::now() - inicioVerificacao_;
    if (espera >= kSemResposta)
      return {TEstado::Indisponivel,
              "banco principal não responde há " +
                  std::to_string(std::chrono::duration_cast<std::chrono::seconds>(espera).count()) +
                  " s."};
  }
  if (!temResultado_) return {TEstado::Indisponivel, "verificando o banco principal."};
  if (!falha_.empty()) return {TEstado::Indisponivel, "banco principal não responde: " + falha_};
  return {TEstado::Pronto, {}};
}

void TVerificadorProntidao::Executar() {
  std::unique_lock lock(mutex_);
  bool vistoIniciado = false;
  while (!parar_) {
    if (!rest::TRestServer::AlgumIniciado()) {
      vistoIniciado = false;
      temResultado_ = false;
      lock.unlock();
      conexao_.Close();  // a stopped server keeps no connection of ours
      lock.lock();
      acordar_.wait_for(lock, kIntervalo, [&] { return parar_; });
      continue;
    }
    // The start sequence sets the driver manager up before its first connection; one turn
    // later, ours cannot come first.
    if (!vistoIniciado) {
      vistoIniciado = true;
      acordar_.wait_for(lock, kIntervalo, [&] { return parar_; });
      continue;
    }
    verificando_ = true;
    inicioVerificacao_ = std::chrono::steady_clock::now();
    const auto proxima = inicioVerificacao_ + kIntervalo;
    lock.unlock();
    std::string falha = Consultar();
    lock.lock();
    verificando_ = false;
    temResultado_ = true;
    falha_ = std::move(falha);
    acordar_.wait_until(lock, proxima, [&] { return parar_; });
  }
  lock.unlock();
  conexao_.Close();
}

std::string TVerificadorProntidao::Consultar() {
  try {
    // A connection the server dropped (a database restart) is opened again.
    if (!conexao_.Connected()) {
      conexao_.Close();
      conexao_.Open();
    }
    db::TDBQuery q(&conexao_);
    q.SetSQL("SELECT 1");
    q.Open();
    q.Close();
    return {};
  } catch (const std::exception& e) {
    std::string falha = diagnostics::TraduzirErro(e);
    try {
      conexao_.Close();
    } catch (const std::exception&) {
      // Already gone with the server; the next turn opens a new one.
    }
    return falha.empty() ? std::string("erro sem descrição.") : falha;
  }
}

}  // namespace tamrix::app

// A data module started on copies of the test main database and of tenant 1, registering
// the given server classes, and its REST dispatcher. Requests are served from a thread of
// their own, as the listener does, so each call gets the per-thread tenant connection.
#ifndef TAMRIX_TESTS_SUPPORT_SERVIDORTESTE_H
#define TAMRIX_TESTS_SUPPORT_SERVIDORTESTE_H

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "config/uConfigServidor.h"
#include "core/udmServidor.h"
#include "diagnostics/uLogServidor.h"
#include "endpoints/uRegistroEndpoints.h"
#include "rest/uRestHTTPWebDispatcher.h"
#include "support/pgtest.h"
#include "util/uWebMessages.h"

namespace tamrix::teste {

class TServidorTeste {
 public:
  // Runs on the fresh copies (main, tenant) before the data module starts.
  using TPreparar = std::function<void(const std::string& main, const std::string& tenant)>;

  // nomeLog names the log file (in the temporary folder, with the process id). token, when
  // not empty, is registered in ConfigBD for the tenant copy.
  TServidorTeste(const std::string& nomeLog, const std::string& token,
                 endpoints::TClassesServidor classes, const TPreparar& preparar = {})
      : main_(pgtest::Env()->mainTemplate),
        tenant_(pgtest::Env()->tenant1Template),
        log_((std::filesystem::temp_directory_path() /
              (nomeLog + "-" + std::to_string(::getpid()) + ".txt"))
                 .string()) {
    const auto* env = pgtest::Env();
    if (preparar) preparar(main_.Name(), tenant_.Name());
    if (!token.empty())
      pgtest::Exec(main_.Name(), "INSERT INTO ConfigBD VALUES ('" + token +
                                     "', '127.0.0.1', NULL, '" + tenant_.Name() + "', '" +
                                     env->userScrambled + "', '" + env->passwordScrambled + "')");
    diagnostics::TLogServidorSingleton::GetInstance().DefinirArquivo(log_);
    auto& config = config::TConfigServidorSingleton::GetInstance();
    config.SetHost(env->host);
    config.SetInstancia("");
    config.SetDatabase(main_.Name());
    config.SetUsuarioBD(env->userScrambled);
    config.SetSenhaBD(env->passwordScrambled);
    config.SetDriver("PostgreSQL");
    config.SetPortaBD(std::stoi(env->port));

    core::TOpcoesDmServidor o;
    o.Classes = std::move(classes.Classes);
    o.ClasseBase = std::move(classes.ClasseBase);
    dm_ = std::make_unique<core::TdmServidor>(std::move(o));
    iniciado_ = dm_->IniciarServidor();
    dispatcher_ = std::make_unique<rest::TRestHTTPWebDispatcher>(dm_->RestServer(),
                                                                 &dm_->RestAuthenticationManager());
  }
  ~TServidorTeste() {
    dispatcher_.reset();
    if (dm_) dm_->PararServidor();
    dm_.reset();
    std::remove(log_.c_str());
  }
  TServidorTeste(const TServidorTeste&) = delete;
  TServidorTeste& operator=(const TServidorTeste&) = delete;

  bool Iniciado() const { return iniciado_; }
  core::TdmServidor& Dm() { return *dm_; }
  const std::string& Main() const { return main_.Name(); }
  const std::string& Tenant() const { return tenant_.Name(); }

  // A REST request as the listener hands it on: caminho below /tamrix/rest/.
  static util::TWebRequest Pedido(const std::string& verbo, const std::string& caminho,
                                  const std::string& corpo) {
    util::TWebRequest req;
    req.Method = verbo;
    req.MethodType = util::ClassificarMetodo(verbo);
    req.ProtocolVersion = "HTTP/1.1";
    req.RawPathInfo = "/tamrix/rest/" + caminho;
    req.PathInfo = req.RawPathInfo;
    req.Content = corpo;
    req.DeclaredBody = !corpo.empty();
    return req;
  }

  // Serves the request from a thread of its own.
  util::TWebResponse Despachar(const util::TWebRequest& req) {
    util::TWebResponse r;
    std::thread([&] { dispatcher_->DispatchRequest(req, r); }).join();
    return r;
  }

 private:
  pgtest::TPgScratchDatabase main_;
  pgtest::TPgScratchDatabase tenant_;
  std::string log_;
  std::unique_ptr<core::TdmServidor> dm_;
  bool iniciado_ = false;
  std::unique_ptr<rest::TRestHTTPWebDispatcher> dispatcher_;
};

}  // namespace tamrix::teste

#endif  // TAMRIX_TESTS_SUPPORT_SERVIDORTESTE_H

// The admin port's web module: liveness, readiness and the metrics, for the operator's
// probes and Prometheus. It runs on a request pool of its own, so it answers while every
// instance of the REST pool is busy; the REST paths are never served here.
#ifndef TAMRIX_WEB_UWMADMINISTRACAO_H
#define TAMRIX_WEB_UWMADMINISTRACAO_H

#include <functional>
#include <string>

#include "util/uWebMessages.h"
#include "web/uWebModuleBase.h"

namespace tamrix::web {

// The answer of /ready: ready or not, and why not (Portuguese, for the JSON body).
struct TProntidao {
  enum class TEstado { Pronto, Indisponivel, Encerrando };
  TEstado Estado = TEstado::Indisponivel;
  std::string Motivo;  // empty when ready
};

struct TwmAdministracaoConfig {
  // Asked at every GET /ready; must return quickly (never wait on the database). Empty:
  // always unavailable.
  std::function<TProntidao()> Prontidao;
};

class TwmAdministracao : public TWebModuleBase {
 public:
  explicit TwmAdministracao(TwmAdministracaoConfig config);

  // A factory for the admin request pool that makes instances with config.
  static TWebModuleFactory Fabrica(TwmAdministracaoConfig config);

  // GET (or HEAD) /live: 200 {"status":"vivo"}. /ready: 200 {"status":"pronto"}, or 503
  // {"status":"indisponivel","motivo":"..."} / {"status":"encerrando",...}. /metrics: the
  // Prometheus text format 0.0.4. Other methods on these paths 405 with Allow; other paths
  // 404. Always returns true.
  bool HandleRequest(util::TWebRequest& request, util::TWebResponse& response) override;

 private:
  TwmAdministracaoConfig config_;
};

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UWMADMINISTRACAO_H

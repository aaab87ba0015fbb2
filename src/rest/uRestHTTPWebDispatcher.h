// The REST protocol's entry point for the web module: answers every request whose path
// begins with /tamrix.
#ifndef TAMRIX_REST_URESTHTTPWEBDISPATCHER_H
#define TAMRIX_REST_URESTHTTPWEBDISPATCHER_H

#include <optional>
#include <string>
#include <string_view>

#include "rest/uRestAuthenticationManager.h"
#include "rest/uRestServer.h"
#include "util/uWebMessages.h"

namespace tamrix::rest {

class TRestHTTPWebDispatcher {
 public:
  // servidor (and autenticacao, when given) must outlive the dispatcher; without an
  // authentication manager every request is accepted.
  explicit TRestHTTPWebDispatcher(TRestServer& servidor,
                                  const TRestAuthenticationManager* autenticacao = nullptr);

  // When the decoded path begins with /tamrix (any case): answers the request in resposta
  // and returns true, never raising. Otherwise returns false and leaves resposta alone.
  // Safe to call from many threads at once.
  bool DispatchRequest(const util::TWebRequest& req, util::TWebResponse& resposta);
  // The same for a request its owner gives up the body of: req.Content is moved out (and
  // freed once parsed) instead of copied, so a big body is held once.
  bool DispatchRequest(util::TWebRequest& req, util::TWebResponse& resposta);

 private:
  // What the metrics count a call under: its server class and method once they are known.
  struct TRotulosChamada {
    std::string Classe;
    std::string Metodo;
  };

  bool Despachar(const util::TWebRequest& req, util::TWebResponse& resposta, std::string* conteudo);
  void Atender(const util::TWebRequest& req, util::TWebResponse& resposta, std::string* conteudo,
               TRotulosChamada& rotulos);
  void AtenderRest(const TRestServer::TEstado& estado, std::string_view caminhoRest,
                   const util::TWebRequest& req, util::TWebResponse& resposta,
                   std::optional<TSessaoDaThread>& vinculo, std::string* conteudo,
                   TRotulosChamada& rotulos);
  void AtenderCache(std::string_view caminhoCache, const util::TWebRequest& req,
                    util::TWebResponse& resposta);

  TRestServer& servidor_;
  const TRestAuthenticationManager* autenticacao_;
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTHTTPWEBDISPATCHER_H

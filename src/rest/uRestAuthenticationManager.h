// The authentication and authorization hooks the REST protocol consults. Without a hook
// (the default) every request is accepted.
#ifndef TAMRIX_REST_URESTAUTHENTICATIONMANAGER_H
#define TAMRIX_REST_URESTAUTHENTICATIONMANAGER_H

#include <functional>
#include <memory>
#include <string>

#include "rest/uRestSession.h"

namespace tamrix::rest {

struct TRestAuthorizeEvent {
  std::string Classe;  // registered class name
  std::string Metodo;  // "Classe.Metodo" as registered
  std::string UserName;
  std::shared_ptr<TRestSession> Sessao;
};

// Set the hooks before the server starts; they are then called from many threads at once.
class TRestAuthenticationManager {
 public:
  // Called once per new session with protocol "tamrix", context "rest/", and the user name
  // and password of a "Basic" Authorization header ("" when absent). true accepts.
  std::function<bool(const std::string& protocolo, const std::string& contexto,
                     const std::string& usuario, const std::string& senha)>
      OnUserAuthenticate;
  // Called before every method runs. true accepts.
  std::function<bool(const TRestAuthorizeEvent& evento)> OnUserAuthorize;

  bool Autenticar(const std::string& protocolo, const std::string& contexto,
                  const std::string& usuario, const std::string& senha) const {
    return !OnUserAuthenticate || OnUserAuthenticate(protocolo, contexto, usuario, senha);
  }
  bool Autorizar(const TRestAuthorizeEvent& evento) const {
    return !OnUserAuthorize || OnUserAuthorize(evento);
  }
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTAUTHENTICATIONMANAGER_H

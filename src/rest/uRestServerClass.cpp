#include "rest/uRestServerClass.h"

#include "rest/uRestExcecoes.h"
#include "rest/uRestURL.h"

namespace tamrix::rest {

TLifeCycle LifeCycleDeTexto(std::string_view texto) {
  if (IguaisSemCaixa(texto, "Session")) return TLifeCycle::lcSession;
  if (IguaisSemCaixa(texto, "Invocation")) return TLifeCycle::lcInvocation;
  if (IguaisSemCaixa(texto, "Server")) return TLifeCycle::lcServer;
  throw ERestException("Ciclo de vida desconhecido: \"" + std::string(texto) + "\".");
}

}  // namespace tamrix::rest

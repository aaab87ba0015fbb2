#include "rest/uRestServerClass.h"

#include "rest/uRestExcecoes.h"
#include "util/uCaixaTexto.h"

namespace tamrix::rest {

TLifeCycle LifeCycleDeTexto(std::string_view texto) {
  if (util::TextoIgualSemCaixa(texto, "Session")) return TLifeCycle::lcSession;
  if (util::TextoIgualSemCaixa(texto, "Invocation")) return TLifeCycle::lcInvocation;
  if (util::TextoIgualSemCaixa(texto, "Server")) return TLifeCycle::lcServer;
  throw ERestException("Ciclo de vida desconhecido: \"" + std::string(texto) + "\".");
}

}  // namespace tamrix::rest

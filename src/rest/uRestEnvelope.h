// The two bodies a REST call answers with.
#ifndef TAMRIX_REST_URESTENVELOPE_H
#define TAMRIX_REST_URESTENVELOPE_H

#include <string>
#include <string_view>
#include <vector>

#include "rest/uRestCache.h"
#include "rest/uRestFiltros.h"
#include "rest/uRestTypes.h"

namespace tamrix::rest {

// How a call's outputs are written: cropped by the request filters, and in cache mode the
// kinds the cache keeps put into the session's cache instead of the envelope.
struct TModoResposta {
  const TFiltrosRest* Filtros = nullptr;  // none: nothing is cropped
  TRestCache* Cache = nullptr;            // set in cache mode
  TLimitesCache Limites;
};

// {"result":[...]} with the out values and the result in order, whose strings are cropped in place
// by the "ss" filter and whose data sets keep only the rows of the "t" filter. In cache mode every
// kept value is written as "{cacheId}/0/{index}" and the pairs "cacheId" and "cmdIndex" follow
// "result"; when the values do not fit the cache's limits they are written inline, and the envelope
// has no cache pairs. Data sets are written now, so this raises what their queries raise;
// nothing partial is returned, nor kept, then. A first element of TTextoJSON is moved into
// the answer (see kEspacoEnvelope).
std::string MontarEnvelopeResultado(std::vector<TSaidaRest>& saidas,
                                    const TModoResposta& modo = {});

// Bytes to reserve beyond a TTextoJSON's own text, when it is the first result, so that the
// envelope fits around it in the same buffer.
inline constexpr std::size_t kEspacoEnvelope = 16;

// {"error":"mensagem"}
std::string MontarEnvelopeErro(std::string_view mensagem);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTENVELOPE_H

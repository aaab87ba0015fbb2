// The two bodies a REST call answers with.
#ifndef TAMRIX_REST_URESTENVELOPE_H
#define TAMRIX_REST_URESTENVELOPE_H

#include <string>
#include <string_view>
#include <vector>

#include "rest/uRestTypes.h"

namespace tamrix::rest {

// {"result":[...]} with the out values and the result in order. Data sets are written now,
// so this raises what their queries raise; nothing partial is returned then.
std::string MontarEnvelopeResultado(const std::vector<TSaidaRest>& saidas);

// {"error":"mensagem"}
std::string MontarEnvelopeErro(std::string_view mensagem);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTENVELOPE_H

#include "rest/uRestEnvelope.h"

#include "rest/uJSONWriter.h"
#include "rest/uRestConversao.h"

namespace tamrix::rest {

std::string MontarEnvelopeResultado(const std::vector<TSaidaRest>& saidas) {
  std::string out = "{\"result\":[";
  for (std::size_t i = 0; i < saidas.size(); ++i) {
    if (i) out += ',';
    EscreverSaidaJSON(out, saidas[i]);
  }
  out += "]}";
  return out;
}

std::string MontarEnvelopeErro(std::string_view mensagem) {
  std::string out = "{\"error\":";
  EscreverTextoJSON(out, mensagem);
  out += '}';
  return out;
}

}  // namespace tamrix::rest

// The coded messages that answer every sales-file request: a JSON object holding "Código"
// (integer) and "Mensagem" (text), in that order.
//
// Each routine does nothing when the object is missing (nullptr). A message goes after the
// pairs already present; when the object already holds one of the two names, that pair is
// taken out first, so an object always carries one code and one text, the latest.
#ifndef TAMRIX_INTEGRATION_UMENSAGEMINTEGRACAO_H
#define TAMRIX_INTEGRATION_UMENSAGEMINTEGRACAO_H

#include <boost/json/object.hpp>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace tamrix::integration {

// The names of the two pairs.
inline constexpr std::string_view kChaveCodigo = "Código";
inline constexpr std::string_view kChaveMensagem = "Mensagem";

// The table text of a code (0: empty; 1 to 11; any other: "Mensagem indefinida.").
std::string TextoMensagem(int piCodigo);

// Adds the code and its table text.
void AdicionarMensagem(int piCodigo, boost::json::object* pjoMsg);
// Adds the code and psTexto, or the code's table text when psTexto is empty.
void AdicionarMensagem(int piCodigo, const std::string& psTexto, boost::json::object* pjoMsg);
// Adds the code and its table text with each "%s" filled, in order, by the arguments
// (missing ones as empty text; extra ones ignored).
void AdicionarMensagemFmt(int piCodigo, const std::vector<std::string>& pArgs,
                          boost::json::object* pjoMsg);
// Adds code 0 with the translated exception (TraduzirErro).
void AdicionarMensagemErro(const std::exception& e, boost::json::object* pjoMsg);

}  // namespace tamrix::integration

#endif  // TAMRIX_INTEGRATION_UMENSAGEMINTEGRACAO_H

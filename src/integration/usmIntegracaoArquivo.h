// The server class the point-of-sale terminals send their daily sales file to:
// PUT .../TsmIntegracaoArquivo/EnviarArquivoVendas/{token}/{cnpj}/{date}/{name} with the
// file object as body. Every request is answered with one coded message object, which is
// also written to the tenant's integration log whenever the token is known.
#ifndef TAMRIX_INTEGRATION_USMINTEGRACAOARQUIVO_H
#define TAMRIX_INTEGRATION_USMINTEGRACAOARQUIVO_H

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <string>

#include "endpoints/uSmBase.h"
#include "integration/uLinhasArquivo.h"
#include "integration/uTipoArquivo.h"

namespace tamrix::integration {

class TsmIntegracaoArquivo : public endpoints::TsmBase {
 public:
  // Checks the token, validates the request, decodes and stores the file; answers
  // {"Código":n,"Mensagem":"..."}. Never raises for bad input or database errors; a
  // failure to write the log row is recorded in the server log and events, not answered.
  // The caller's session must be current (the token is kept in it).
  boost::json::object acceptEnviarArquivoVendas(const std::string& psToken,
                                                const std::string& psCNPJ,
                                                const std::string& psDt_Movimento,
                                                const std::string& psNomeArquivo,
                                                const boost::json::value& pjoArquivo);

  static rest::TRestServerClass Tabela();

 private:
  boost::json::object ProcessarArquivoVendas(const std::string& psToken, const std::string& psCNPJ,
                                             const std::string& psDt_Movimento,
                                             const std::string& psNomeArquivo,
                                             const boost::json::value& pjoArquivo);
  // Validates the request (on the thread's tenant connection) and decodes the file into
  // poLstArquivo. False with the message in pjoMsg when the file may not be stored.
  bool CarregarArquivo(TTipoArquivo pTipoArquivo, const std::string& psToken,
                       const std::string& psCNPJ, const std::string& psDt_Movimento,
                       const std::string& psNomeArquivo, const boost::json::value& pjoArquivo,
                       TLinhasArquivo& poLstArquivo, boost::json::object& pjoMsg);
};

}  // namespace tamrix::integration

#endif  // TAMRIX_INTEGRATION_USMINTEGRACAOARQUIVO_H

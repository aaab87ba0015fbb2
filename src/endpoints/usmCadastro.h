// Registry lookups: searches in the tenant's table Cadastro (with its city), as a data-set
// container or as hand-built JSON text, and the company of a point-of-sale user.
#ifndef TAMRIX_ENDPOINTS_USMCADASTRO_H
#define TAMRIX_ENDPOINTS_USMCADASTRO_H

#include <cstdint>
#include <string>

#include "endpoints/uSmBase.h"

namespace tamrix::endpoints {

class TsmCadastro : public TsmBase {
 public:
  // Rows of Cadastro that have a city, filtered by each non-empty argument: the code (text
  // read as an integer, 0 = any), razao and fantasia containing the text (LIKE), the
  // CPF/CNPJ exactly. Arguments are not trimmed.
  rest::TJSONDataSetsPtr ConsultarCadastro(const std::string& pspCd_Cadastro,
                                           const std::string& pspRazao,
                                           const std::string& pspFantasia,
                                           const std::string& pspCpfCnpj);
  // The same search without the fantasia filter, as {"Sucesso":[{column:text,...},...]}.
  std::string ConsultarCadastroJSON(const std::string& pspCd_Cadastro, const std::string& pspRazao,
                                    const std::string& pspCNPJ);
  // spcPDVEmpresaUsuario for a company and a user code (its low 16 bits).
  rest::TJSONDataSetsPtr ConsultarEmpresUsuarioPDV(std::int32_t piCd_Empresa,
                                                   std::int32_t piCd_Usuario);

  static rest::TRestServerClass Tabela();

 private:
  // Shared-query steps for both searches, qySQL left open; comFantasia selects the
  // statement with the fantasia condition.
  void AbrirPesquisa(bool comFantasia, const std::string& pspCd_Cadastro,
                     const std::string& pspRazao, const std::string& pspFantasia,
                     const std::string& pspCpfCnpj);
};

// The text inside a JSON string as ConsultarCadastroJSON writes it: the quotation mark and
// the backslash behind a backslash, control characters as \uXXXX, everything else as it is.
std::string EscaparTextoCadastroJSON(std::string_view texto);

}  // namespace tamrix::endpoints

#endif  // TAMRIX_ENDPOINTS_USMCADASTRO_H

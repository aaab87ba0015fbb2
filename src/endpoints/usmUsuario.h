// Login and user data: the server class a client calls first. Login leaves the token, the
// user name, the password and the user code in the caller's session; LoginPDV is the variant
// for point-of-sale terminals.
#ifndef TAMRIX_ENDPOINTS_USMUSUARIO_H
#define TAMRIX_ENDPOINTS_USMUSUARIO_H

#include <string>

#include "endpoints/uSmBase.h"

namespace tamrix::endpoints {

class TsmUsuario : public TsmBase {
 public:
  // Checks user and password on the tenant database of pspToken. Blank user or password:
  // false, "Usuário sem permissão de acesso.", session untouched. After too many failed
  // guesses from the caller's address (see core::TBloqueioLogin): false with the block's
  // text, database and session untouched. Otherwise the token and
  // the user are stored first; a match stores the password and the user code and gives
  // "Sucesso"; any failure gives false with the exception's own message.
  bool Login(const std::string& pspUsuario, const std::string& pspSenha,
             const std::string& pspToken, std::string& pspMsg);
  // Blank token: false, "Token de acesso não informado.", session untouched. Otherwise App
  // becomes "PDV", Login runs, and the user must also be enabled for point of sale.
  bool LoginPDV(const std::string& pspUsuario, const std::string& pspSenha,
                const std::string& pspToken, std::string& pspMsg);
  // The user's record with its company's data (empty data set when nothing matches). It
  // checks a password, so it counts for the lock on guessing like Login: while blocked it
  // raises the block's text without asking the database.
  rest::TJSONDataSetsPtr ConsultarDadosUsuario(const std::string& pspUsuario,
                                               const std::string& pspSenha);
  // Every point-of-sale user of the tenant database, in the same columns.
  rest::TJSONDataSetsPtr ConsultarUsuarioPDV();

  static rest::TRestServerClass Tabela();

 private:
  // Login without taking the reservation, which the caller holds. contaFalha tells whether a
  // false result is a failed guess (wrong user, password or token) rather than a blank field
  // or a server fault.
  bool FazerLogin(const std::string& pspUsuario, const std::string& pspSenha,
                  const std::string& pspToken, std::string& pspMsg, bool& contaFalha);
};

}  // namespace tamrix::endpoints

#endif  // TAMRIX_ENDPOINTS_USMUSUARIO_H

// Small services that need no tenant data: the display mask of a money or decimal column of
// the main database, the reversal of a text, and the upload of a text file sent in Base64
// inside a JSON object, saved beside the executable.
#ifndef TAMRIX_ENDPOINTS_USMCOMUM_H
#define TAMRIX_ENDPOINTS_USMCOMUM_H

#include <boost/json/value.hpp>
#include <string>

#include "endpoints/uSmBase.h"

namespace tamrix::endpoints {

class TsmComum : public TsmBase {
 public:
  // "#,##0." followed by one "0" per decimal place of the column (exact names) among the
  // money and decimal columns the data module loaded at start; "" when either name is blank,
  // the metadata is not loaded or the column is not one of them. Never raises.
  std::string FormatarCampoValor(const std::string& pspTabela, const std::string& pspCampo);
  // The text with its UTF-16 units in reverse order; a surrogate pair stays one character.
  std::string InverterString(const std::string& pspTexto);
  // "" when pjoArquivo is not a JSON object (nothing written). Otherwise the last member's
  // value is decoded from Base64 (a string where it lies, other values from their JSON); its
  // lines (split at CR LF, CR or LF) are written each followed by CR LF, the bytes as
  // decoded, to a new file beside the executable (GravarArquivoUpload). Answers "#Sucesso#"
  // followed by that text, each byte read as the character of that code, already as JSON:
  // the body and the answer are each held once. psCNPJ, psData and psTipo are not used.
  rest::TTextoJSON UploadFile(const std::string& psCNPJ, const std::string& psData,
                              const std::string& psTipo, boost::json::value pjoArquivo);
  // UploadFile reached by POST, the object being the request body.
  rest::TTextoJSON updateUploadFile(const std::string& psCNPJ, const std::string& psData,
                                    const std::string& psTipo, boost::json::value pjoArquivo);

  static rest::TRestServerClass Tabela();
};

}  // namespace tamrix::endpoints

#endif  // TAMRIX_ENDPOINTS_USMCOMUM_H

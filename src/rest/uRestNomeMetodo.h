// The method name a call invokes: verb prefix, quoted identifiers, and the way back from a
// published name to the verb and URL word that reach it (for generated client libraries).
#ifndef TAMRIX_REST_URESTNOMEMETODO_H
#define TAMRIX_REST_URESTNOMEMETODO_H

#include <string>
#include <string_view>

namespace tamrix::rest {

// Command type of a REST request, from its HTTP method.
enum class TComandoRest { crGet, crPost, crPut, crDelete, crOther, crUnknown };

// "{classe}.{prefixo}{metodo}": POST "update", PUT "accept", DELETE "cancel", none for GET,
// for a method segment starting with a quotation mark or apostrophe, and for the classes
// "RestAdmin" and "RestMetadata".
std::string MontarNomeMetodo(TComandoRest comando, std::string_view classe,
                             std::string_view metodo);

// Reads nome as a dotted identifier list whose quoted identifiers ('x' or "x", a doubled
// quote standing for one) lose their quotes: TsmComum."UploadFile" -> TsmComum.UploadFile.
std::string RemoverAspasIdentificadores(std::string_view nome);

// The HTTP verb that reaches a published method and the method word to put in the URL:
// "updateUploadFile" -> POST "UploadFile"; prefixes compared with case.
struct TChamadaMetodo {
  const char* Verbo;
  std::string NomeNaURL;
};
TChamadaMetodo ChamadaDoMetodo(std::string_view nomePublicado);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTNOMEMETODO_H

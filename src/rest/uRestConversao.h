// The type mapping of the protocol: arguments (path text or JSON) to the C++ types of the
// parameters, and typed results to their JSON text.
#ifndef TAMRIX_REST_URESTCONVERSAO_H
#define TAMRIX_REST_URESTCONVERSAO_H

#include <string>
#include <string_view>

#include "rest/uRestTypes.h"

namespace tamrix::rest {

struct TJanelaLinhas;

// Each converts one argument; nothing/null gives "", 0, false, date 0 or JSON null.
// Raise EConvertError with the protocol's message when the argument does not fit.
std::string ArgumentoParaString(const TArgumentoRest& arg);
std::int32_t ArgumentoParaInt32(const TArgumentoRest& arg);
std::int64_t ArgumentoParaInt64(const TArgumentoRest& arg);
bool ArgumentoParaBoolean(const TArgumentoRest& arg);
double ArgumentoParaDouble(const TArgumentoRest& arg);
TDateTime ArgumentoParaDateTime(const TArgumentoRest& arg);
boost::json::value ArgumentoParaJSON(const TArgumentoRest& arg);  // a path text: JSON string
// The same, moving a JSON value out of arg instead of copying it.
boost::json::value ArgumentoParaJSON(TArgumentoRest&& arg);

// "YYYY-MM-DD" optionally followed by a blank and "hh:nn[:ss[.zzz]]"; EConvertError
// "'%s' is not a valid date and time" otherwise.
TDateTime TextoParaDateTime(std::string_view texto);
// The same form back, milliseconds only when not zero.
std::string DateTimeParaTexto(TDateTime d);

// Appends the JSON of one result element; a data-set collection is written (and its query
// run) now, so this may raise whatever that raises.
void EscreverSaidaJSON(std::string& out, const TSaidaRest& saida);
// The same, a data-set collection keeping only the rows of janelaTabela (all when null).
void EscreverSaidaJSON(std::string& out, const TSaidaRest& saida,
                       const TJanelaLinhas* janelaTabela);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTCONVERSAO_H

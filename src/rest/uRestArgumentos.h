// Where each input parameter of a call takes its value from: the path segments, then the
// request body (whole, or element by element from "_parameters").
#ifndef TAMRIX_REST_URESTARGUMENTOS_H
#define TAMRIX_REST_URESTARGUMENTOS_H

#include <optional>
#include <string>
#include <vector>

#include "rest/uRestNomeMetodo.h"
#include "rest/uRestServerClass.h"
#include "rest/uRestURL.h"
#include "util/uWebMessages.h"

namespace tamrix::rest {

// The body a call may bind from: POST and PUT only, and only when not empty. For POST, a
// body of more than one byte that does not start with '[' or '{' is replaced by the value of
// the request's only parameter (query field, or "dss..." form field of a form body) when it
// has exactly one with a non-empty name.
std::optional<std::string> CorpoDaChamada(TComandoRest comando, const util::TWebRequest& req,
                                          const std::vector<TCampoRest>& camposQuery);

// One argument per parameter of metodo (out parameters get nothing). Raises ERestException
// "Message content is not a valid JSON value." when the body is needed and is not JSON, and
// the "consumed only" message (naming nomeCompleto) when path texts are left over.
std::vector<TArgumentoRest> VincularArgumentos(const TMetodoRest& metodo,
                                               const std::string& nomeCompleto,
                                               const std::vector<std::string>& textos,
                                               const std::optional<std::string>& corpo);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTARGUMENTOS_H

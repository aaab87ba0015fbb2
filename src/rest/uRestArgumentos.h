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
// has exactly one with a non-empty name. With conteudo (the request's own Content, which its
// owner no longer needs) the body is moved out of it instead of copied.
std::optional<std::string> CorpoDaChamada(TComandoRest comando, const util::TWebRequest& req,
                                          const std::vector<TCampoRest>& camposQuery,
                                          std::string* conteudo = nullptr);

// One argument per parameter of metodo (out parameters get nothing). Raises ERestException
// "Message content is not a valid JSON value." when the body is needed and is not JSON, and
// the "consumed only" message (naming nomeCompleto) when path texts are left over. The body
// text is freed as soon as it is parsed, and its values move into the arguments: the parsed
// body is then the only copy.
std::vector<TArgumentoRest> VincularArgumentos(const TMetodoRest& metodo,
                                               const std::string& nomeCompleto,
                                               const std::vector<std::string>& textos,
                                               std::optional<std::string> corpo);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTARGUMENTOS_H

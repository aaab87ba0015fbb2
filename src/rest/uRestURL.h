// Reading the pieces of a REST request: path segments, query fields and the Pragma header.
#ifndef TAMRIX_REST_URESTURL_H
#define TAMRIX_REST_URESTURL_H

#include <string>
#include <string_view>
#include <vector>

namespace tamrix::rest {

// One path segment as the method sees it: with a '%', "%XX" is one byte and "%uXXXX" one
// UTF-16 unit (pairs joined), a '+' stays a '+', a '%' not followed by hex digits is kept.
// The result is read as UTF-8: invalid bytes and lone surrogates become U+FFFD.
std::string DecodificarSegmento(std::string_view bruto);

struct TCampoRest {
  std::string Nome;
  std::string Valor;
};

// Fields of a query string or form body, in order: split at '&' and the first '=', then
// "%XX" decoded and '+' read as a blank. Empty pieces are skipped.
std::vector<TCampoRest> LerCampos(std::string_view texto);

// Value of the item nome in a comma-separated "name=value" list such as the Pragma header
// (names without case, blanks around items ignored); "" when absent.
std::string ValorItemLista(std::string_view lista, std::string_view nome);

// Whether texto begins with prefixo, ASCII letters compared without case.
bool ComecaSemCaixa(std::string_view texto, std::string_view prefixo);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTURL_H

// The sales file as the terminals send it (Base64 text inside the JSON file object) turned
// into the text lines that are stored, without ever holding the decoded file whole.
#ifndef TAMRIX_INTEGRATION_UDECODIFICACAOARQUIVO_H
#define TAMRIX_INTEGRATION_UDECODIFICACAOARQUIVO_H

#include <boost/json/value.hpp>
#include <string>
#include <string_view>

#include "integration/uLinhasArquivo.h"
#include "integration/uTipoArquivo.h"

namespace tamrix::integration {

// The value of a file object's pair as text: a string as it stands, a number or Boolean
// in its JSON form, anything else (null, object, array) as "".
std::string TextoValorJSON(const boost::json::value& pjvValor);

// Decodes psBase64 and appends the file's lines to poLinhas (UTF-8), straight into its one
// buffer:
// - Base64 read in groups of four characters of the standard alphabet; a group ending in
//   "=" gives two bytes, in "==" one; characters outside the alphabet (line breaks,
//   blanks) are skipped; an incomplete last group is ignored.
// - each byte is the character of the same code (0-255);
// - for taVendas the whole text is trimmed (codes 0-32), TAB becomes "|" and a-z become
//   A-Z (other kinds: unchanged);
// - lines end at CR LF, a lone LF or a lone CR (a break at the very end adds no line); a
//   NUL character ends the text.
void DecodificarArquivo(TTipoArquivo pTipoArquivo, std::string_view psBase64,
                        TLinhasArquivo& poLinhas);

}  // namespace tamrix::integration

#endif  // TAMRIX_INTEGRATION_UDECODIFICACAOARQUIVO_H

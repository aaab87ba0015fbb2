// The small text rules of the HTTP wire that the listener applies itself: path decoding,
// reason texts, HTTP dates, cookie encoding and the charset of text content.
#ifndef TAMRIX_WEB_UHTTPCODEC_H
#define TAMRIX_WEB_UHTTPCODEC_H

#include <chrono>
#include <string>
#include <string_view>

namespace tamrix::web {

// Percent-decodes a request path: "%XX" is one byte, "%uXXXX" one UTF-16 unit (a surrogate
// pair makes one character), the bytes read as UTF-8. "+" stays "+"; a "%" not followed by
// valid hex digits stays as it stands; invalid UTF-8 and lone surrogates become U+FFFD.
std::string DecodificarCaminho(std::string_view caminho);

// Every byte outside A-Z a-z 0-9 - _ . ~ written as %XX (upper-case hex).
std::string CodificarURL(std::string_view texto);

// The status line's text for a status code: the listener's own table, else the standard
// text, else "Unknown".
std::string_view TextoStatus(int codigo);

// HTTP date in GMT, e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
std::string DataHTTP(std::chrono::system_clock::time_point momento);

// The value of the "charset" parameter of a content type, lower-cased and unquoted; "" when
// none is given.
std::string CharsetDoTipo(std::string_view contentType);

// Writes UTF-8 text in a charset: "utf-8" passes unchanged;
// "us-ascii" keeps only ASCII; anything else is ISO-8859-1. A character the charset cannot
// hold becomes "?".
std::string CodificarTexto(std::string_view textoUTF8, std::string_view charset);

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UHTTPCODEC_H

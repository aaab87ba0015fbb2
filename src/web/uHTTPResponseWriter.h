// The wire form of an answer: "HTTP/1.1" status line, the header lines in the listener's
// fixed order (Connection: close always), and the body encoded in the content type's charset.
#ifndef TAMRIX_WEB_UHTTPRESPONSEWRITER_H
#define TAMRIX_WEB_UHTTPRESPONSEWRITER_H

#include <chrono>
#include <string>
#include <string_view>

#include "util/uWebMessages.h"

namespace tamrix::web {

// Used when an answer has content but no content type.
inline constexpr std::string_view kTipoPadrao = "text/html; charset=ISO-8859-1";

struct THTTPAnswer {
  std::string Head;       // status line and header lines, up to and with the empty line
  std::string Encoded;    // the content text in its charset, when it had to be converted
  std::string_view Body;  // the bytes after the header: Encoded, or the answer's own bytes
};

// Builds the answer's bytes. The body is left out for HEAD, for status 100-199, 204 and 304,
// and when there is no content. Body may view into resposta, which must outlive the result.
THTTPAnswer MontarResposta(const util::TWebResponse& resposta, bool head,
                           std::chrono::system_clock::time_point agora);

// The whole answer for a bare status: header only, Content-Length 0.
std::string RespostaSemCorpo(int status, std::chrono::system_clock::time_point agora);

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UHTTPRESPONSEWRITER_H

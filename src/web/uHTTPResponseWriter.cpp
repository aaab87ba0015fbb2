#include "web/uHTTPResponseWriter.h"

#include "rest/uUTF8.h"
#include "web/uHTTPCodec.h"

namespace tamrix::web {

namespace {

// A header value or name never carries a line break: that would let a value write headers
// (or a body) of its own.
void AcrescentarLimpo(std::string& destino, std::string_view texto) {
  for (char c : texto) destino.push_back(c == '\r' || c == '\n' || c == '\0' ? ' ' : c);
}

void Linha(std::string& h, std::string_view nome, std::string_view valor) {
  AcrescentarLimpo(h, nome);
  h += ": ";
  AcrescentarLimpo(h, valor);
  h += "\r\n";
}

}  // namespace

THTTPAnswer MontarResposta(const util::TWebResponse& r, bool head,
                           std::chrono::system_clock::time_point agora) {
  THTTPAnswer a;
  const bool temConteudo = r.HasContent();
  const std::string_view tipo =
      r.ContentType.empty() && temConteudo ? kTipoPadrao : std::string_view(r.ContentType);

  std::string_view corpo;
  if (r.ContentStream.has_value()) {
    corpo = *r.ContentStream;
  } else if (!r.Content.empty()) {
    std::string charset = CharsetDoTipo(tipo);
    if (charset == "utf-8" || charset == "utf8" || rest::SoASCII(r.Content)) {
      // Bytes that stay as they are: no second copy of a large answer.
      corpo = r.Content;
    } else {
      a.Encoded = CodificarTexto(r.Content, charset.empty() ? "iso-8859-1" : charset);
      corpo = a.Encoded;
    }
  }

  std::string& h = a.Head;
  h.reserve(256);
  h += "HTTP/1.1 ";
  h += std::to_string(r.StatusCode);
  h += ' ';
  AcrescentarLimpo(h, r.ReasonString.empty() ? TextoStatus(r.StatusCode) : r.ReasonString);
  h += "\r\nConnection: close\r\n";
  if (!tipo.empty()) Linha(h, "Content-Type", tipo);
  Linha(h, "Content-Length", std::to_string(corpo.size()));
  Linha(h, "Date", DataHTTP(agora));
  if (r.Expires) Linha(h, "Expires", DataHTTP(*r.Expires));
  for (const auto& c : r.CustomHeaders) Linha(h, c.Name, c.Value);
  if (r.LastModified) Linha(h, "Last-Modified", DataHTTP(*r.LastModified));
  if (!r.Location.empty()) Linha(h, "Location", r.Location);
  for (const auto& [nome, valor] : r.Cookies)
    Linha(h, "Set-Cookie", CodificarURL(nome) + "=" + CodificarURL(valor));
  h += "\r\n";

  const bool semCorpo = head || (r.StatusCode >= 100 && r.StatusCode <= 199) ||
                        r.StatusCode == 204 || r.StatusCode == 304;
  if (!semCorpo) a.Body = corpo;
  return a;
}

std::string RespostaSemCorpo(int status, std::chrono::system_clock::time_point agora) {
  util::TWebResponse r;
  r.StatusCode = status;
  return MontarResposta(r, false, agora).Head;
}

}  // namespace tamrix::web

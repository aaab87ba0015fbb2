// The listener's request reading, without sockets: the bytes of one connection fed in pieces
// to the reader, the request handed over, an answer built from its values. Checks that
// nothing crashes, that the limits hold, that where the bytes are cut makes no difference,
// and that no value of the request can break the answer's header lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "util/uCaixaTexto.h"
#include "web/uHTTPCodec.h"
#include "web/uHTTPRequestReader.h"
#include "web/uHTTPResponseWriter.h"

namespace {

using tamrix::web::THTTPRequestReader;
using TStep = THTTPRequestReader::TStep;

// A header limit under the line limit, so that both are reached.
constexpr tamrix::web::THTTPLimits kLimites{1025, 16384, 1u << 20, 8192};

struct TResultado {
  TStep passo = TStep::NeedMore;
  int status = 0;
  tamrix::util::TWebRequest pedido;
};

void Verificar(bool condicao) {
  if (!condicao) std::abort();
}

// Reads dados as one connection, cut into pieces whose sizes come from semente (0: whole).
TResultado Ler(std::string_view dados, std::uint32_t semente) {
  THTTPRequestReader leitor(kLimites);
  std::size_t pos = 0;
  const auto corpoChegando = [&] { return pos < dados.size(); };
  TResultado r;
  for (;;) {
    r.passo = leitor.Advance(corpoChegando);
    if (r.passo == TStep::SendContinue) {
      const std::string linha = leitor.ContinueLine();
      Verificar(linha.size() >= 17 &&
                linha.compare(linha.size() - 17, 17, " 100 Continue\r\n\r\n") == 0);
      continue;
    }
    if (r.passo != TStep::NeedMore) break;
    if (pos == dados.size()) return r;  // the client stopped sending
    std::size_t n = dados.size() - pos;
    if (semente != 0) {
      semente = semente * 1103515245u + 12345u;
      n = std::min<std::size_t>(n, 1 + (semente >> 16) % 64);
      n = std::min(n, leitor.FeedLimit());  // as the listener feeds it
    }
    leitor.Feed(dados.substr(pos, n));
    pos += n;
  }
  r.status = leitor.AnswerStatus();
  if (r.passo == TStep::Ready) leitor.TakeRequest(r.pedido, "127.0.0.1", "8080");
  return r;
}

bool Iguais(const TResultado& a, const TResultado& b) {
  if (a.passo != b.passo || a.status != b.status) return false;
  const auto& x = a.pedido;
  const auto& y = b.pedido;
  if (x.Headers.size() != y.Headers.size()) return false;
  for (std::size_t i = 0; i < x.Headers.size(); ++i)
    if (x.Headers[i].Name != y.Headers[i].Name || x.Headers[i].Value != y.Headers[i].Value)
      return false;
  return x.Method == y.Method && x.ProtocolVersion == y.ProtocolVersion &&
         x.RawPathInfo == y.RawPathInfo && x.PathInfo == y.PathInfo && x.Query == y.Query &&
         x.Host == y.Host && x.ServerPort == y.ServerPort && x.Content == y.Content &&
         x.DeclaredBody == y.DeclaredBody && x.AuthUser == y.AuthUser &&
         x.AuthPassword == y.AuthPassword && x.CookieFields == y.CookieFields;
}

// Every line of the header ends in CR LF, and the header ends with the empty line.
void VerificarCabecalho(std::string_view h) {
  Verificar(h.size() >= 4 && h.substr(h.size() - 4) == "\r\n\r\n");
  Verificar(h.find("\r\n\r\n") == h.size() - 4);
  for (std::size_t i = 0; i < h.size(); ++i) {
    if (h[i] == '\r') Verificar(i + 1 < h.size() && h[i + 1] == '\n');
    if (h[i] == '\n') Verificar(i > 0 && h[i - 1] == '\r');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint32_t semente = 1u + data[0] + 256u * data[1];
  const std::string_view dados(reinterpret_cast<const char*>(data) + 2, size - 2);

  const TResultado inteiro = Ler(dados, 0);
  // Expect is acted on only while no body byte has arrived, so cuts may change that one.
  if (tamrix::util::MinusculasASCII(dados).find("expect") == std::string::npos)
    Verificar(Iguais(inteiro, Ler(dados, semente)));

  if (inteiro.passo == TStep::Answer)
    Verificar(inteiro.status == 400 || inteiro.status == 411 || inteiro.status == 413 ||
              inteiro.status == 417 || inteiro.status == 431);
  if (inteiro.passo == TStep::Ready) {
    const auto& p = inteiro.pedido;
    Verificar(p.Headers.size() <= kLimites.MaximoLinhasCabecalho);
    std::size_t cabecalho = 0;
    for (const auto& h : p.Headers) cabecalho += h.Name.size() + h.Value.size();
    Verificar(cabecalho <= kLimites.TamanhoMaximoCabecalho);
    Verificar(!p.DeclaredBody || p.Content.size() <= kLimites.TamanhoMaximoCorpo);
    Verificar(p.RawPathInfo.find('?') == std::string::npos);

    // An answer made of the request's own values.
    tamrix::util::TWebResponse r;
    r.StatusCode = static_cast<int>(semente % 700);
    r.ReasonString = p.Query;
    r.ContentType = p.GetFieldByName("Content-Type");
    r.Content = p.PathInfo + p.Content;
    for (const auto& h : p.Headers) r.SetCustomHeader(h.Name, h.Value);
    r.Location = p.RawPathInfo;
    for (const auto& c : p.CookieFields) r.Cookies.push_back({c, p.Host});
    const auto resposta = tamrix::web::MontarResposta(r, p.Method == "HEAD", {});
    VerificarCabecalho(resposta.Head);
    if (tamrix::web::CharsetDoTipo(r.ContentType) != "utf-8")
      for (unsigned char c : tamrix::web::CodificarTexto(p.PathInfo, "us-ascii"))
        Verificar(c < 0x80);
  }
  return 0;
}

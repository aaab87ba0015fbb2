// Reads one HTTP/1.x request from the bytes of a connection, as the listener frames it:
// request line, at most 1025 header lines of at most 16,384 bytes each and at most
// TamanhoMaximoCabecalho bytes together (the chunked trailer included), the HTTP/1.1 checks
// (Host, Expect), a body by Content-Length or chunked framing, and the Authorization scheme.
// Pure: the caller moves the bytes, this class decides. One reader serves one request.
#ifndef TAMRIX_WEB_UHTTPREQUESTREADER_H
#define TAMRIX_WEB_UHTTPREQUESTREADER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/uWebMessages.h"

namespace tamrix::web {

struct THTTPLimits {
  std::size_t MaximoLinhasCabecalho = 1025;      // a 1026th header line closes the connection
  std::size_t MaximoTamanhoLinha = 16384;        // bytes before the line feed
  std::uint64_t TamanhoMaximoCorpo = 64u << 20;  // larger bodies are answered 413
  // Bytes of the request line, the header lines and the trailer lines together, line feeds
  // included; beyond it the request is answered 431.
  std::size_t TamanhoMaximoCabecalho = 64u << 10;
};

class THTTPRequestReader {
 public:
  enum class TStep {
    NeedMore,      // Feed more bytes, then Advance again
    SendContinue,  // write ContinueLine() to the client, then Advance again
    Answer,        // answer AnswerStatus() without a body and close
    Close,         // close without an answer
    Ready,         // the whole request is read: TakeRequest
  };

  explicit THTTPRequestReader(THTTPLimits limites = {});
  THTTPRequestReader(const THTTPRequestReader&) = delete;
  THTTPRequestReader& operator=(const THTTPRequestReader&) = delete;

  // Appends bytes received from the client.
  void Feed(std::string_view bytes);

  // Goes as far as the bytes fed so far allow. corpoChegando is asked at most once, for a POST
  // or PUT that declares no length and has no byte after its header yet: whether body bytes
  // arrive within 1 ms. Once Answer, Close or Ready is returned, the same comes back again.
  TStep Advance(const std::function<bool()>& corpoChegando);

  int AnswerStatus() const { return status_; }
  // The interim answer for "Expect: 100-continue": the request's version, " 100 Continue".
  std::string ContinueLine() const;
  // Whether the header is complete (the body, if any, is being read).
  bool HeadComplete() const { return estado_ > TEstado::eCabecalho; }
  // Whether bytes were received beyond those the request consumed.
  bool HasUnreadInput() const { return buffer_.size() > pos_; }
  // How many bytes the next Feed should take at most: while header or trailer lines are read,
  // one more than their size limit still allows (so the excess shows and nothing beyond it is
  // held); otherwise no limit.
  std::size_t FeedLimit() const;

  // Fills request from what was read (only after Ready; moves the body and headers out).
  // remoteAddr is the peer's address as text, localPort the connection's local port.
  void TakeRequest(util::TWebRequest& request, std::string_view remoteAddr,
                   std::string_view localPort);

 private:
  enum class TEstado {
    eLinhaPedido,
    eCabecalho,
    eVerificacoes,
    eEnquadramento,
    eCorpo,
    eTamanhoBloco,
    eDadosBloco,
    eFimBloco,
    eTrailer,
    eAutorizacao,
    eFim,
  };
  enum class TLinha { lPronta, lFalta, lLonga, lCabecalhoGrande };

  // cabecalho: a header or trailer line, counted into TamanhoMaximoCabecalho.
  TLinha ProximaLinha(std::string_view& linha, bool cabecalho);
  // The next line into linha, or the step to return when there is none (yet).
  std::optional<TStep> FaltaLinha(std::string_view& linha, bool cabecalho = false);
  bool LendoCabecalho() const;
  bool LerLinhaPedido(std::string_view linha);
  void LerLinhaCabecalho(std::string_view linha);
  void FimCabecalho();
  TStep Terminar(TStep passo, int status = 0);
  std::string_view Campo(std::string_view nome) const;
  bool TemCampo(std::string_view nome) const;

  const THTTPLimits limites_;
  TEstado estado_ = TEstado::eLinhaPedido;
  TStep final_ = TStep::NeedMore;  // the step repeated once the reader is done
  int status_ = 0;
  std::string buffer_;
  std::size_t pos_ = 0;        // first byte not yet consumed
  std::size_t procura_ = 0;    // where the search for the next line feed goes on
  std::size_t linhas_ = 0;     // header (or trailer) lines read so far
  std::size_t cabecalho_ = 0;  // bytes of the request, header and trailer lines read so far
  std::string metodo_;         // upper-cased, after the override
  std::string metodoLinha_;    // upper-cased, as on the request line
  std::string alvo_;           // request target as received
  std::string versao_;
  int maior_ = 0, menor_ = 0;
  std::string caminhoAlvo_;  // target without an absolute URL's scheme and authority
  std::string hostAlvo_;     // authority of an absolute URL target
  std::vector<util::THeaderField> campos_;
  bool continueDecidido_ = false;
  bool corpoDeclarado_ = false;
  std::uint64_t restante_ = 0;  // bytes of the body (or the current chunk) still to come
  std::string corpo_;
  std::string usuario_, senha_;
};

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_UHTTPREQUESTREADER_H

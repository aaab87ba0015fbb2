// A bare HTTP/1.1 client for the load driver: one request per connection over a real socket,
// read to the server's close within a deadline, and a strict check that the answer is
// well-formed (status line, headers, a Content-Length that matches, JSON where one begins).
#ifndef TAMRIX_TESTS_RELIABILITY_REL_HTTP_H
#define TAMRIX_TESTS_RELIABILITY_REL_HTTP_H

#include <boost/json.hpp>
#include <chrono>
#include <optional>
#include <string>

namespace tamrix::reliability {

struct TResposta {
  enum TEstado {
    Respondida,  // a complete, well-formed answer
    Fechada,     // the server closed (or reset) without sending a byte
    Recusada,    // nobody accepted the connection
    Prazo,       // no complete answer within the deadline
    Malformada,  // bytes came, but not a well-formed answer (Problema says why)
  };
  TEstado Estado = Fechada;
  int Status = 0;
  std::string Cabecalho;  // header block, without the empty line
  std::string Corpo;
  std::string Problema;
  std::optional<boost::json::value> Json;  // the body, when JSON is named or begins

  // The value of a header of the answer ("" when absent; name compared without case).
  std::string Header(const std::string& nome) const;
  // The session id of the Pragma header ("" without one).
  std::string Sessao() const;
};

// Sends bytes to 127.0.0.destino:porta and reads until the server closes or the deadline.
// origem: the client's address 127.0.0.origem (the whole 127/8 is local on Linux), so that a
// server that counts connections per address sees another client; 0 leaves it to the kernel.
TResposta Trocar(const std::string& bytes, int porta, int destino, std::chrono::milliseconds prazo,
                 int origem = 0);

// A non-blocking socket connecting to 127.0.0.destino:porta from 127.0.0.origem (0: the
// kernel's choice); the connection may still be in progress. -1 when no socket could be made.
int AbrirConexao(int porta, int destino, int origem);

// The Pragma line that carries a session id, CR LF included; "" without a session.
std::string CabecalhoSessao(const std::string& sessao);

// A GET / PUT request with Host, Connection: close and, when sessao is not empty, Pragma.
std::string PedidoGet(int porta, const std::string& alvo, const std::string& sessao = {});
std::string PedidoPut(int porta, const std::string& alvo, const std::string& corpo,
                      const std::string& sessao = {});

// Checks bytes received as one answer; fills r (Estado Respondida or Malformada).
void Analisar(const std::string& bytes, TResposta& r);

}  // namespace tamrix::reliability

#endif  // TAMRIX_TESTS_RELIABILITY_REL_HTTP_H

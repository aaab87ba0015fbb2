// The access log: one line per answered request on standard output, where journald (or the
// terminal) keeps it. The line never carries a password or an access token: those path
// arguments are masked, and neither the query string nor the body is written. The session id
// is written whole (it ties a session's calls to one instance behind a balancer): the log is
// as private as the sessions themselves.
//
// Line, fields separated by one blank, "-" for an empty one:
//   2024-05-02T13:45:07.123Z 10.0.0.7 GET /tamrix/rest/TsmUsuario/LoginPDV/MARIA/***/*** 200 182 12
//   AbC... time (UTC, ISO 8601, milliseconds), client address, method, path, status, bytes sent,
//   duration in milliseconds, session id.
// Every text a client sent has its control bytes escaped, its blanks written as %20 and its
// length cut (diagnostics/uTextoLog.h), so one request is always one line of known fields.
#ifndef TAMRIX_WEB_ULOGACESSO_H
#define TAMRIX_WEB_ULOGACESSO_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/uWebMessages.h"

namespace tamrix::web {

// Bytes of the path in a line (after masking and escaping), "[...]" included.
inline constexpr std::size_t kTamanhoCaminhoAcesso = 512;

// Written in place of a password.
inline constexpr std::string_view kMascaraSenha = "***";

struct TRegistroAcesso {
  std::chrono::system_clock::time_point Momento;  // when the answer was finished
  std::string_view Endereco;                      // client address
  std::string_view Metodo;                        // as the request line (or override) gave it
  std::string_view Caminho;                       // request target as received; masked here
  int Status = 0;
  std::uint64_t Bytes = 0;  // bytes of the answer the client took
  std::chrono::milliseconds Duracao{0};
  std::string_view Sessao;  // the REST session id, "" when none
};

// caminho without its query string (from the first '?'), with the secrets a call carries in
// the path replaced by kMascaraSenha: the password of Login, LoginPDV and
// ConsultarDadosUsuario and the access token of Login, LoginPDV and ConsultarConfiguracoes (in
// any class, with or without a verb prefix or quotes). Segments are
// compared percent-decoded and without letter case, as the REST dispatcher reads them.
std::string MascararCaminho(std::string_view caminho);

// The whole line for r, ending with '\n'.
std::string LinhaAcesso(const TRegistroAcesso& r);

// The session id to log: the answer's "Pragma: dssession=", else the request's (its SID or
// SESSIONID query field, then its Pragma header); "" when none.
std::string SessaoAcesso(const util::TWebRequest& pedido, const util::TWebResponse& resposta);

// Queues linha for standard output, written whole by a writer thread of its own in arrival
// order, so lines never mix and a stalled output never holds the caller. Past 8 MiB waiting,
// lines are dropped and counted (tamrix_access_log_lines_dropped_total); a write failure is
// ignored (the answer has already gone out). Lines still waiting are written at exit.

void EscreverLinhaAcesso(std::string_view linha) noexcept;

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_ULOGACESSO_H

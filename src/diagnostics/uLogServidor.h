// The server's plain-text log, "log.txt" beside the executable. The file always holds
// exactly the lines written since the log object was created (or last cleared), so each
// run shows only its own lines.
#ifndef TAMRIX_DIAGNOSTICS_ULOGSERVIDOR_H
#define TAMRIX_DIAGNOSTICS_ULOGSERVIDOR_H

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "util/uSingleton.h"

namespace tamrix::diagnostics {

// Kind of a log line.
enum TTipoLog {
  tlNormal = 0,  // the caller's text unchanged
  tlErro = 1,    // "* ERRO <dd/MM/yyyy hh:nn:ss> * <text>"
};

class TLogServidor {
 public:
  // Log of "log.txt" in the executable's directory; the list starts empty and the file is
  // not touched until the first Log.
  TLogServidor();
  // Log of the given file instead (tests, tools).
  explicit TLogServidor(std::string arquivo);
  ~TLogServidor() = default;  // the file is left as it is

  TLogServidor(const TLogServidor&) = delete;
  TLogServidor& operator=(const TLogServidor&) = delete;

  // Builds the line, adds it to the list and brings the file to exactly the list's lines,
  // each ending with CR LF (UTF-8, no byte-order mark). Safe from any thread: one call's
  // step never overlaps another's. A file that cannot be written is reported once on
  // stderr and never raised; the line stays in the list and reaches the file with the
  // next call that can write it.
  void Log(const std::string& pspTexto, TTipoLog pTipoLog);

  // Empties the list; the file keeps its content until the next Log replaces it.
  void LimparLog();

  // Points the log at another file; the next Log writes the whole list there.
  void DefinirArquivo(std::string arquivo);

  // The file being written.
  std::string Arquivo() const;

  // A copy of the lines written since creation or the last LimparLog, oldest first.
  std::vector<std::string> Linhas() const;

  // True when the last Log left the file holding exactly the list.
  bool ArquivoEmDia() const;

  // Called with the failure's text ("<file>: não foi possível gravar o log (<reason>); a linha
  // fica guardada.") once per failure streak, when it is also reported on stderr, outside the
  // log's lock and on the thread that logged; the server points it at its events table,
  // since a log that cannot be written tells nobody. Empty (the default) calls nothing.
  void SetAoFalhar(std::function<void(const std::string&)> aoFalhar);

 private:
  bool Acrescentar(const std::string& linha);  // appends to a file known to be in sync
  bool Regravar();                             // writes the whole list, truncating the file
  std::string AvisarFalha(int erro);           // the text when this failure is news, else empty

  mutable std::mutex trava_;  // one Log step at a time; guards everything below
  std::vector<std::string> FoLstLog;
  std::string arquivo_;
  bool emDia_ = false;              // file content equals FoLstLog
  std::uint64_t bytesArquivo_ = 0;  // size of the file while emDia_
  bool falhaAvisada_ = false;       // current failure streak already reported
  int erroArquivo_ = 0;             // errno of the last failed write
  std::function<void(const std::string&)> aoFalhar_;
};

// The process-wide log.
class TLogServidorSingleton : public util::TSingleton<TLogServidor> {};

// Writes one line to the process-wide log (TLogServidorSingleton).
void GravarLog(const std::string& pspTexto, TTipoLog pTipoLog = tlNormal);

}  // namespace tamrix::diagnostics

#endif  // TAMRIX_DIAGNOSTICS_ULOGSERVIDOR_H

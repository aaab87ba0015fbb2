// The server's plain-text log, "log.txt" beside the executable. The first line of a run (of
// a log object, or after LimparLog or DefinirArquivo) truncates the file, so it shows only
// that run; later lines are appended. Nothing is kept in memory but the lines the file
// could not take yet. At the size limit the file is rotated: log.txt becomes log.1.txt,
// log.1.txt becomes log.2.txt, ... up to log.5.txt, the oldest dropped; the rotated files
// of earlier runs are kept.
//
// Every line has its control bytes escaped (diagnostics/uTextoLog.h), so no text can start
// a line of its own, and is cut at kTamanhoMaximoLinha bytes; callers cut what a client sent
// to kTamanhoTextoChamador themselves (TextoChamador).
#ifndef TAMRIX_DIAGNOSTICS_ULOGSERVIDOR_H
#define TAMRIX_DIAGNOSTICS_ULOGSERVIDOR_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "util/uSingleton.h"

namespace tamrix::diagnostics {

// Kind of a log line.
enum TTipoLog {
  tlNormal = 0,  // the caller's text
  tlErro = 1,    // "* ERRO <dd/MM/yyyy hh:nn:ss> * <text>"
};

class TLogServidor {
 public:
  // Longest text of one line, in bytes after escaping (a safety net: callers cut first).
  static constexpr std::size_t kTamanhoMaximoLinha = 4096;
  // Rotated files kept: log.1.txt (newest) to log.5.txt.
  static constexpr int kArquivosRotacionados = 5;
  // Lines kept while the file cannot be written, at most; beyond them the oldest go.
  static constexpr std::size_t kMaximoLinhasGuardadas = 10000;
  static constexpr std::size_t kMaximoBytesGuardados = 1024 * 1024;
  // Size of the file before it is rotated, unless DefinirTamanhoMaximo says otherwise.
  static constexpr std::uint64_t kTamanhoMaximoPadrao = 64ull * 1024 * 1024;

  // Log of "log.txt" in the executable's directory; the file is not touched until the
  // first Log.
  TLogServidor();
  // Log of the given file instead (tests, tools).
  explicit TLogServidor(std::string arquivo);
  ~TLogServidor() = default;  // lines still waiting are lost; the file is left as it is

  TLogServidor(const TLogServidor&) = delete;
  TLogServidor& operator=(const TLogServidor&) = delete;

  // Builds the line (escaped, cut) and appends it to the file with CR LF (UTF-8, no
  // byte-order mark), rotating first when it would pass the size limit. Safe from any
  // thread: lines never interleave. A file that cannot be written is reported once per
  // failure streak (stderr and SetAoFalhar) and never raised; the line waits, with at most
  // kMaximoLinhasGuardadas lines / kMaximoBytesGuardados bytes (the oldest dropped), and
  // reaches the file with the next line that can be written, after one line telling how
  // many were dropped.
  void Log(const std::string& pspTexto, TTipoLog pTipoLog);

  // Drops the waiting lines; the next Log truncates the file and starts it afresh.
  void LimparLog();

  // Points the log at another file, which the next Log truncates; waiting lines go there.
  void DefinirArquivo(std::string arquivo);

  // The file being written.
  std::string Arquivo() const;

  // Bytes the file may reach before it is rotated; 0 never rotates it.
  void DefinirTamanhoMaximo(std::uint64_t bytes);

  // The lines of this run in the current file (read back from it, CR LF removed), then the
  // ones still waiting, oldest first. For tests and start-up messages: it reads the whole
  // file.
  std::vector<std::string> Linhas() const;

  // True when no line is waiting for the file.
  bool ArquivoEmDia() const;

  // Lines waiting for the file (0 while it can be written).
  std::size_t LinhasGuardadas() const;

  // Called with the failure's text ("<file>: não foi possível gravar o log (<reason>); a linha
  // fica guardada.") once per failure streak, when it is also reported on stderr, outside the
  // log's lock and on the thread that logged; the server points it at its events table,
  // since a log that cannot be written tells nobody. Empty (the default) calls nothing.
  void SetAoFalhar(std::function<void(const std::string&)> aoFalhar);

  // The name of the n-th rotated file of arquivo: "log.txt" -> "log.<n>.txt" ("x" ->
  // "x.<n>" without an extension).
  static std::string NomeRotacionado(const std::string& arquivo, int n);

 private:
  void Guardar(std::string linha);    // queues a line, dropping the oldest past the caps
  bool Descarregar();                 // writes the queue; false with erroArquivo_ set
  bool Rotacionar();                  // shifts log.txt -> log.1.txt -> ...
  std::string AvisarFalha(int erro);  // the text when this failure is news, else empty

  mutable std::mutex trava_;  // one Log step at a time; guards everything below
  std::string arquivo_;
  std::deque<std::string> guardadas_;  // lines the file has not taken yet
  std::size_t bytesGuardados_ = 0;
  std::uint64_t perdidas_ = 0;  // lines dropped from guardadas_ since the last write
  bool truncar_ = true;         // the next write starts the file afresh
  std::uint64_t tamanhoMaximo_ = kTamanhoMaximoPadrao;
  bool falhaAvisada_ = false;         // current failure streak already reported
  bool falhaRotacaoAvisada_ = false;  // current rotation failure already reported
  int erroArquivo_ = 0;               // errno of the last failed write
  std::function<void(const std::string&)> aoFalhar_;
};

// The process-wide log.
class TLogServidorSingleton : public util::TSingleton<TLogServidor> {};

// Writes one line to the process-wide log (TLogServidorSingleton).
void GravarLog(const std::string& pspTexto, TTipoLog pTipoLog = tlNormal);

}  // namespace tamrix::diagnostics

#endif  // TAMRIX_DIAGNOSTICS_ULOGSERVIDOR_H

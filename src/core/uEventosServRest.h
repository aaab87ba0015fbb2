// The server's notable events as rows of EventosServRest in the main database. An insert
// that fails is written to the log file instead and never reaches the caller.
//
// A client can provoke events (every failed call adds one), so in one second of the clock at
// most kMaximoPorSegundo error rows (InserirEventoErro) and as many other rows
// (InserirEvento) are stored, start and stop aside; the rest of that second are only
// counted, and one row telling how many were left out is stored before the next event (of
// any kind, the stop included). The log still has every line.
//
// Threads: inserts come from the main thread and from request threads; each one runs under
// the main connection's lock (TDBConnection::Lock), which every other user of the main
// connection takes too, so statements of different threads never meet on it.
#ifndef TAMRIX_CORE_UEVENTOSSERVREST_H
#define TAMRIX_CORE_UEVENTOSSERVREST_H

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "db/uDBConnection.h"
#include "db/uDBQuery.h"
#include "util/uSingleton.h"

namespace tamrix::core {

class TEventosServRest {
 public:
  // Error rows, and apart from them other rows, stored in one second of the clock.
  static constexpr int kMaximoPorSegundo = 10;
  // Longest description, in bytes (the column's size); longer texts are cut.
  static constexpr std::size_t kTamanhoMaximoDescricao = 2000;

  // Creates the events query without a connection.
  TEventosServRest();
  ~TEventosServRest();
  TEventosServRest(const TEventosServRest&) = delete;
  TEventosServRest& operator=(const TEventosServRest&) = delete;

  // Gives the events query this connection (the main connection, not owned).
  void DefinirConexao(db::TDBConnection* poConexao);

  // Reopens the events query on today's events, oldest first (database errors propagate).
  void ConsultarEventos();

  // Stores one event with the server's local time, its control bytes escaped and cut at
  // kTamanhoMaximoDescricao (diagnostics/uTextoLog.h). Past kMaximoPorSegundo of them in
  // this second, false and only counted. False, and nothing else, when there is no connection or
  // it is closed; false with one error line in the log (the translated error) when the
  // database refuses the insert. True when the row was stored.
  bool InserirEvento(const std::string& pspDescricao);
  // Stores "* ERRO * " followed by the text, as InserirEvento but within the errors' own
  // kMaximoPorSegundo.
  bool InserirEventoErro(const std::string& pspDescricao);
  // "Servidor iniciado." / "Servidor parado.", never left out; the stop first stores the row
  // of the events left out so far (GravarOmitidos).
  bool InserirEventoServidorIniciado();
  bool InserirEventoServidorParado();

  // Stores now the row "* ERRO * N evento(s) omitido(s) em <second> ..." for the events
  // left out and not yet told, even within their second. True when one was stored.
  bool GravarOmitidos();

  // The events query; re-runs ConsultarEventos first when a connection is set.
  db::TDBQuery& DataSet();

 private:
  db::TDBConnection* Conexao() const;
  // Which of the per-second counts an event takes.
  enum class TContagem { Nenhuma, Erro, Outro };

  // Inserts one row (no cap); see InserirEvento.
  bool Gravar(db::TDBConnection* conexao, const std::string& pspDescricao);
  // The row for the events left out first (when due), then this one unless left out.
  bool Inserir(const std::string& pspDescricao, TContagem pContagem);
  // Takes one place of the current second in pContagem's count and hands back the text of
  // the row for an earlier second's events left out ("" when there is none; with pbForcar
  // also the current second's).
  std::string Admitir(TContagem pContagem, bool pbForcar, bool& pbAdmitido);

  std::unique_ptr<db::TDBQuery> FqyEventos;
  mutable std::mutex FoLockConexao;   // the connection given by DefinirConexao
  std::mutex FoLockLimite;            // the counters below; never held across an insert
  std::time_t FiSegundo = 0;          // the second being counted
  int FiErrosNoSegundo = 0;           // error rows stored in it
  int FiOutrosNoSegundo = 0;          // other rows stored in it
  std::uint64_t FiOmitidos = 0;       // events left out and not yet told
  std::time_t FiSegundoOmitidos = 0;  // the second of the first of them
};

// The process-wide events writer (created at start-up without connection).
class TEventosServRestSingleton : public util::TSingleton<TEventosServRest> {};

}  // namespace tamrix::core

#endif  // TAMRIX_CORE_UEVENTOSSERVREST_H

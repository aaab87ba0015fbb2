// The server data module: the REST server and its authentication manager, the main database
// connection, the server-class registrations, the start and stop sequences, and the
// per-thread tenant connections that every REST call works on.
//
// Threads. Create, IniciarServidor, PararServidor and ConfigurarConexaoPrincipal run on the
// main thread. PegarConexao, DestruirConexao, the transaction operations, PegarSPID,
// PegarFormatoCampo and the REST hooks run on the worker thread that serves a call, many at
// once. The main connection is shared: every use of it from here holds its lock
// (TDBConnection::Lock), as the events writer and the tenant directory do.
#ifndef TAMRIX_CORE_UDMSERVIDOR_H
#define TAMRIX_CORE_UDMSERVIDOR_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/uConexoesThread.h"
#include "db/uDBConnection.h"
#include "db/uDBQuery.h"
#include "rest/uRestAuthenticationManager.h"
#include "rest/uRestServer.h"
#include "rest/uRestServerClass.h"

namespace tamrix::core {

// Registers one server-method class with a REST server for as long as it lives.
class TRegistroServerClass {
 public:
  // Gives poClasse the life cycle named by pspLifeCycle ("Session", "Invocation", "Server")
  // and registers it with poServidor, which must not be started. pbExporProvider is kept
  // for classes that are provider modules; the server's classes are not, so each one is
  // exposed as it stands.
  TRegistroServerClass(rest::TRestServer& poServidor, rest::TRestServerClass poClasse,
                       bool pbExporProvider, std::string_view pspLifeCycle);

  // The description of the class the REST server exposes.
  const rest::TRestServerClass& DescricaoClasse() const { return FoPersistentClass; }
  bool ExporProvider() const { return FbExporProvider; }

 private:
  rest::TRestServerClass FoPersistentClass;
  bool FbExporProvider;
};

// The precision, scale and type letter ('M' money, 'D' decimal) of one column of the main
// database, from the column-metadata query.
struct TFormatoCampo {
  int Precisao = 0;
  int Escala = 0;
  std::string Tipo;
};

struct TOpcoesDmServidor {
  // The ten server-method classes in the order of registration: TsmUsuario, TsmConfigBD,
  // TsmComum, TsmCadastro, TsmADF, TsmADM, TsmADV, TsmMLO, TsmVEX, TsmIntegracaoArquivo.
  // Each is registered with life cycle "Session" whatever its table says.
  std::vector<rest::TRestServerClass> Classes;
  // The class scBase yields (TsmBase); registered first, also with life cycle "Session".
  std::optional<rest::TRestServerClass> ClasseBase;
  rest::TOpcoesRestServer OpcoesRestServer;
  // How long PararServidor waits for running calls to release their tenant connections.
  std::chrono::milliseconds EsperaChamadas = std::chrono::seconds(30);
};

class TdmServidor {
 public:
  // Builds the REST server (stopped) with its hooks, the authentication manager that accepts
  // everyone, the main connection (closed), the empty connection table, and the
  // registrations (scBase, then the ten classes). Becomes dmServidor and the target of
  // PegarRestServer / PegarRestAuthenticationManager.
  explicit TdmServidor(TOpcoesDmServidor opcoes = {});
  // Stops the REST server and frees the main connection and every tenant connection left;
  // no call may still be running. Resets dmServidor and the two accessors.
  ~TdmServidor();
  TdmServidor(const TdmServidor&) = delete;
  TdmServidor& operator=(const TdmServidor&) = delete;

  // Start sequence (main thread): log line, REST server started, main connection configured
  // and opened, events writer and tenant directory bound to it, "Servidor iniciado.",
  // column metadata and directory loaded. True when the main connection opened. A failed
  // connection runs PararServidor; an exception while loading the directory leaves here
  // with the server started.
  bool IniciarServidor();
  // Stop sequence (main thread): log line, "Servidor parado.", REST server stopped, main
  // connection closed, every tenant connection released (DestruirConexoes).
  void PararServidor();
  // Configures the main connection from the configuration object and opens it. A failure
  // shows the "Atenção" box (with a main window), writes an error line and gives false.
  // Before the first open of the process, turns the driver manager's connection pool on for
  // the driver in use when config.ini asks for reuse ("ReutilizarConexoes", "TempoReuso").
  bool ConfigurarConexaoPrincipal();

  // The calling thread's connection. On the server thread: the main connection, in whatever
  // state. Elsewhere: the connection this thread's call opened on the session's tenant
  // database, created and opened now when there is none and pbCriarConexao is true
  // (nullptr when false). Raises "Token %s não cadastrado." or the connection failure text,
  // after inserting the event; the table is then unchanged.
  db::TDBConnection* PegarConexao(bool pbCriarConexao);
  // End of call: takes the calling thread's entry out of the table, rolls back a
  // transaction left open, closes and frees the connection. Nothing on a thread without
  // one; the main connection is never touched.
  void DestruirConexao();
  std::uint32_t PegarThreadID() const;
  // True exactly on the thread that last ran IniciarServidor.
  bool ServidorExecutando() const;

  // On PegarConexao(true). Iniciar: true when it started one (false when one was active).
  // Comitar / Voltar: true when a transaction was active and was committed / rolled back.
  bool IniciarTransacao();
  bool ComitarTransacao();
  bool VoltarTransacao();
  // Whether the thread's connection has an active transaction; false without connection.
  bool EstaEmTransacao();
  // The database's id of the session of PegarConexao(true).
  std::int32_t PegarSPID();

  // The format of one money or decimal column of the main database (exact names); nothing
  // when the column metadata is not loaded or has no such column. Safe from any thread.
  std::optional<TFormatoCampo> PegarFormatoCampo(const std::string& pspTabela,
                                                 const std::string& pspCampo);
  // Whether the column metadata is loaded (from the server's start until its stop).
  bool ColunasAbertas() const;

  // When the module was created, then when the server was last started.
  std::chrono::system_clock::time_point HorarioInicio() const;
  // Id of the thread that last ran IniciarServidor; 0 before the first start.
  std::uint32_t ThreadIDServer() const;

  // Number of tenant connections held by running calls.
  std::size_t QuantidadeConexoes() const { return FoDicConexoes.Quantidade(); }

  rest::TRestServer& RestServer() { return FoRestServer; }
  rest::TRestAuthenticationManager& RestAuthenticationManager() {
    return FoRestAuthenticationManager;
  }
  // The main connection; other threads may be using it: hold its Lock() across statements.
  db::TDBConnection& Conexao() { return FoConexao; }
  const std::vector<TRegistroServerClass>& Registros() const { return FoRegistros; }

  // REST hooks, on the worker thread that served the call.
  // Error: the error line "%s [Erro original: %s]" and the error event with the message.
  void RestServerError(const rest::TRestErrorEvent& RestErrorEventObject);
  // End of every call: DestruirConexao.
  void RestServerDisconnect();
  // Authentication and authorization accept every call.
  bool RestAuthenticationManagerUserAuthenticate(const std::string& Protocol,
                                                 const std::string& Context,
                                                 const std::string& User,
                                                 const std::string& Password);
  bool RestAuthenticationManagerUserAuthorize(const rest::TRestAuthorizeEvent& EventObject);

 private:
  void RegistrarClassesServidor(std::vector<rest::TRestServerClass> poClasses);
  // The class scBase exposes.
  rest::TRestServerClass scBaseGetClass() const;
  // Waits (EsperaChamadas at most) until every running call has released its connection;
  // a call still running after that keeps its connection and releases it at its end.
  void DestruirConexoes();
  db::TDBConnection* CriarConexao();  // PegarConexao steps 4 to 8
  // Once per module: the driver manager's pool as config.ini asks; a failure is an error
  // line and the server goes on without reuse.
  void ConfigurarReusoConexoes();
  // Commit or Rollback when a transaction is active; true when it ran.
  bool EncerrarTransacao(void (db::TDBConnection::*encerrar)());
  void AbrirColunas();  // qyColumns on the main connection
  void FecharColunas();
  void qyColumnsAfterOpen();

  // Declared in this order so that the REST server, which calls the hooks, goes first and
  // the tenant connections go before the main connection whose parameters they copied.
  db::TDBConnection FoConexao;
  std::optional<rest::TRestServerClass> FoClasseBase;
  mutable std::mutex FoLockColunas;  // every use of qyColumns
  db::TDBQuery qyColumns;
  bool FbColunasAbertas = false;
  bool FbReusoDecidido = false;  // main thread only
  TConexoesThread FoDicConexoes;
  const std::chrono::milliseconds FiEsperaChamadas;
  // Written on the main thread while request threads may read them (the listener is up
  // before the server starts).
  std::atomic<std::chrono::system_clock::time_point> FdHorarioInicio;
  std::atomic<std::uint32_t> FiThreadIDServer{0};
  rest::TRestAuthenticationManager FoRestAuthenticationManager;
  rest::TRestServer FoRestServer;
  std::vector<TRegistroServerClass> FoRegistros;
};

// The one data module, set by its constructor and reset by its destructor; nullptr
// outside that time. Written on the main thread before any request thread exists.
extern TdmServidor* dmServidor;

// The REST server and authentication manager of dmServidor; nullptr without it.
rest::TRestServer* PegarRestServer();
rest::TRestAuthenticationManager* PegarRestAuthenticationManager();

}  // namespace tamrix::core

#endif  // TAMRIX_CORE_UDMSERVIDOR_H

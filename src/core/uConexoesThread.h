// The table of per-thread tenant connections: at most one connection per thread, kept under
// the operating-system id of the thread while that thread serves a call that has asked for
// one. Every operation holds the table's one lock for just that operation.
//
// An entry never outlives its thread: a thread that ends while it still has an entry frees
// its connection on the way out, so an id the system hands to a new thread finds no entry.
#ifndef TAMRIX_CORE_UCONEXOESTHREAD_H
#define TAMRIX_CORE_UCONEXOESTHREAD_H

#include <chrono>
#include <cstdint>
#include <memory>

namespace tamrix::db {
class TDBConnection;
}

namespace tamrix::core {

// The calling thread's operating-system id (unique among the living threads).
std::uint32_t PegarThreadIDAtual();

class TConexoesThread {
 public:
  TConexoesThread();
  // Frees every connection still in the table (a call still using one must have ended).
  ~TConexoesThread();
  TConexoesThread(const TConexoesThread&) = delete;
  TConexoesThread& operator=(const TConexoesThread&) = delete;

  // The calling thread's connection, nullptr when it has none. The connection stays valid
  // until the same thread takes it out (Retirar) or ends.
  db::TDBConnection* Procurar() const;
  // Keeps the connection under the calling thread's id and returns it; the thread must not
  // have one yet (raises diagnostics::Exception otherwise; the connection is then freed).
  db::TDBConnection* Adicionar(std::unique_ptr<db::TDBConnection> conexao);
  // Takes the calling thread's entry out of the table and hands its connection over;
  // nullptr when there was none.
  std::unique_ptr<db::TDBConnection> Retirar();

  std::size_t Quantidade() const;
  // Waits until no thread has an entry, at most `limite`; true when the table is empty.
  bool AguardarVazia(std::chrono::milliseconds limite) const;

  struct TEstado;  // shared with the thread-exit guards

 private:
  std::shared_ptr<TEstado> estado_;
};

// Rolls back an open transaction and closes and frees the connection; failures go to the
// log as error lines and no further.
void LiberarConexao(std::unique_ptr<db::TDBConnection> conexao);

}  // namespace tamrix::core

#endif  // TAMRIX_CORE_UCONEXOESTHREAD_H

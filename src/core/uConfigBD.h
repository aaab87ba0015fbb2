// The tenant directory: the main database's ConfigBD table held in memory, indexed by token.
// PegarConfig answers which database belongs to a token (every new tenant connection);
// ConsultarTokenExiste asks the database itself whether a token exists.
//
// Threads: each PegarConfig (positioning and reading the six fields, and a reload when the
// copy is empty) runs under one lock of the object, so no lookup can read another lookup's
// row; Recarregar reads outside that lock and takes it only to swap the copies.
// ConsultarTokenExiste runs under a lock of its own query. Statements on the connection
// also take the connection's lock, which the other users of the main connection share.
#ifndef TAMRIX_CORE_UCONFIGBD_H
#define TAMRIX_CORE_UCONFIGBD_H

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "core/uClasses.h"
#include "db/uDBQuery.h"
#include "util/uSingleton.h"

namespace tamrix::core {

// One tenant database entry; the credentials stay scrambled.
struct TConfigBDItem {
  std::string FspToken;
  std::string FspIpBD;
  std::string FspInstancia;
  std::string FspNomeBD;
  std::string FspUsuarioBD;
  std::string FspSenhaBD;
};

class TConfigBD : public TClasses {
 public:
  TConfigBD();
  ~TConfigBD() override;

  // (Re)loads the whole table into memory and indexes it by token ("idxConfig"). A database
  // error (no connection, table missing, server gone) propagates.
  void ConsultarConfig();

  // Reads the whole table into a new copy, without holding up lookups meanwhile, and then
  // puts it in place of the current one: new, changed and removed tokens count from the next
  // lookup. Returns the rows read. On a database error, an empty table or without a
  // connection, it raises (diagnostics::Exception or the database's error) and the current
  // copy stays as it was. Invalidates DataSet()'s reference.
  std::size_t Recarregar();

  // Looks the token up in memory (exact match, letter case included, no trimming) and fills
  // pConfig; loads the table first when the copy is closed or empty. Not found: false and
  // pConfig empty. There is no reload on a miss in a non-empty copy. While no connection is
  // set (the server is starting), raises diagnostics::Exception saying so in Portuguese.
  bool PegarConfig(const std::string& pspToken, TConfigBDItem& pConfig);

  // Whether ConfigBD has a row with this token, asked of the database (its collation
  // decides case and trailing blanks). A token of blanks is false without any query.
  bool ConsultarTokenExiste(const std::string& psToken);

  // The in-memory copy, loaded first when it holds no rows and a connection is set. The
  // caller must not use it while other threads look tokens up.
  db::TDBQuery& DataSet();

 protected:
  // Rebinds the inherited query and the in-memory copy to the new connection.
  void ConexaoAlterada() override;

 private:
  void Carregar();  // ConsultarConfig with FoLockConfig held
  // Reads the table into q and indexes it by token.
  static void Ler(db::TDBQuery& q);

  std::unique_ptr<db::TDBQuery> FqyConfig;  // the in-memory copy
  std::recursive_mutex FoLockConfig;        // each lookup or reload of FqyConfig
  std::mutex FoLockToken;                   // the inherited query used by token checks
};

// The process-wide directory (created at start-up without connection).
class TConfigBDSingleton : public util::TSingleton<TConfigBD> {};

}  // namespace tamrix::core

#endif  // TAMRIX_CORE_UCONFIGBD_H

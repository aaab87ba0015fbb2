// Base of the classes that work on a database connection handed to them from outside (the
// tenant directory, the sales-file integration): the connection, a general-purpose query on
// it, and the translated text of the last update error.
#ifndef TAMRIX_CORE_UCLASSES_H
#define TAMRIX_CORE_UCLASSES_H

#include <memory>
#include <string>

#include "db/uDBConnection.h"
#include "db/uDBDataSet.h"
#include "db/uDBQuery.h"
#include "diagnostics/uExcecoes.h"

namespace tamrix::core {

class TClasses {
 public:
  TClasses() = default;
  // Frees the query; the connection is not touched.
  virtual ~TClasses() = default;
  TClasses(const TClasses&) = delete;
  TClasses& operator=(const TClasses&) = delete;

  // The connection this object works on (not owned; must outlive its use here).
  db::TDBConnection* ConexaoBD() const { return FoConexaoBD; }
  // Stores the connection when it differs, then always calls ConexaoAlterada.
  void SetConexaoBD(db::TDBConnection* poConexao);

  // The general-purpose query, created on first use and bound to ConexaoBD (also when it
  // exists without a connection).
  db::TDBQuery& PegarQuery();

  // Update-error handler in the data sets' shape: fails the update (its error goes on to the
  // caller) and keeps the translated error text.
  void QueryUpdateError(db::TDBDataSet& ASender, const diagnostics::EDatabaseError& AException,
                        int ARow, db::TDBUpdateRequest ARequest, db::TDBErrorAction& AAction);
  // A handler bound to this object, to give to data sets (SetOnUpdateError). The object must
  // outlive the data sets it is given to.
  db::TDBUpdateErrorEvent UpdateErrorHandler();

  // Text of the last update error seen by QueryUpdateError, already translated.
  const std::string& UpdateError() const { return FsUpdateError; }
  void SetUpdateError(std::string psTexto) { FsUpdateError = std::move(psTexto); }

 protected:
  // Called by SetConexaoBD. Base: binds the query, if it exists, to ConexaoBD.
  virtual void ConexaoAlterada();

 private:
  db::TDBConnection* FoConexaoBD = nullptr;
  std::unique_ptr<db::TDBQuery> FoQuery;
  std::string FsUpdateError;
};

}  // namespace tamrix::core

#endif  // TAMRIX_CORE_UCLASSES_H

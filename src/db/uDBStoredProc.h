// A stored procedure, prepared from the database's own description of its parameters and
// run as "{call name(?, ...)}". On PostgreSQL the procedures are functions.
#ifndef TAMRIX_DB_UDBSTOREDPROC_H
#define TAMRIX_DB_UDBSTOREDPROC_H

#include <string>
#include <string_view>

#include "db/uDBDataSet.h"
#include "db/uDBParam.h"

namespace tamrix::db {

class TDBStoredProc : public TDBDataSet {
 public:
  TDBStoredProc() = default;
  explicit TDBStoredProc(TDBConnection* connection) { SetConnection(connection); }

  // The procedure's name as the code writes it ("spcMLOVendas", "dbo.spcX"); unprepares.
  void SetStoredProcName(std::string name);
  const std::string& StoredProcName() const { return name_; }

  // Reads the parameter list (names with their "@" on SQL Server, types, directions) from
  // the database. Raises EDatabaseError when the database has no procedure of that name.
  void Prepare();
  void Unprepare();
  bool Prepared() const { return prepared_; }

  // The prepared parameters (prepares first when needed). Names compare without "@" and
  // without regard to case. Parameters left unbound are sent as null.
  TDBParams& Params();
  TDBParam& ParamByName(std::string_view name) { return Params().ParamByName(name); }
  bool ParamExists(std::string_view name) { return Params().Exists(name); }

  // Runs the procedure without reading rows; output parameters receive their values.
  void ExecProc();

 protected:
  void Execute(odbc::TStatement& stmt) override;
  void ConnectionChanged() override { Unprepare(); }
  const char* ClassName() const override { return "TDBStoredProc"; }

 private:
  std::string name_;
  TDBParams params_;
  bool prepared_ = false;
};

}  // namespace tamrix::db

#endif  // TAMRIX_DB_UDBSTOREDPROC_H

#include "db/uDBStoredProc.h"

#include "db/uDBConnection.h"
#include "db/uDBStatement.h"

namespace tamrix::db {

using diagnostics::EDatabaseError;

void TDBStoredProc::SetStoredProcName(std::string name) {
  Close();
  Unprepare();
  name_ = std::move(name);
}

void TDBStoredProc::Unprepare() {
  params_.Clear();
  prepared_ = false;
}

void TDBStoredProc::Prepare() {
  if (prepared_) return;
  TDBConnection& c = RequireConnection("preparar");
  auto lock = c.Lock();
  RequireConnection("preparar");
  if (name_.empty()) throw EDatabaseError("Nome do procedimento armazenado não informado.");
  odbc::TStatement st(c);
  bool found = false;
  st.ProcedureParams(c.Profile().CatalogProcedureName(name_), params_, found);
  if (!found) {
    params_.Clear();
    throw EDatabaseError("Procedimento armazenado '" + name_ +
                         "' não encontrado no banco de dados.");
  }
  prepared_ = true;
}

TDBParams& TDBStoredProc::Params() {
  if (!prepared_ && Connection() != nullptr) Prepare();
  return params_;
}

void TDBStoredProc::Execute(odbc::TStatement& stmt) {
  Prepare();
  std::vector<odbc::TBindSpec> specs;
  std::string call = "{call " + name_;
  for (int i = 0; i < params_.Count(); ++i) {
    TDBParam& p = params_[i];
    odbc::TBindSpec s;
    s.value = &p.Value();
    s.type = p.DataType();
    s.declaredSqlType = p.DeclaredSqlType();
    s.declaredSize = p.DeclaredSize();
    s.declaredScale = p.DeclaredScale();
    s.io = p.ParamType();
    s.output = &p;
    specs.push_back(s);
    call += i == 0 ? "(?" : ", ?";
  }
  call += params_.Count() > 0 ? ")}" : "}";
  stmt.Bind(specs);
  stmt.Execute(call);
}

void TDBStoredProc::ExecProc() {
  TDBConnection& c = RequireConnection("executar");
  auto lock = c.Lock();
  RequireConnection("executar");
  Prepare();
  odbc::TStatement st(c, Timeout());
  Execute(st);
  st.Drain();
  st.StoreOutputs();
}

}  // namespace tamrix::db

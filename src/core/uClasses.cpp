#include "core/uClasses.h"

#include "diagnostics/uTraduzirErro.h"

namespace tamrix::core {

void TClasses::SetConexaoBD(db::TDBConnection* poConexao) {
  if (poConexao != FoConexaoBD) FoConexaoBD = poConexao;
  ConexaoAlterada();
}

void TClasses::ConexaoAlterada() {
  if (FoQuery) FoQuery->SetConnection(FoConexaoBD);
}

db::TDBQuery& TClasses::PegarQuery() {
  if (!FoQuery) {
    FoQuery = std::make_unique<db::TDBQuery>(FoConexaoBD);
  } else if (FoQuery->Connection() == nullptr) {
    FoQuery->SetConnection(FoConexaoBD);
  }
  return *FoQuery;
}

void TClasses::QueryUpdateError(db::TDBDataSet&, const diagnostics::EDatabaseError& AException, int,
                                db::TDBUpdateRequest, db::TDBErrorAction& AAction) {
  AAction = db::TDBErrorAction::eaFail;
  FsUpdateError = diagnostics::TraduzirErro(AException);
}

db::TDBUpdateErrorEvent TClasses::UpdateErrorHandler() {
  return [this](db::TDBDataSet& sender, const diagnostics::EDatabaseError& e, int row,
                db::TDBUpdateRequest request,
                db::TDBErrorAction& action) { QueryUpdateError(sender, e, row, request, action); };
}

}  // namespace tamrix::core

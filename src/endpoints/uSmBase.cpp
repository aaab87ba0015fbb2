#include "endpoints/uSmBase.h"

#include <condition_variable>
#include <mutex>

#include "diagnostics/uExcecoes.h"
#include "diagnostics/uTraduzirErro.h"

namespace tamrix::endpoints {

struct TReservaQuery::TTrava {
  std::mutex mutex;
  std::condition_variable livre;
  bool ocupada = false;
  db::TDBQuery* query = nullptr;  // the instance's qySQL; nullptr once the instance is gone
};

namespace {

// What a query container carries besides the collection: the instance that owns the data set
// and the reservation of its query. Members go in reverse order, the collection first.
struct TPacoteQuery {
  std::shared_ptr<const TsmBase> dono;
  TReservaQuery reserva;
  rest::TJSONDataSets conjuntos;
};

}  // namespace

std::string TextoSQL(std::initializer_list<std::string_view> linhas) {
  std::string sql;
  for (std::string_view l : linhas) {
    if (!sql.empty()) sql += "\r\n";
    sql += l;
  }
  return sql;
}

TReservaQuery& TReservaQuery::operator=(TReservaQuery&& outra) noexcept {
  if (this != &outra) {
    Liberar();
    trava_ = std::move(outra.trava_);
  }
  return *this;
}

TReservaQuery::~TReservaQuery() {
  Liberar();
}

void TReservaQuery::Liberar() noexcept {
  if (!trava_) return;
  {
    std::lock_guard lock(trava_->mutex);
    // The call's connection is freed at the end of the call, perhaps while the next call
    // already runs: no later call may find qySQL still bound to it.
    if (trava_->query != nullptr) {
      try {
        trava_->query->Close();
        trava_->query->SetConnection(nullptr);
      } catch (...) {
        // Closing a cursor of a lost connection may fail; the query is left closed.
      }
    }
    trava_->ocupada = false;
  }
  trava_->livre.notify_one();
  trava_.reset();
}

TsmBase::TsmBase() : FoTrava(std::make_shared<TReservaQuery::TTrava>()) {
  FoTrava->query = &qySQL;
  qySQL.SetName("qySQL");
  qySQL.SetOnUpdateError([this](db::TDBDataSet& s, const diagnostics::EDatabaseError& e, int row,
                                db::TDBUpdateRequest req, db::TDBErrorAction& action) {
    qySQLUpdateError(s, e, row, req, action);
  });
}

TsmBase::~TsmBase() {
  std::lock_guard lock(FoTrava->mutex);
  FoTrava->query = nullptr;
}

core::TdmServidor& TsmBase::DataModule() const {
  if (core::dmServidor == nullptr)
    throw diagnostics::Exception("O módulo de dados do servidor não foi criado.");
  return *core::dmServidor;
}

rest::TRestServerClass TsmBase::Tabela() {
  return rest::TTabelaClasse<TsmBase>("TsmBase");
}

TReservaQuery TsmBase::ReservarQuery() {
  std::unique_lock lock(FoTrava->mutex);
  FoTrava->livre.wait(lock, [&] { return !FoTrava->ocupada; });
  FoTrava->ocupada = true;
  return TReservaQuery(FoTrava);
}

void TsmBase::PrepararQuery(std::string pspSQL) {
  qySQL.Close();
  qySQL.SetConnection(DataModule().PegarConexao(true));
  qySQL.SetSQL(std::move(pspSQL));
}

rest::TJSONDataSetsPtr TsmBase::EmpacotarDataSet(db::TDBQuery& poQuery, TReservaQuery poReserva) {
  auto pacote = std::make_shared<TPacoteQuery>();
  pacote->dono = weak_from_this().lock();
  pacote->reserva = std::move(poReserva);
  rest::TJSONDataSetsWriter::ListAdd(pacote->conjuntos, poQuery);
  return rest::TJSONDataSetsPtr(pacote, &pacote->conjuntos);
}

rest::TJSONDataSetsPtr TsmBase::EmpacotarDataSet(std::shared_ptr<db::TDBStoredProc> poProc) {
  auto conjuntos = std::make_shared<rest::TJSONDataSets>();
  rest::TJSONDataSetsWriter::ListAdd(*conjuntos,
                                     std::shared_ptr<db::TDBDataSet>(std::move(poProc)));
  return conjuntos;
}

std::shared_ptr<db::TDBStoredProc> TsmBase::CriarStoredProc(std::string pspNome) {
  auto sp = std::make_shared<db::TDBStoredProc>();
  sp->SetConnection(DataModule().PegarConexao(true));
  sp->SetStoredProcName(std::move(pspNome));
  sp->Prepare();
  return sp;
}

rest::TJSONDataSetsPtr TsmBase::AbrirEmpacotar(std::shared_ptr<db::TDBStoredProc> poProc) {
  poProc->Open();
  return EmpacotarDataSet(std::move(poProc));
}

void TsmBase::qySQLUpdateError(db::TDBDataSet&, const diagnostics::EDatabaseError& AException, int,
                               db::TDBUpdateRequest, db::TDBErrorAction& AAction) {
  AAction = db::TDBErrorAction::eaFail;
  FsUpdateError = diagnostics::TraduzirErro(AException);
}

}  // namespace tamrix::endpoints

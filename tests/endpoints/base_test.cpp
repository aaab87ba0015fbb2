// TsmBase: the registration list, the update-error capture, the packing of the shared query
// and of procedures, and calls of one session that meet on one instance.
#include <atomic>
#include <future>

#include "EndpointsTeste.h"
#include "rest/uJSONDataSets.h"

namespace tamrix::endpoints::teste {
namespace {

using namespace std::chrono_literals;
using BaseTest = EndpointsTest;

TEST(RegistroEndpointsTest, TheBaseThenTheTenClassesInRegistrationOrder) {
  const TClassesServidor c = ClassesServidor(rest::TTabelaClasse<TsmBase>("TsmIntegracaoArquivo"));
  EXPECT_EQ(c.ClasseBase.Nome, "TsmBase");
  EXPECT_TRUE(c.ClasseBase.Metodos.empty());
  std::vector<std::string> nomes;
  for (const auto& k : c.Classes) {
    nomes.push_back(k.Nome);
    EXPECT_EQ(k.LifeCycle, rest::TLifeCycle::lcSession) << k.Nome;
  }
  EXPECT_EQ(nomes, (std::vector<std::string>{"TsmUsuario", "TsmConfigBD", "TsmComum", "TsmCadastro",
                                             "TsmADF", "TsmADM", "TsmADV", "TsmMLO", "TsmVEX",
                                             "TsmIntegracaoArquivo"}));
  // Every table builds into a registry (no duplicate names).
  std::vector<rest::TRestServerClass> todas = c.Classes;
  todas.insert(todas.begin(), c.ClasseBase);
  const rest::TRegistroClasses registro(std::move(todas));
  EXPECT_TRUE(registro.Procurar("TsmComum.updateUploadFile"));
  EXPECT_TRUE(registro.Procurar("TsmVEX.ConsultarDadosSincronizacao"));
}

TEST_F(BaseTest, TsmBaseIsRegisteredWithoutMethods) {
  const TResposta r = S().Get("TsmBase/qySQLUpdateError");
  EXPECT_EQ(r.Status, 500);
  EXPECT_EQ(r.Corpo,
            R"({"error":"TsmBase.qySQLUpdateError method not found in the server method list"})");
}

// Reaches the protected members of the base on a connection of the test.
class TsmSonda : public TsmBase {
 public:
  db::TDBQuery& Query() { return qySQL; }
  TReservaQuery Reservar() { return ReservarQuery(); }
  rest::TJSONDataSetsPtr Cidades(db::TDBConnection& c) {
    TReservaQuery reserva = ReservarQuery();
    qySQL.Close();
    qySQL.SetConnection(&c);
    qySQL.SetSQL("SELECT cd_cidade, nome FROM Cidade WHERE cd_cidade < :plimite");
    qySQL.ParamByName("plimite").SetAsInteger(4000000);
    qySQL.Open();
    return EmpacotarDataSet(qySQL, std::move(reserva));
  }
  rest::TJSONDataSetsPtr Procedimento(std::shared_ptr<db::TDBStoredProc> sp) {
    return EmpacotarDataSet(std::move(sp));
  }
};

std::vector<rest::TDataSetLido> Escrever(rest::TJSONDataSets& conjuntos) {
  std::string json;
  rest::EscreverJSONDataSets(conjuntos, json);
  return rest::LerContainerDataSets(json);
}

class BaseSondaTest : public BaseTest {
 protected:
  void SetUp() override {
    BaseTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    pgtest::Configure(conexao_, S().Tenant());
    conexao_.Open();
  }
  db::TDBConnection conexao_;
};

TEST_F(BaseSondaTest, UpdateErrorsOfTheSharedQueryFailAndKeepTheTranslatedText) {
  TsmSonda sonda;
  EXPECT_EQ(sonda.UpdateError(), "");
  auto& q = sonda.Query();
  q.SetConnection(&conexao_);
  q.SetSQL("SELECT cd_cidade, nome, cd_estado, ddd FROM Cidade");
  q.SetCachedUpdates(true);
  q.Open();
  q.Append();
  q.FieldByName("cd_cidade").SetAsInteger(3550308);  // already there
  q.FieldByName("nome").SetAsString("Outra");
  q.FieldByName("cd_estado").SetAsString("SP");
  q.Post();
  EXPECT_EQ(q.ApplyUpdates(-1), 1);
  EXPECT_EQ(sonda.UpdateError().rfind("Ocorreu um erro inesperado. Detalhes: ", 0), 0u)
      << sonda.UpdateError();
  EXPECT_EQ(sonda.UpdateError().find("[unixODBC]"), std::string::npos) << sonda.UpdateError();
}

TEST_F(BaseSondaTest, QueryContainerKeepsTheInstanceAndTheReservationUntilDropped) {
  auto sonda = std::make_shared<TsmSonda>();
  const std::weak_ptr<TsmSonda> fraco = sonda;
  auto conjuntos = sonda->Cidades(conexao_);
  ASSERT_EQ(conjuntos->Count(), 1u);
  EXPECT_EQ((*conjuntos)[0].Nome, "qySQL");

  sonda.reset();  // the session ends before the answer is written
  EXPECT_FALSE(fraco.expired());
  const auto lidos = Escrever(*conjuntos);
  ASSERT_EQ(lidos.size(), 1u);
  EXPECT_EQ(lidos[0].Linhas.size(), 3u);  // tenant 1's cities below 4000000

  auto viva = fraco.lock();
  {
    // Another call on the instance waits while the container lives.
    auto outra = std::async(std::launch::async, [p = viva.get()] {
      TReservaQuery r = p->Reservar();
      return true;
    });
    EXPECT_EQ(outra.wait_for(100ms), std::future_status::timeout);
    conjuntos.reset();
    EXPECT_TRUE(outra.get());
  }
  // Given back closed and unbound, so the call's connection can go whenever it ends.
  EXPECT_FALSE(viva->Query().Active());
  EXPECT_EQ(viva->Query().Connection(), nullptr);
  viva.reset();
  EXPECT_TRUE(fraco.expired());
}

TEST_F(BaseSondaTest, AProcedureIsReleasedWithItsContainerAndAnEmptyResultKeepsItsColumns) {
  TsmSonda sonda;
  std::weak_ptr<db::TDBStoredProc> fraco;
  {
    auto sp = std::make_shared<db::TDBStoredProc>(&conexao_);
    sp->SetStoredProcName("spcPDVEmpresaUsuario");
    sp->ParamByName("@cd_empresa").SetAsInteger(1);
    sp->ParamByName("@cd_usuario").SetAsSmallInt(1);  // not a point-of-sale user: no rows
    sp->Open();
    fraco = sp;
    auto conjuntos = sonda.Procedimento(std::move(sp));
    EXPECT_EQ((*conjuntos)[0].Nome, "");
    const auto lidos = Escrever(*conjuntos);
    ASSERT_EQ(lidos.size(), 1u);
    EXPECT_EQ(lidos[0].Nome, "");
    EXPECT_EQ(lidos[0].Colunas.size(), 6u);
    EXPECT_TRUE(lidos[0].Linhas.empty());
    EXPECT_FALSE(fraco.expired());
  }
  EXPECT_TRUE(fraco.expired());
}

TEST_F(BaseTest, CallsOfOneSessionMeetingOnOneInstanceEachGetTheirOwnAnswer) {
  std::string sessao = S().Sessao(pgtest::kTokenLoja1, "ADMIN", "admin123");
  std::vector<std::future<std::string>> f;
  for (int i = 0; i < 6; ++i)
    f.push_back(std::async(std::launch::async, [&, i] {
      std::string s = sessao, erros;
      for (int n = 0; n < 6; ++n) {
        // Different statements on the same qySQL of the session's TsmCadastro.
        if ((i + n) % 3 == 0) {
          const auto ds = UmDataSet(S().Chamar("GET", "TsmCadastro/ConsultarCadastro", s));
          if (ds.Linhas.size() != 9) erros += "todos:" + std::to_string(ds.Linhas.size()) + " ";
        } else if ((i + n) % 3 == 1) {
          const auto ds = UmDataSet(S().Chamar("GET", "TsmCadastro/ConsultarCadastro/15", s));
          if (Coluna(ds, "cd_cadastro") != std::vector<std::string>{"15"}) erros += "15 ";
        } else {
          const TResposta r = S().Chamar("GET", "TsmCadastro/ConsultarCadastroJSON/16", s);
          if (r.Corpo.find("MERCEARIA DA MARIA") == std::string::npos ||
              r.Corpo.find("JOSE") != std::string::npos)
            erros += "json:" + r.Corpo + " ";
        }
      }
      return erros;
    }));
  for (auto& x : f) EXPECT_EQ(x.get(), "");
}

}  // namespace
}  // namespace tamrix::endpoints::teste

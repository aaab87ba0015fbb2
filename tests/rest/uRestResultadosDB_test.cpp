// Filters and cache mode on a real query: the "t" filter crops what the database returns,
// and a kept data set is read back after the call's connection is closed.
#include <gtest/gtest.h>

#include "ResultadosTeste.h"
#include "db/uDBConnection.h"
#include "db/uDBQuery.h"
#include "support/pgtest.h"

namespace tamrix::rest::teste {
namespace {

// Opens the connection for the call, as the server does for a tenant; the disconnect hook
// closes it when the answer is made.
db::TDBConnection* gConexao = nullptr;

struct TsmNumeros {
  TJSONDataSetsPtr Consultar(std::int32_t n) {
    gConexao->Open();
    auto q = std::make_shared<db::TDBQuery>(gConexao);
    q->SetName("qySQL");
    q->SetSQL("SELECT n, 'linha ' || n AS texto FROM generate_series(1, " + std::to_string(n) +
              ") AS n ORDER BY n");
    auto colecao = std::make_shared<TJSONDataSets>();
    TJSONDataSetsWriter::ListAdd(*colecao, std::move(q));
    return colecao;
  }
};

class RestResultadosDB : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    pgtest::Configure(conexao, pgtest::Env()->tenant1Db);
    gConexao = &conexao;
    servidor.RegistrarClasse(
        TTabelaClasse<TsmNumeros>("TsmNumeros").Metodo("Consultar", &TsmNumeros::Consultar, "piN"));
    servidor.DefinirOnDisconnect([this] { conexao.Close(); });
    servidor.Iniciar();
  }
  void TearDown() override { gConexao = nullptr; }

  db::TDBConnection conexao;
  TRestServer servidor;
  TRestHTTPWebDispatcher d{servidor};
};

TEST_F(RestResultadosDB, TableFilterCropsALargeQuery) {
  auto r = Chamar(d, {"GET", "/tamrix/rest/TsmNumeros/Consultar/200000?t.r=1000,3"});
  ASSERT_EQ(r.R.StatusCode, 200) << r.R.Content;
  const auto lidos = LerRespostaDataSets(r.R.Content);
  ASSERT_EQ(lidos.size(), 1u);
  ASSERT_EQ(lidos[0].Colunas.size(), 2u);
  EXPECT_EQ(lidos[0].Linhas,
            (std::vector<TLinhaDataSet>{
                {"1001", "linha 1001"}, {"1002", "linha 1002"}, {"1003", "linha 1003"}}));
  EXPECT_FALSE(conexao.Connected());
}

TEST_F(RestResultadosDB, KeptDataSetOutlivesTheConnection) {
  TRequisicao pedido("GET", "/tamrix/rest/TsmNumeros/Consultar/40?t.c=2");
  pedido.Cabecalhos.push_back({"Accept", "application/rest"});
  auto r = Chamar(d, pedido);
  ASSERT_EQ(r.R.Content, R"({"result":["0\/0\/0"],"cacheId":0,"cmdIndex":0})");
  ASSERT_FALSE(conexao.Connected());

  TRequisicao leitura("GET", "/tamrix/cache/0/0/0");
  leitura.Cabecalhos.push_back({"Pragma", "dssession=" + r.Sessao()});
  auto valor = Chamar(d, leitura);
  ASSERT_EQ(valor.R.StatusCode, 200);
  const auto lidos = LerContainerDataSets(boost::json::parse(valor.R.Content).at("result"));
  EXPECT_EQ(lidos.at(0).Linhas, (std::vector<TLinhaDataSet>{{"1", "linha 1"}, {"2", "linha 2"}}));

  TRequisicao apagar("DELETE", "/tamrix/cache/0");
  apagar.Cabecalhos = leitura.Cabecalhos;
  EXPECT_EQ(Chamar(d, apagar).R.Content, R"({"result":[true]})");
  EXPECT_EQ(Chamar(d, leitura).R.Content, R"({"error":"There is no cached item with ID: 0"})");
}

}  // namespace
}  // namespace tamrix::rest::teste

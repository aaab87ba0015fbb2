// The commercial queries through the REST dispatcher: the bindings of each procedure, the
// optional @id_grupo, the synchronisation date, the fixed company of spcMLOVendas and the
// order items statement.
#include "EndpointsTeste.h"

namespace tamrix::endpoints::teste {
namespace {

using V = std::vector<std::string>;
using ComercialTest = EndpointsTest;

TEST_F(ComercialTest, ConsultarBandeirasAtivasSendsTheSessionsUserCode) {
  // A failed login leaves the token, not a user code: 0 is sent.
  std::string s;
  S().Get("TsmUsuario/Login/MARIA/errada/" + std::string(pgtest::kTokenLoja1), s);
  auto ds = UmDataSet(S().Get("TsmADF/ConsultarBandeirasAtivas", s));
  EXPECT_EQ(ds.Nome, "");
  EXPECT_EQ(Coluna(ds, "cd_bandeira"), (V{"1", "2", "3", "5"}));
  EXPECT_EQ(Coluna(ds, "cd_usuario"), (V{"0", "0", "0", "0"}));

  s = S().Sessao(pgtest::kTokenLoja1, "JOAO", "pdv4464");
  ds = UmDataSet(S().Get("TsmADF/ConsultarBandeirasAtivas", s));
  EXPECT_EQ(Coluna(ds, "cd_usuario"), (V{"4464", "4464", "4464", "4464"}));

  s = S().Sessao(pgtest::kTokenLoja2, "LUCIA", "balcao1");
  ds = UmDataSet(S().Get("TsmADF/ConsultarBandeirasAtivas", s));
  EXPECT_EQ(Coluna(ds, "cd_bandeira"), (V{"1", "6"}));
}

TEST_F(ComercialTest, ConsultarTabPrecoItemBindsTheGroupOnlyWhereTheProcedureHasIt) {
  std::string s1 = S().Sessao(pgtest::kTokenLoja1, "MARIA", "caixa01");
  auto ds = UmDataSet(S().Get("TsmADM/ConsultarTabPrecoItem/1/001/20", s1));
  EXPECT_EQ(ds.Nome, "");
  EXPECT_EQ(Coluna(ds, "cd_item"), (V{"2001", "2002"}));
  EXPECT_EQ(Coluna(ds, "cd_usuario"), (V{"2", "2"}));
  ds = UmDataSet(S().Get("TsmADM/ConsultarTabPrecoItem/1/002/10", s1));
  EXPECT_EQ(Coluna(ds, "cd_item"), V{"1001"});
  // A group above 32 bits reaches the procedure whole (and matches nothing).
  ds = UmDataSet(S().Get("TsmADM/ConsultarTabPrecoItem/1/001/4294967306", s1));
  EXPECT_TRUE(ds.Linhas.empty());
  EXPECT_EQ(ds.Colunas.size(), 7u);

  // Tenant 2's older procedure has no @id_grupo: the group is ignored.
  std::string s2 = S().Sessao(pgtest::kTokenLoja2, "LUCIA", "balcao1");
  ds = UmDataSet(S().Get("TsmADM/ConsultarTabPrecoItem/1/001/99", s2));
  EXPECT_EQ(Coluna(ds, "cd_item"), (V{"7001", "7002"}));
  EXPECT_EQ(Coluna(ds, "cd_usuario"), (V{"2", "2"}));
}

TEST_F(ComercialTest, ConsultarItensPedidoRunsTheStatementOnTheSharedQuery) {
  std::string s = S().Sessao(pgtest::kTokenLoja1, "MARIA", "caixa01");
  auto ds = UmDataSet(S().Get("TsmADV/ConsultarItensPedido/1/500", s));
  EXPECT_EQ(ds.Nome, "qySQL");
  const V nomes = {"cd_empresa", "nr_pedido", "cd_cadastro", "cgc_cpf",
                   "razao",      "fantasia",  "cd_item",     "descricao",
                   "unidade",    "qt_pedida", "vl_unitario", "vl_total"};
  EXPECT_EQ(NomesColunas(ds), nomes);
  auto itens = Coluna(ds, "cd_item");
  std::sort(itens.begin(), itens.end());
  EXPECT_EQ(itens, (V{"1001", "1002", "2002"}));
  EXPECT_EQ(Coluna(ds, "razao")[0], "MARIA APARECIDA SILVA SANTOS");
  // The item without an Item row is left out.
  ds = UmDataSet(S().Get("TsmADV/ConsultarItensPedido/1/501", s));
  EXPECT_EQ(Coluna(ds, "cd_item"), V{"2001"});
  for (const char* vazio : {"1/502", "1/9999"}) {
    ds = UmDataSet(S().Get(std::string("TsmADV/ConsultarItensPedido/") + vazio, s));
    EXPECT_EQ(ds.Nome, "qySQL");
    EXPECT_EQ(NomesColunas(ds), nomes);
    EXPECT_TRUE(ds.Linhas.empty()) << vazio;
  }
  ds = UmDataSet(S().Get("TsmADV/ConsultarItensPedido/2/500", s));
  EXPECT_EQ(Coluna(ds, "cd_item"), V{"3001"});
}

TEST_F(ComercialTest, ConsultarItensPedidoPDVSendsTheSessionsUserCode) {
  std::string s = S().Sessao(pgtest::kTokenLoja1, "JOAO", "pdv4464");
  const auto ds = UmDataSet(S().Get("TsmADV/ConsultarItensPedidoPDV/1/500", s));
  EXPECT_EQ(ds.Nome, "");
  EXPECT_EQ(Coluna(ds, "nr_item"), (V{"1", "2", "3"}));
  EXPECT_EQ(Coluna(ds, "cd_usuario"), (V{"4464", "4464", "4464"}));
}

TEST_F(ComercialTest, ConsultarDadosSincronizacaoDateOnlyAboveZeroAndTheArgumentsUserCode) {
  // The session's user is MARIA (2); the argument's 70000 goes as 4464.
  std::string s = S().Sessao(pgtest::kTokenLoja1, "MARIA", "caixa01");
  struct {
    std::string data;
    V quantidades;
    std::string dataEnviada;
  } casos[] = {
      {"null", {"6", "5"}, "<null>"},
      {"1899-12-30", {"6", "5"}, "<null>"},  // zero
      {"1899-12-29", {"6", "5"}, "<null>"},  // negative
      {"2016-10-06", {"2", "2"}, "2016-10-06 00:00:00"},
      {"2016-10-06%2012:30:15", {"2", "2"}, "2016-10-06 12:30:15"},
      {"2016-10-09%2008:00:00", {"0", "0"}, "2016-10-09 08:00:00"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.data);
    const auto ds =
        UmDataSet(S().Get("TsmVEX/ConsultarDadosSincronizacao/1/70000/001/" + c.data, s));
    EXPECT_EQ(ds.Nome, "");
    EXPECT_EQ(Coluna(ds, "tabela"), (V{"Item", "TabPrecoItem"}));
    EXPECT_EQ(Coluna(ds, "qt_registros"), c.quantidades);
    EXPECT_EQ(Coluna(ds, "dt_sincronizacao"), (V{c.dataEnviada, c.dataEnviada}));
    EXPECT_EQ(Coluna(ds, "cd_usuario"), (V{"4464", "4464"}));
  }
}

TEST_F(ComercialTest, ConsultarCuponsProcessadosAlwaysAsksForCompanyOne) {
  // Logged in as PEDRO, who works for company 2: the answer is still company 1's.
  std::string s = S().Sessao(kTokenExtra, "PEDRO", "caixa02");
  const auto ds = UmDataSet(S().Get("TsmMLO/ConsultarCuponsProcessados", s));
  EXPECT_EQ(ds.Nome, "");
  EXPECT_EQ(Coluna(ds, "cd_empresa"), (V{"1", "1"}));
  EXPECT_EQ(Coluna(ds, "cnpj_cpf"), (V{"11222333000181", "11222333000181"}));
  EXPECT_EQ(Coluna(ds, "nr_ordem"), (V{"1", "2"}));
}

TEST_F(ComercialTest, FailuresOfTheDatabaseReachTheClientAsErrors) {
  // A registered token whose database is missing.
  std::string s;
  S().Get("TsmUsuario/Login/X/y/" + std::string(pgtest::kTokenSemBanco), s);
  TResposta r = S().Get("TsmMLO/ConsultarCuponsProcessados", s);
  EXPECT_EQ(r.Status, 500);
  EXPECT_EQ(r.Corpo.rfind(R"({"error":"N\u00E3o foi poss\u00EDvel conectar ao banco de dados )", 0),
            0u)
      << r.Corpo;
  // A path argument that is not an integer.
  s = S().Sessao(pgtest::kTokenLoja1, "MARIA", "caixa01");
  r = S().Get("TsmADV/ConsultarItensPedidoPDV/1/x", s);
  EXPECT_EQ(r.Status, 500);
  EXPECT_EQ(r.Corpo, R"({"error":"'x' is not a valid integer value"})");
  // The session goes on working after a failed call.
  EXPECT_EQ(UmDataSet(S().Get("TsmADV/ConsultarItensPedidoPDV/1/500", s)).Linhas.size(), 3u);
}

}  // namespace
}  // namespace tamrix::endpoints::teste

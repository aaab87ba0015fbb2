// TsmConfigBD: the tenant directory entry of a token, read on the main connection.
#include <future>

#include "EndpointsTeste.h"

namespace tamrix::endpoints::teste {
namespace {

using ConfigBDTest = EndpointsTest;
using V = std::vector<std::string>;

const V kColunas = {"token", "ip_bd", "instancia", "nome_bd", "usuario_bd", "senha_bd"};

TEST_F(ConfigBDTest, KnownAndUnknownTokenWithoutAnyLogin) {
  auto ds =
      UmDataSet(S().Get("TsmConfigBD/ConsultarConfiguracoes/" + std::string(pgtest::kTokenLoja1)));
  EXPECT_EQ(ds.Nome, "qySQL");
  EXPECT_EQ(NomesColunas(ds), kColunas);
  ASSERT_EQ(ds.Linhas.size(), 1u);
  EXPECT_EQ(Coluna(ds, "token"), V{pgtest::kTokenLoja1});
  EXPECT_EQ(Coluna(ds, "nome_bd"), V{"tamrix_tenant1"});
  EXPECT_EQ(Coluna(ds, "instancia"), V{"<null>"});
  // Credentials as stored, scrambled.
  EXPECT_EQ(Coluna(ds, "usuario_bd"), V{pgtest::Env()->userScrambled});
  EXPECT_EQ(Coluna(ds, "senha_bd"), V{pgtest::Env()->passwordScrambled});

  ds = UmDataSet(S().Get("TsmConfigBD/ConsultarConfiguracoes/TkNaoExiste"));
  EXPECT_EQ(ds.Nome, "qySQL");
  EXPECT_EQ(NomesColunas(ds), kColunas);
  EXPECT_TRUE(ds.Linhas.empty());
  // The token is bound as a value, never part of the statement.
  ds = UmDataSet(S().Get("TsmConfigBD/ConsultarConfiguracoes/x'%20OR%20'1'='1"));
  EXPECT_TRUE(ds.Linhas.empty());
}

TEST_F(ConfigBDTest, SharesTheMainConnectionWithOtherCallsAtOnce) {
  // Failing calls insert events on the main connection while others read ConfigBD on it.
  std::vector<std::future<bool>> f;
  for (int i = 0; i < 6; ++i)
    f.push_back(std::async(std::launch::async, [this, i] {
      bool ok = true;
      std::string s;
      for (int n = 0; n < 8; ++n) {
        if (i % 2 == 0) {
          const auto ds = UmDataSet(S().Chamar(
              "GET", "TsmConfigBD/ConsultarConfiguracoes/" + std::string(pgtest::kTokenLoja2), s));
          ok = ok && ds.Linhas.size() == 1 && Coluna(ds, "instancia") == V{""};
        } else {
          ok = ok && S().Chamar("GET", "TsmADF/ConsultarBandeirasAtivas", s).Status == 500;
        }
      }
      return ok;
    }));
  for (auto& x : f) EXPECT_TRUE(x.get());
}

}  // namespace
}  // namespace tamrix::endpoints::teste

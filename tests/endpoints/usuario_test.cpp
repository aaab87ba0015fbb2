// TsmUsuario through the REST dispatcher: every Login / LoginPDV outcome with the session
// values it leaves, and the two user queries.
#include <boost/json.hpp>

#include "EndpointsTeste.h"

namespace tamrix::endpoints::teste {
namespace {

using UsuarioTest = EndpointsTest;

const std::string kSemPermissao = "Usuário sem permissão de acesso.";

// The [message, result] of a Login answer.
std::pair<std::string, bool> Resultado(const TResposta& r) {
  EXPECT_EQ(r.Status, 200) << r.Corpo;
  const auto v = boost::json::parse(r.Corpo);
  const auto& a = v.at("result").as_array();
  EXPECT_EQ(a.size(), 2u) << r.Corpo;
  return {std::string(a.at(0).as_string()), a.at(1).as_bool()};
}

struct TValoresSessao {
  std::string Token, Usuario, Senha, CodigoUsuario, App;
  friend bool operator==(const TValoresSessao&, const TValoresSessao&) = default;
};
std::ostream& operator<<(std::ostream& os, const TValoresSessao& v) {
  return os << "{" << v.Token << "|" << v.Usuario << "|" << v.Senha << "|" << v.CodigoUsuario << "|"
            << v.App << "}";
}

TEST_F(UsuarioTest, EveryLoginOutcomeAndTheSessionValuesItLeaves) {
  const std::string t1 = pgtest::kTokenLoja1, t2 = pgtest::kTokenLoja2;
  // Every case runs in a session where MARIA (code 2) logged in before; "kept" values are hers.
  const TValoresSessao antes{t1, "MARIA", "caixa01", "2", ""};
  struct TCaso {
    std::string caminho;
    std::string mensagem;  // a trailing "*" compares only the start
    bool resultado;
    TValoresSessao depois;
  } casos[] = {
      {"Login/%20%20%20/x/" + t2, kSemPermissao, false, antes},
      {"Login/MARIA/%09/" + t2, kSemPermissao, false, antes},
      {"Login/ADMIN/errada/" + t2, kSemPermissao, false, {t2, "ADMIN", "caixa01", "2", ""}},
      {"Login/ADMIN/admin123/" + t1, "Sucesso", true, {t1, "ADMIN", "admin123", "1", ""}},
      // the same login, password of tenant 2's administrator: the token chooses the database
      {"Login/ADMIN/farma2016/" + t2, "Sucesso", true, {t2, "ADMIN", "farma2016", "1", ""}},
      {"Login/MARIA/caixa01/TkNaoExiste",
       "Token TkNaoExiste não cadastrado.",
       false,
       {"TkNaoExiste", "MARIA", "caixa01", "2", ""}},
      // token segment missing: an empty token, two blanks after the word Token
      {"Login/PEDRO/caixa02", "Token  não cadastrado.", false, {"", "PEDRO", "caixa01", "2", ""}},
      // the token, untrimmed, is stored as given
      {"Login/PEDRO/caixa02/%20x",
       "Token  x não cadastrado.",
       false,
       {" x", "PEDRO", "caixa01", "2", ""}},
      {"Login/ANA/x/" + std::string(pgtest::kTokenSemBanco),
       "Não foi possível conectar ao banco de dados tamrix_inexistente em 127.0.0.1.\r\nDetalhes: "
       "*",
       false,
       {pgtest::kTokenSemBanco, "ANA", "caixa01", "2", ""}},
      {"LoginPDV/MARIA/caixa01/%20", "Token de acesso não informado.", false, antes},
      {"LoginPDV/MARIA/caixa01", "Token de acesso não informado.", false, antes},
      {"LoginPDV/ADMIN/admin123/" + t1,
       kSemPermissao,
       false,
       {t1, "ADMIN", "admin123", "1", "PDV"}},
      {"LoginPDV/PEDRO/errada/" + t1, kSemPermissao, false, {t1, "PEDRO", "caixa01", "2", "PDV"}},
      {"LoginPDV/ABC/x/TkNaoExiste",
       "Token TkNaoExiste não cadastrado.",
       false,
       {"TkNaoExiste", "ABC", "caixa01", "2", "PDV"}},
      {"LoginPDV/JOAO/pdv4464/" + t1, "Sucesso", true, {t1, "JOAO", "pdv4464", "4464", "PDV"}},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.caminho);
    const std::string sessao = S().Sessao(t1, "MARIA", "caixa01");
    std::string s = sessao;
    const auto [mensagem, resultado] = Resultado(S().Get("TsmUsuario/" + c.caminho, s));
    EXPECT_EQ(s, sessao);
    if (!c.mensagem.empty() && c.mensagem.back() == '*')
      EXPECT_EQ(mensagem.substr(0, c.mensagem.size() - 1),
                c.mensagem.substr(0, c.mensagem.size() - 1));
    else
      EXPECT_EQ(mensagem, c.mensagem);
    EXPECT_EQ(resultado, c.resultado);
    const TValoresSessao depois{S().DadoSessao(s, "Token"), S().DadoSessao(s, "Usuario"),
                                S().DadoSessao(s, "Senha"), S().DadoSessao(s, "CodigoUsuario"),
                                S().DadoSessao(s, "App")};
    EXPECT_EQ(depois, c.depois);
  }
}

TEST_F(UsuarioTest, BlankLoginOfANewSessionWritesNothing) {
  std::string s;
  EXPECT_EQ(
      Resultado(S().Get("TsmUsuario/Login/%20%20%20/x/" + std::string(pgtest::kTokenLoja1), s)),
      std::make_pair(kSemPermissao, false));
  for (const char* chave : {"Token", "Usuario", "Senha", "CodigoUsuario", "App"})
    EXPECT_FALSE(S().TemDadoSessao(s, chave)) << chave;
}

TEST_F(UsuarioTest, SeveralMatchingUsersTakeTheFirstRowsCode) {
  std::string s;
  EXPECT_EQ(
      Resultado(S().Get("TsmUsuario/Login/GERENTE/ger2016/" + std::string(pgtest::kTokenLoja1), s)),
      std::make_pair(std::string("Sucesso"), true));
  const std::string codigo = S().DadoSessao(s, "CodigoUsuario");
  EXPECT_TRUE(codigo == "7" || codigo == "8") << codigo;
}

const std::vector<std::string> kColunasUsuario = {
    "cd_usuario",     "nome",         "login",       "senha",        "cd_gusuario",
    "cd_empresa",     "cd_atendente", "razao",       "fantasia",     "endereco_empresa",
    "cidade_empresa", "uf_empresa",   "cep_empresa", "cnpj_empresa", "inscricao_est"};

TEST_F(UsuarioTest, ConsultarDadosUsuarioJoinsTheCompanyAndTheUsersOwnCity) {
  std::string s = S().Sessao(pgtest::kTokenLoja1, "MARIA", "caixa01");
  auto ds = UmDataSet(S().Get("TsmUsuario/ConsultarDadosUsuario/ADMIN/admin123", s));
  EXPECT_EQ(ds.Nome, "qySQL");
  EXPECT_EQ(NomesColunas(ds), kColunasUsuario);
  ASSERT_EQ(ds.Linhas.size(), 1u);
  EXPECT_EQ(Coluna(ds, "razao")[0], "MERCADO TAMRIX COMERCIO DE ALIMENTOS LTDA");
  EXPECT_EQ(Coluna(ds, "endereco_empresa")[0], "AV. PAULISTA, 1578");
  EXPECT_EQ(Coluna(ds, "cidade_empresa")[0], "São Paulo");
  EXPECT_EQ(Coluna(ds, "uf_empresa")[0], "SP");
  EXPECT_EQ(Coluna(ds, "cep_empresa")[0], "01310-200");
  EXPECT_EQ(Coluna(ds, "inscricao_est")[0], "110.042.490.114");
  EXPECT_EQ(Coluna(ds, "cd_atendente")[0], "<null>");

  // The branch's address has no number; PEDRO's own city is not registered.
  ds = UmDataSet(S().Get("TsmUsuario/ConsultarDadosUsuario/PEDRO/caixa02", s));
  ASSERT_EQ(ds.Linhas.size(), 1u);
  EXPECT_EQ(Coluna(ds, "endereco_empresa")[0], "RUA BARAO DE JAGUARA");
  EXPECT_EQ(Coluna(ds, "razao")[0], "MERCADO TAMRIX FILIAL CAMPINAS LTDA");
  EXPECT_EQ(Coluna(ds, "cidade_empresa")[0], "<null>");
  EXPECT_EQ(Coluna(ds, "uf_empresa")[0], "<null>");

  // A wrong password is no error: the columns, no rows.
  ds = UmDataSet(S().Get("TsmUsuario/ConsultarDadosUsuario/PEDRO/errada", s));
  EXPECT_EQ(NomesColunas(ds), kColunasUsuario);
  EXPECT_TRUE(ds.Linhas.empty());
}

TEST_F(UsuarioTest, ConsultarUsuarioPDVListsThePointOfSaleUsersOfTheSessionsTenant) {
  std::string s1 = S().Sessao(pgtest::kTokenLoja1, "ADMIN", "admin123");
  auto ds = UmDataSet(S().Get("TsmUsuario/ConsultarUsuarioPDV", s1));
  EXPECT_EQ(NomesColunas(ds), kColunasUsuario);
  auto logins = Coluna(ds, "login");
  std::sort(logins.begin(), logins.end());
  EXPECT_EQ(logins, (std::vector<std::string>{"JOAO", "MARIA", "PEDRO"}));

  std::string s2 = S().Sessao(pgtest::kTokenLoja2, "ADMIN", "farma2016");
  ds = UmDataSet(S().Get("TsmUsuario/ConsultarUsuarioPDV", s2));
  EXPECT_EQ(Coluna(ds, "login"), std::vector<std::string>{"LUCIA"});
}

TEST_F(UsuarioTest, DataCallsBeforeAnyLoginFailWithTheEmptyToken) {
  const TResposta r = S().Get("TsmUsuario/ConsultarUsuarioPDV");
  EXPECT_EQ(r.Status, 500);
  EXPECT_EQ(r.Corpo, R"({"error":"Token  n\u00E3o cadastrado."})");
}

}  // namespace
}  // namespace tamrix::endpoints::teste

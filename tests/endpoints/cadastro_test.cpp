// TsmCadastro through the REST dispatcher: the search filters, the hand-built JSON text and
// the point-of-sale company procedure.
#include <boost/json.hpp>

#include "EndpointsTeste.h"
#include "endpoints/usmCadastro.h"

namespace tamrix::endpoints::teste {
namespace {

class CadastroTest : public EndpointsTest {
 protected:
  void SetUp() override {
    EndpointsTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure() && sessao_.empty())
      sessao_ = S().Sessao(pgtest::kTokenLoja1, "ADMIN", "admin123");
  }
  TResposta Get(const std::string& caminho) { return S().Get("TsmCadastro/" + caminho, sessao_); }
  // The JSON text ConsultarCadastroJSON answers.
  std::string TextoJSON(const std::string& caminho) {
    const TResposta r = Get(caminho);
    EXPECT_EQ(r.Status, 200) << r.Corpo;
    return std::string(boost::json::parse(r.Corpo).at("result").at(0).as_string());
  }
  static inline std::string sessao_;
};

std::vector<std::string> Ordenados(std::vector<std::string> v) {
  std::sort(v.begin(), v.end(),
            [](const std::string& a, const std::string& b) { return std::stoi(a) < std::stoi(b); });
  return v;
}

TEST_F(CadastroTest, ConsultarCadastroFilters) {
  using V = std::vector<std::string>;
  const V todos = {"1", "2", "15", "16", "17", "18", "20", "21", "22"};  // 19 has no city
  struct {
    std::string args;
    V codigos;
  } casos[] = {
      {"", todos},
      {"null/null/null/null", todos},
      {"abc", todos},  // a code that is not an integer is no condition
      {"15", {"15"}},
      {"%2015", {"15"}},
      {"99/null/null/null", {}},
      {"null/SILVA", {"15", "16"}},  // contains, anywhere; 19 would match but has no city
      {"null/null/TAMRIX", {"1", "2"}},
      {"null/null/null/123.456.789-09", {"15"}},
      {"null/null/null/123.456", {}},  // exact, punctuation included
      {"null/null/null/12345678909", {}},
      {"16/SILVA/MARIA/987.654.321-00", {"16"}},
      {"15/SILVA/MARIA", {}},  // every given condition applies
      {"null/%25", {"1", "2", "15", "16", "17", "18", "20", "21"}},  // % keeps its LIKE meaning
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.args);
    const auto ds = UmDataSet(Get("ConsultarCadastro/" + c.args));
    EXPECT_EQ(ds.Nome, "qySQL");
    EXPECT_EQ(NomesColunas(ds),
              (V{"cd_cadastro", "razao", "fantasia", "cgc_cpf", "dt_cadastro", "endereco", "numero",
                 "complemento", "bairro", "cidade", "cd_estado", "cep", "ddd", "fone"}));
    EXPECT_EQ(Ordenados(Coluna(ds, "cd_cadastro")), c.codigos);
  }
}

TEST_F(CadastroTest, ConsultarCadastroJSONText) {
  EXPECT_EQ(TextoJSON("ConsultarCadastroJSON/15"),
            R"({"Sucesso":[{"cd_cadastro":"15","razao":"JOSE DA SILVA","fantasia":"",)"
            R"("cgc_cpf":"123.456.789-09","dt_cadastro":"20/01/2016 10:30:00",)"
            R"("endereco":"RUA DAS FLORES","numero":"45","complemento":"CASA 2",)"
            R"("bairro":"JARDIM AMERICA","cidade":"São Paulo","cd_estado":"SP",)"
            R"("cep":"01455-000","ddd":"11","fone":"(11) 98765-4321"}]})");
  EXPECT_EQ(TextoJSON("ConsultarCadastroJSON/99"), R"({"Sucesso":[]})");

  const std::string aspas = TextoJSON("ConsultarCadastroJSON/17");
  EXPECT_NE(aspas.find(R"("razao":"PADARIA \"PAO QUENTE\" LTDA")"), std::string::npos) << aspas;
  const std::string barra = TextoJSON("ConsultarCadastroJSON/20");
  EXPECT_NE(barra.find(R"("razao":"IMPORTADORA BARRA\\SUL LTDA")"), std::string::npos) << barra;

  // Whatever the rows hold, the text is JSON a client can read back.
  const auto todos = boost::json::parse(TextoJSON("ConsultarCadastroJSON/null/LTDA/null"));
  const auto& linhas = todos.at("Sucesso").as_array();
  std::vector<std::string> razoes;
  for (const auto& l : linhas) razoes.emplace_back(l.at("razao").as_string());
  std::sort(razoes.begin(), razoes.end());
  EXPECT_EQ(razoes, (std::vector<std::string>{
                        "AÇOUGUE SÃO JOÃO LTDA", "DISTRIBUIDORA D'AVILA E FILHOS LTDA",
                        "IMPORTADORA BARRA\\SUL LTDA", "MERCADO TAMRIX COMERCIO DE ALIMENTOS LTDA",
                        "MERCADO TAMRIX FILIAL CAMPINAS LTDA", "PADARIA \"PAO QUENTE\" LTDA"}));
  // The exact CNPJ condition of this variant.
  const auto um =
      boost::json::parse(TextoJSON("ConsultarCadastroJSON/null/null/04.252.011%2F0001-10"));
  ASSERT_EQ(um.at("Sucesso").as_array().size(), 1u);
  EXPECT_EQ(um.at("Sucesso").at(0).at("cd_cadastro").as_string(), "17");
}

TEST(CadastroJSONEscapeTest, QuoteBackslashAndControlCharacters) {
  EXPECT_EQ(EscaparTextoCadastroJSON("a\"b\\c"), R"(a\"b\\c)");
  EXPECT_EQ(EscaparTextoCadastroJSON(std::string("l1\r\nl2\t\x01")),
            R"(l1\u000D\u000Al2\u0009\u0001)");
  EXPECT_EQ(EscaparTextoCadastroJSON("ção/€"), "ção/€");
}

TEST_F(CadastroTest, ConsultarEmpresUsuarioPDVBindsTheLow16BitsOfTheUserCode) {
  auto ds = UmDataSet(Get("ConsultarEmpresUsuarioPDV/1/70000"));
  EXPECT_EQ(ds.Nome, "");
  EXPECT_EQ(Coluna(ds, "cd_usuario"), std::vector<std::string>{"4464"});
  EXPECT_EQ(Coluna(ds, "nome_usuario"), std::vector<std::string>{"JOAO PDV"});
  // The argument, not the session's user (ADMIN, code 1, no point of sale).
  ds = UmDataSet(Get("ConsultarEmpresUsuarioPDV/1/2"));
  EXPECT_EQ(Coluna(ds, "cd_usuario"), std::vector<std::string>{"2"});
  ds = UmDataSet(Get("ConsultarEmpresUsuarioPDV/2/2"));
  EXPECT_EQ(NomesColunas(ds), (std::vector<std::string>{"cd_empresa", "razao", "fantasia", "cnpj",
                                                        "cd_usuario", "nome_usuario"}));
  EXPECT_TRUE(ds.Linhas.empty());
}

}  // namespace
}  // namespace tamrix::endpoints::teste

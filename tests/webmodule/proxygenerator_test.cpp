// The generated client library: its text, and what the browser client makes of it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "web/uRestProxyGenerator.h"
#include "webmodule_fixture.h"

namespace tamrix::web::teste {
namespace {

using P = TProxyParamType;
using D = TProxyParamDirection;

std::vector<TProxyClass> Classes() {
  return {
      {"TsmComum",
       {{"InverterString", {{"pspTexto", P::ptString, D::pdIn}}, P::ptString},
        {"updateUploadFile",
         {{"psCNPJ"}, {"psData"}, {"psTipo"}, {"pjoArquivo", P::ptJSONValue, D::pdIn}},
         P::ptString}}},
      {"TsmUsuario",
       {{"Login",
         {{"pspUsuario"}, {"pspSenha"}, {"pspToken"}, {"pspMsg", P::ptString, D::pdOut}},
         P::ptBoolean}}},
      {"RestMetadata", {{"GetClasses", {}, std::nullopt}}},
      {"Tsm-Invalida", {{"X", {}, std::nullopt}}},
      {"TsmIntegracaoArquivo",
       {{"acceptEnviarArquivoVendas",
         {{"psToken"},
          {"psCNPJ"},
          {"psDt_Movimento"},
          {"psNomeArquivo"},
          {"pjoArquivo", P::ptJSONValue, D::pdIn}},
         P::ptJSONValue},
        {"cancelTudo", {{"function", P::ptInt32, D::pdInOut}}, std::nullopt}}},
  };
}

TEST(RestProxyGenerator, DescribesClassesVerbsAndParameters) {
  const std::string js = TRestProxyGenerator().Gerar(Classes());
  for (const char* trecho : {
           "var JSProxyClassList = {\n  \"TsmComum\": [\"InverterString\", \"updateUploadFile\"],",
           "\"updateUploadFile\": {\"verb\": \"POST\", \"url\": \"UploadFile\"",
           "\"acceptEnviarArquivoVendas\": {\"verb\": \"PUT\", \"url\": \"EnviarArquivoVendas\"",
           "\"cancelTudo\": {\"verb\": \"DELETE\", \"url\": \"Tudo\"",
           "{\"name\": \"pspMsg\", \"type\": \"string\", \"direction\": \"out\"}], "
           "\"result\": \"boolean\"}",
           "\"result\": null}",
           "function TsmUsuario(connectionInfo) {\n"
           "  var executor = new ServerFunctionExecutor(\"TsmUsuario\", connectionInfo);",
           "this.Login = function(pspUsuario, pspSenha, pspToken, onResult) {\n"
           "    return executor.executeMethod(\"Login\", \"GET\", [pspUsuario, pspSenha, "
           "pspToken], [false, false, false], onResult);",
           "this.Login_URL = function(pspUsuario, pspSenha, pspToken) {",
           "[psCNPJ, psData, psTipo, pjoArquivo], [false, false, false, true]",
           "this.cancelTudo = function(arg1, onResult)",  // a reserved word is renamed
           "left out: its name is not a JavaScript identifier",
       })
    EXPECT_NE(js.find(trecho), std::string::npos) << trecho << "\n---\n" << js;
  EXPECT_EQ(js.find("RestMetadata"), std::string::npos);
  EXPECT_EQ(js.find("function Tsm-Invalida"), std::string::npos);
  for (unsigned char c : js) EXPECT_LT(c, 0x80);
}

TEST(RestProxyGenerator, VerbComesFromThePrefix) {
  const std::tuple<const char*, const char*, const char*> casos[] = {
      {"Login", "GET", "Login"},   {"updateUploadFile", "POST", "UploadFile"},
      {"acceptX", "PUT", "X"},     {"cancelX", "DELETE", "X"},
      {"update", "GET", "update"}, {"UpdateX", "GET", "UpdateX"},
  };
  for (auto [nome, verbo, url] : casos) {
    auto v = VerboDoMetodo(nome);
    EXPECT_EQ(v.Verbo, verbo) << nome;
    EXPECT_EQ(v.NomeURL, url) << nome;
  }
}

TEST_F(WebModuleTest, BrowserClientSendsWhatTheProtocolExpects) {
  if (std::system("node --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "node not installed";
  const auto lib = base / "serverfunctions.js";
  auto todas = Classes();
  todas.erase(todas.begin() + 3);  // the invalid name only adds a comment
  TRestProxyGenerator().GravarArquivo(lib, todas);
  const std::string comando = std::string("node ") + TAMRIX_SOURCE_DIR +
                              "/tests/webmodule/jsclient_check.js " + TAMRIX_SOURCE_DIR +
                              "/share/js/tamrixrest.js " + lib.string() + " 2>&1";
  std::string saida;
  FILE* p = popen(comando.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char bloco[512];
  while (std::fgets(bloco, sizeof bloco, p)) saida += bloco;
  EXPECT_EQ(pclose(p), 0) << saida;
  EXPECT_NE(saida.find("jsclient ok"), std::string::npos) << saida;
}

}  // namespace
}  // namespace tamrix::web::teste

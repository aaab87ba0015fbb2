// The C++ reader of answers: error envelopes, answers with other elements, and containers
// that do not follow the layout.
#include <gtest/gtest.h>

#include <string>

#include "dataset/dataset_helpers.h"
#include "diagnostics/uExcecoes.h"
#include "rest/uDataSetReader.h"

namespace tamrix::testes {
namespace {

using rest::TTipoColuna;

std::string UmContainer() {
  return Container("qySQL", {Coluna("n", TTipoColuna::tcInteiro32)}, {{"1"}, {"2"}});
}

TEST(Reader, AnswerWithErrorThrowsTheServerMessage) {
  try {
    rest::LerRespostaDataSets(R"({"error":"Token X n\u00E3o cadastrado."})");
    ADD_FAILURE() << "no exception";
  } catch (const diagnostics::Exception& e) {
    EXPECT_STREQ(e.what(), "Token X não cadastrado.");
  }
  EXPECT_THROW(rest::LerRespostaDataSets("not json"), diagnostics::Exception);
  EXPECT_THROW(rest::LerRespostaDataSets(R"({"resultado":[]})"), diagnostics::Exception);
}

TEST(Reader, ContainersAmongOtherResultsAreFound) {
  const std::string corpo = R"({"result":["texto",)" + UmContainer() + "," + UmContainer() + "]}";
  const auto lidos = rest::LerRespostaDataSets(corpo);
  ASSERT_EQ(lidos.size(), 2u);
  EXPECT_EQ(lidos[1].Linhas.size(), 2u);
  EXPECT_TRUE(rest::LerRespostaDataSets(R"({"result":["Sucesso",true]})").empty());
}

TEST(Reader, ContainerOffTheLayoutIsRejected) {
  const std::string bom = UmContainer();
  auto Troca = [&](const std::string& de, const std::string& para) {
    std::string s = bom;
    const auto p = s.find(de);
    EXPECT_NE(p, std::string::npos) << de;
    return s.replace(p, de.size(), para);
  };
  const std::string texto = TextoDados(bom);
  const std::string casos[] = {
      Troca(R"("id":4)", R"("id":5)"),
      Troca(R"("FLength":5,)", R"("FLength":6,)"),
      Troca(R"("FOwned":true)", R"("FOwned":false)"),
      Troca("System.JSON.TJSONPair", "System.JSON.TJSONPar"),
      Troca(R"("FMaxCapacity":2147483647)", R"("FMaxCapacity":2147483646)"),
      Troca(R"(,"FMaxCapacity")", R"(,"x":1,"FMaxCapacity")"),
      Troca(texto.substr(0, 8), "AAAAAAAA"),  // the zlib header
  };
  for (const auto& s : casos) EXPECT_THROW(rest::LerContainerDataSets(s), diagnostics::Exception);
}

TEST(Reader, DataTextLineRuleIsChecked) {
  const std::string bom = TextoDados(UmContainer());
  ASSERT_LT(bom.size(), 76u);
  EXPECT_NO_THROW(rest::DecodificarTextoDados(bom));
  const std::string casos[] = {
      bom + "\r\n",  // a break after a short last line
      "",
      bom.substr(0, bom.size() - 1),
      bom.substr(0, 4) + "\r\n" + bom.substr(4),
      bom.substr(0, 4) + "=" + bom.substr(5),
  };
  for (const auto& s : casos)
    EXPECT_THROW(rest::DecodificarTextoDados(s), diagnostics::Exception) << s;
}

}  // namespace
}  // namespace tamrix::testes

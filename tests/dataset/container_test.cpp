// The container JSON: nesting and ids, names, the data text's line rule and length, and how
// the writer treats the data sets it runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/json.hpp>
#include <cstdint>
#include <string>

#include "dataset/dataset_helpers.h"
#include "diagnostics/uExcecoes.h"
#include "rest/uDataSetReader.h"
#include "rest/uJSONDataSets.h"

namespace tamrix::testes {
namespace {

using rest::TTipoColuna;

std::vector<rest::TColunaDataSet> DuasColunas() {
  return {Coluna("cd_cadastro", TTipoColuna::tcInteiro32),
          Coluna("razao", TTipoColuna::tcTexto, 60)};
}

std::vector<rest::TLinhaDataSet> Linhas(int n) {
  std::vector<rest::TLinhaDataSet> r;
  for (int i = 0; i < n; ++i) r.push_back({std::to_string(i), "Empresa " + std::to_string(i)});
  return r;
}

// Replaces the data text of pair 0 and its length by the placeholders the layout shows.
std::string SemTextoDados(std::string json) {
  const std::string chave = "\"FData\":\"";
  const auto p = json.find(chave, json.find(chave) + 1) + chave.size();
  const auto fim = json.find('"', p);
  json.replace(p, fim - p, "{data text}");
  const std::string chaveTamanho = "\"FLength\":";
  const auto q = json.find(chaveTamanho, p) + chaveTamanho.size();
  json.replace(q, json.find(',', q) - q, "{length}");
  return json;
}

TEST(Container, SharedQueryLayoutIsExact) {
  const std::string corpo = "{\"result\":[" + Container("qySQL", DuasColunas(), Linhas(3)) + "]}";
  EXPECT_EQ(
      SemTextoDados(corpo),
      R"({"result":[{"type":"Data.JSONReflect.TJSONDataSets","id":1,"fields":{"FDataSets":{"type":"System.JSON.TJSONObject","id":2,"fields":{"FMembers":[{"type":"System.JSON.TJSONPair","id":3,"fields":{"FJsonString":{"type":"System.JSON.TJSONString","id":4,"fields":{"FStrBuffer":{"type":"System.SysUtils.TStringBuilder","id":5,"fields":{"FData":"qySQL","FLength":5,"FMaxCapacity":2147483647}},"FOwned":true}},"FJsonValue":{"type":"System.JSON.TJSONString","id":6,"fields":{"FStrBuffer":{"type":"System.SysUtils.TStringBuilder","id":7,"fields":{"FData":"{data text}","FLength":{length},"FMaxCapacity":2147483647}},"FOwned":true}},"FOwned":true}}],"FOwned":true}}}}]})");
  const auto lidos = rest::LerRespostaDataSets(corpo);
  ASSERT_EQ(lidos.size(), 1u);
  EXPECT_EQ(lidos[0].Nome, "qySQL");
  EXPECT_EQ(lidos[0].Colunas, DuasColunas());
  EXPECT_EQ(lidos[0].Linhas, Linhas(3));
}

TEST(Container, NamesEscapedAndCountedInUtf16) {
  struct Caso {
    std::string nome, json;
    int unidades;
  } casos[] = {
      {"", R"("FData":"","FLength":0,)", 0},  // a procedure created at run time
      {"a/b", R"("FData":"a\/b","FLength":3,)", 3},
      {"Ação😀", R"("FData":"A\u00E7\u00E3o\uD83D\uDE00","FLength":6,)", 6},
  };
  for (const auto& c : casos) {
    const std::string json = Container(c.nome, DuasColunas(), Linhas(1));
    EXPECT_NE(json.find(R"("id":5,"fields":{)" + c.json), std::string::npos) << json;
    EXPECT_EQ(rest::LerContainerDataSets(json).at(0).Nome, c.nome);
  }
}

TEST(Container, EmptyResultKeepsItsColumns) {
  const std::string json = Container("", DuasColunas(), {});
  EXPECT_FALSE(TextoDados(json).empty());
  const auto lidos = rest::LerContainerDataSets(json);
  ASSERT_EQ(lidos.size(), 1u);
  EXPECT_EQ(lidos[0].Colunas, DuasColunas());
  EXPECT_TRUE(lidos[0].Linhas.empty());
}

// Incompressible bytes of a given length, so the compressed size can be steered.
std::string Ruido(std::size_t n, std::uint32_t semente) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    semente = semente * 1103515245u + 12345u;
    s += static_cast<char>(semente >> 23);
  }
  return s;
}

// 57 compressed bytes make one full line with its CR LF; 58 put 4 characters on a second
// line without one.
TEST(Container, LineRuleAt57And58CompressedBytes) {
  bool visto57 = false, visto58 = false;
  for (std::uint32_t semente = 1; semente < 20 && !(visto57 && visto58); ++semente) {
    for (std::size_t n = 0; n < 80; ++n) {
      const std::string json =
          Container("qySQL", {Coluna("b", TTipoColuna::tcBinario)}, {{Ruido(n, semente)}});
      const std::string texto = TextoDados(json);
      std::string semQuebras;
      for (char ch : texto)
        if (ch != '\r' && ch != '\n') semQuebras += ch;
      const std::size_t padding = std::count(semQuebras.end() - 2, semQuebras.end(), '=');
      const std::size_t bytes = semQuebras.size() / 4 * 3 - padding;
      if (bytes == 57) {
        visto57 = true;
        EXPECT_EQ(texto.size(), 78u);
        EXPECT_EQ(texto.substr(76), "\r\n");
        EXPECT_NE(json.find(R"(\r\n","FLength":78,)"), std::string::npos);
      } else if (bytes == 58) {
        visto58 = true;
        EXPECT_EQ(texto.size(), 82u);
        EXPECT_EQ(texto.substr(76, 2), "\r\n");
        EXPECT_EQ(texto.substr(80), "==");
        EXPECT_NE(json.find(R"(","FLength":82,)"), std::string::npos);
      }
    }
  }
  EXPECT_TRUE(visto57 && visto58);
}

TEST(Container, LongTextBreaksEveryLineAndCountsBreaksTwice) {
  std::vector<rest::TLinhaDataSet> linhas;
  for (int i = 0; i < 5000; ++i) linhas.push_back({std::to_string(i), Ruido(40, i + 7)});
  const std::string json = Container(
      "qySQL", {Coluna("n", TTipoColuna::tcInteiro32), Coluna("b", TTipoColuna::tcBinario)},
      linhas);
  const auto v = boost::json::parse(json);
  const auto& buffer = Buffer(v, 0, true);
  const std::string texto(buffer.at("FData").as_string());
  std::size_t quebras = 0, caracteres = 0;
  for (std::size_t i = 0; i < texto.size(); ++i) {
    if (texto[i] == '\r') {
      ASSERT_EQ(texto[i + 1], '\n');
      ASSERT_EQ(caracteres % 76, 0u);
      ++quebras, ++i;
    } else {
      ++caracteres;
    }
  }
  EXPECT_GT(quebras, 100u);
  EXPECT_EQ(quebras, caracteres / 76);
  EXPECT_EQ(buffer.at("FLength").as_int64(), static_cast<std::int64_t>(caracteres + 2 * quebras));
  for (std::size_t p = json.find('/'); p != std::string::npos; p = json.find('/', p + 1))
    ASSERT_EQ(json[p - 1], '\\') << "unescaped slash at " << p;
  EXPECT_EQ(rest::LerContainerDataSets(json).at(0).Linhas, linhas);
}

TEST(Container, SecondPairTakesIdsEightToTwelve) {
  rest::TJSONDataSets lista;
  rest::TJSONDataSetsWriter::ListAdd(
      lista, std::make_unique<TDataSetMemoria>("qySQL", DuasColunas(), Linhas(2)));
  rest::TJSONDataSetsWriter::ListAdd(
      lista, std::make_unique<TDataSetMemoria>("", DuasColunas(), Linhas(1)));
  std::string out;
  rest::EscreverJSONDataSets(lista, out);
  EXPECT_NE(
      out.find(
          R"({"type":"System.JSON.TJSONPair","id":8,"fields":{"FJsonString":{"type":"System.JSON.TJSONString","id":9,"fields":{"FStrBuffer":{"type":"System.SysUtils.TStringBuilder","id":10,"fields":{"FData":"",)"),
      std::string::npos);
  EXPECT_NE(
      out.find(
          R"("FJsonValue":{"type":"System.JSON.TJSONString","id":11,"fields":{"FStrBuffer":{"type":"System.SysUtils.TStringBuilder","id":12,)"),
      std::string::npos);
  const auto lidos = rest::LerContainerDataSets(out);
  ASSERT_EQ(lidos.size(), 2u);
  EXPECT_EQ(lidos[0].Linhas.size(), 2u);
  EXPECT_EQ(lidos[1].Linhas.size(), 1u);

  rest::TJSONDataSets vazia;
  std::string semPares;
  rest::EscreverJSONDataSets(vazia, semPares);
  EXPECT_EQ(
      semPares,
      R"({"type":"Data.JSONReflect.TJSONDataSets","id":1,"fields":{"FDataSets":{"type":"System.JSON.TJSONObject","id":2,"fields":{"FMembers":[],"FOwned":true}}}})");
}

TEST(Container, ClosedDataSetIsOpenedAndClosedAgainOpenOneStaysOpen) {
  rest::TJSONDataSets lista;
  auto fechado = std::make_unique<TDataSetMemoria>("qySQL", DuasColunas(), Linhas(2));
  auto aberto = std::make_unique<TDataSetMemoria>("", DuasColunas(), Linhas(2), true);
  TDataSetMemoria* f = fechado.get();
  TDataSetMemoria* a = aberto.get();
  rest::TJSONDataSetsWriter::ListAdd(lista, std::move(fechado));
  rest::TJSONDataSetsWriter::ListAdd(lista, std::move(aberto));
  std::string out;
  rest::EscreverJSONDataSets(lista, out);
  EXPECT_EQ(f->Aberturas(), 1);
  EXPECT_EQ(f->Fechamentos(), 1);
  EXPECT_FALSE(f->Ativo());
  EXPECT_EQ(a->Aberturas(), 0);
  EXPECT_EQ(a->Fechamentos(), 0);
  EXPECT_TRUE(a->Ativo());
  EXPECT_EQ(rest::LerContainerDataSets(out).at(1).Linhas, Linhas(2));
}

// No partial container: whatever fails, out is left as it was, and a data set the writer
// opened is closed again.
TEST(Container, FailureLeavesOutputUntouchedAndClosesTheDataSet) {
  {
    rest::TJSONDataSets lista;
    auto ds = std::make_unique<TDataSetMemoria>("qySQL", DuasColunas(), Linhas(2));
    ds->FalharAoAbrir("relation \"Cadastro\" does not exist");
    rest::TJSONDataSetsWriter::ListAdd(lista, std::move(ds));
    std::string out = "{\"result\":[";
    try {
      rest::EscreverJSONDataSets(lista, out);
      ADD_FAILURE() << "no exception";
    } catch (const diagnostics::EDatabaseError& e) {
      EXPECT_STREQ(e.what(), "relation \"Cadastro\" does not exist");
    }
    EXPECT_EQ(out, "{\"result\":[");
  }
  {
    rest::TJSONDataSets lista;
    auto ds = std::make_unique<TDataSetMemoria>("qySQL", DuasColunas(), Linhas(70000));
    ds->FalharNaLinha(65000);  // after the first pieces went through zlib
    TDataSetMemoria* p = ds.get();
    rest::TJSONDataSetsWriter::ListAdd(lista, std::move(ds));
    std::string out = "x";
    EXPECT_THROW(rest::EscreverJSONDataSets(lista, out), diagnostics::EDatabaseError);
    EXPECT_EQ(out, "x");
    EXPECT_EQ(p->Fechamentos(), 1);
    EXPECT_FALSE(p->Ativo());
  }
  {
    std::string out = "y";
    rest::TJSONDataSets lista;
    rest::TJSONDataSetsWriter::ListAdd(
        lista, std::make_unique<TDataSetMemoria>("qySQL", DuasColunas(),
                                                 std::vector<rest::TLinhaDataSet>{{"abc", "x"}}));
    try {
      rest::EscreverJSONDataSets(lista, out);
      ADD_FAILURE() << "no exception";
    } catch (const diagnostics::EDatabaseError& e) {
      EXPECT_STREQ(e.what(), "Valor inválido para a coluna \"cd_cadastro\" (Inteiro32): \"abc\"");
    }
    EXPECT_EQ(out, "y");
  }
}

TEST(Container, RowWindowSkipsAndStops) {
  struct Caso {
    rest::TJanelaLinhas janela;
    std::vector<int> esperadas;
  } casos[] = {
      {{}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {{2, 3}, {2, 3, 4}},
      {{8, 5}, {8, 9}},
      {{20, {}}, {}},
      {{0, 0}, {}},
  };
  for (const auto& c : casos) {
    std::vector<rest::TLinhaDataSet> esperadas;
    for (int i : c.esperadas) esperadas.push_back(Linhas(10)[i]);
    const auto lidos =
        rest::LerContainerDataSets(Container("qySQL", DuasColunas(), Linhas(10), c.janela));
    EXPECT_EQ(lidos.at(0).Linhas, esperadas) << c.janela.Inicio;
    EXPECT_EQ(lidos.at(0).Colunas, DuasColunas());
  }
}

}  // namespace
}  // namespace tamrix::testes

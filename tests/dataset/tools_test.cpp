// The readers outside the server: the JavaScript reader under Node and the tamrix-dataset
// command, both fed answers made by the writer.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <boost/json.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "dataset/dataset_helpers.h"
#include "rest/uDataSetReader.h"

namespace tamrix::testes {
namespace {

namespace fs = std::filesystem;
using rest::TTipoColuna;

struct TSaida {
  std::string texto;
  int status = -1;
};

// Runs a shell command, returning its standard output and exit status.
TSaida Executar(const std::string& comando) {
  TSaida r;
  FILE* p = popen(comando.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.texto.append(buf, n);
  const int s = pclose(p);
  r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  return r;
}

class Arquivos : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tamrix-dataset-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Gravar(const std::string& nome, const std::string& conteudo) {
    const fs::path p = dir_ / nome;
    std::ofstream(p, std::ios::binary) << conteudo;
    return p.string();
  }

  fs::path dir_;
};

std::string Hex(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string r = "0x";
  for (unsigned char b : bytes) r += {kHex[b >> 4], kHex[b & 15]};
  return r;
}

TEST_F(Arquivos, JavaScriptReaderDecodesTheSameBytesUnderNode) {
  if (Executar("command -v node >/dev/null").status != 0) GTEST_SKIP() << "node not installed";
  const auto [colunas, linhas] = TodosOsTipos();
  const std::string resposta = "{\"result\":[" + Container("qySQL", colunas, linhas) + "]}";
  const std::string script = std::string(TAMRIX_SOURCE_DIR) + "/tests/dataset/jsreader.js";
  const TSaida saida = Executar("node " + script + " " + Gravar("resposta.json", resposta));
  ASSERT_EQ(saida.status, 0) << saida.texto;

  const auto js = boost::json::parse(saida.texto).as_array();
  const auto cpp = rest::LerRespostaDataSets(resposta);
  ASSERT_EQ(js.size(), 1u);
  EXPECT_EQ(js[0].at("nome").as_string(), "qySQL");
  const auto& cols = js[0].at("colunas").as_array();
  ASSERT_EQ(cols.size(), colunas.size());
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const auto& c = colunas[i];
    EXPECT_EQ(cols[i].at("nome").as_string(), c.Nome);
    EXPECT_EQ(cols[i].at("tipo").as_int64(), static_cast<int>(c.Tipo));
    EXPECT_EQ(cols[i].at("nomeTipo").as_string(), rest::NomeTipoColuna(c.Tipo));
    EXPECT_EQ(cols[i].at("tipoSQL").as_int64(), c.TipoSQL);
    EXPECT_EQ(cols[i].at("tamanho").as_int64(), c.Tamanho);
    EXPECT_EQ(cols[i].at("precisao").as_int64(), c.Precisao);
    EXPECT_EQ(cols[i].at("escala").as_int64(), c.Escala);
    EXPECT_EQ(cols[i].at("nulidade").as_int64(), static_cast<int>(c.Nulidade));
  }
  const auto& rows = js[0].at("linhas").as_array();
  ASSERT_EQ(rows.size(), cpp[0].Linhas.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t i = 0; i < colunas.size(); ++i) {
      const auto& v = rows[r].at(i);
      const auto& esperado = cpp[0].Linhas[r][i];
      if (!esperado) {
        EXPECT_TRUE(v.is_null()) << colunas[i].Nome << " row " << r;
        continue;
      }
      ASSERT_TRUE(v.is_string()) << colunas[i].Nome << " row " << r;
      EXPECT_EQ(std::string(v.as_string()),
                colunas[i].Tipo == TTipoColuna::tcBinario ? Hex(*esperado) : *esperado)
          << colunas[i].Nome << " row " << r;
    }
  }

  const TSaida erro =
      Executar("node " + script + " " + Gravar("erro.json", R"({"error":"Falhou \u00E9"})"));
  EXPECT_EQ(erro.texto, R"({"erro":"Falhou é"})");
}

#ifdef TAMRIX_DATASET_CLI
TEST_F(Arquivos, CommandPrintsCsvWithNullApartFromEmpty) {
  const std::vector<rest::TColunaDataSet> colunas = {Coluna("n", TTipoColuna::tcInteiro32),
                                                     Coluna("t, texto", TTipoColuna::tcTexto),
                                                     Coluna("b", TTipoColuna::tcBinario)};
  const std::vector<rest::TLinhaDataSet> linhas = {
      {"1", "a,b", std::string("\x01\xff", 2)},
      {std::nullopt, "", ""},
      {"-5", "diz \"oi\"\r\nok", std::nullopt},
  };
  const std::string csv =
      "n,\"t, texto\",b\r\n"
      "1,\"a,b\",0x01FF\r\n"
      ",\"\",0x\r\n"
      "-5,\"diz \"\"oi\"\"\r\nok\",\r\n";
  const std::string cli = TAMRIX_DATASET_CLI;
  const std::string arquivo =
      Gravar("r.json", "{\"result\":[" + Container("qySQL", colunas, linhas) + "]}");
  const TSaida porArquivo = Executar(cli + " " + arquivo);
  EXPECT_EQ(porArquivo.status, 0);
  EXPECT_EQ(porArquivo.texto, csv);
  EXPECT_EQ(Executar(cli + " < " + arquivo).texto, csv);

  rest::TJSONDataSets lista;
  rest::TJSONDataSetsWriter::ListAdd(lista,
                                     std::make_unique<TDataSetMemoria>("a", colunas, linhas));
  rest::TJSONDataSetsWriter::ListAdd(
      lista, std::make_unique<TDataSetMemoria>("", std::vector{colunas[0]},
                                               std::vector<rest::TLinhaDataSet>{}));
  std::string container;
  rest::EscreverJSONDataSets(lista, container);  // a bare container is read too
  EXPECT_EQ(Executar(cli + " " + Gravar("c.json", container)).texto, csv + "\r\nn\r\n");

  // A value read back from the result cache: "result" holds the one kept value, no list.
  const TSaida doCache =
      Executar(cli + " " + Gravar("cache.json", "{\"result\":" + container + "}"));
  EXPECT_EQ(doCache.status, 0);
  EXPECT_EQ(doCache.texto, csv + "\r\nn\r\n");
  const TSaida semDataSet = Executar(cli + " " + Gravar("objeto.json", R"({"result":{"a":1}})"));
  EXPECT_EQ(semDataSet.status, 0);
  EXPECT_EQ(semDataSet.texto, "");
  std::string ruim = container;  // the kept value is checked as strictly as a list's
  ruim.insert(ruim.find("\"FLength\":") + 10, "9");
  EXPECT_EQ(Executar(cli + " " + Gravar("ruim.json", "{\"result\":" + ruim + "}") + " 2>/dev/null")
                .status,
            2);

  EXPECT_EQ(Executar(cli + " " + Gravar("e.json", R"({"error":"x"})") + " 2>/dev/null").status, 1);
  EXPECT_EQ(Executar(cli + " " + Gravar("g.json", "{\"result\":[") + " 2>/dev/null").status, 2);
  EXPECT_EQ(Executar(cli + " " + (dir_ / "ausente.json").string() + " 2>/dev/null").status, 2);
}
#endif

}  // namespace
}  // namespace tamrix::testes

// Shared pieces of the data-set tests: a column builder, writing a one-pair container and
// pulling a data text out of it.
#ifndef TAMRIX_TESTS_DATASET_HELPERS_H
#define TAMRIX_TESTS_DATASET_HELPERS_H

#include <boost/json.hpp>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "rest/uJSONDataSets.h"
#include "support/datasetmemoria.h"

namespace tamrix::testes {

inline rest::TColunaDataSet Coluna(std::string nome, rest::TTipoColuna tipo,
                                   std::uint32_t tamanho = 0) {
  rest::TColunaDataSet c;
  c.Nome = std::move(nome);
  c.Tipo = tipo;
  c.Tamanho = tamanho;
  c.Nulidade = rest::TNulidade::nuAceita;
  return c;
}

inline std::string TodosOsBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s;
}

// A column of every type with three rows of values (in their text forms, NULL and empty
// among them) and a fourth row of NULLs.
inline std::pair<std::vector<rest::TColunaDataSet>, std::vector<rest::TLinhaDataSet>>
TodosOsTipos() {
  // Each column: the values of three rows, in the form the reader gives them back.
  const struct {
    rest::TTipoColuna tipo;
    std::optional<std::string> v1, v2, v3;
  } casos[] = {
      {rest::TTipoColuna::tcLogico, "true", "false", std::nullopt},
      {rest::TTipoColuna::tcInteiro16, "-32768", "32767", "0"},
      {rest::TTipoColuna::tcInteiro32, "-2147483648", "2147483647", std::nullopt},
      {rest::TTipoColuna::tcInteiro64, "-9223372036854775808", "9223372036854775807", "-1"},
      {rest::TTipoColuna::tcDecimal, "-123456789012345678901234567890.123456789", "0.0001",
       "1234.50"},
      {rest::TTipoColuna::tcReal, "1.5", "-2.5e-10", "1e+308"},
      {rest::TTipoColuna::tcData, "0001-01-01", "9999-12-31", "2024-02-29"},
      {rest::TTipoColuna::tcHora, "00:00:00", "23:59:59.999999999", "12:30:00.5"},
      {rest::TTipoColuna::tcDataHora, "2024-02-29 13:45:10.123", "1899-12-30 00:00:00",
       std::nullopt},
      {rest::TTipoColuna::tcDataHoraFuso, "2024-01-01 10:00:00-03:00",
       "2024-06-30 23:59:59.1+05:45", "2000-01-01 00:00:00+00:00"},
      {rest::TTipoColuna::tcTexto, "Ação, \"aspas\"\r\nlinha/barra\\ 日本 😀", "", std::nullopt},
      {rest::TTipoColuna::tcBinario, TodosOsBytes(), "", std::string("\0", 1)},
      {rest::TTipoColuna::tcGuid, "6F9619FF-8B86-D011-B42D-00C04FC964FF", std::nullopt, ""},
  };
  std::vector<rest::TColunaDataSet> colunas;
  std::vector<rest::TLinhaDataSet> linhas(3);
  for (const auto& c : casos) {
    auto col = Coluna("c_" + std::string(rest::NomeTipoColuna(c.tipo)), c.tipo, 10);
    col.TipoSQL = -9;
    col.Precisao = 38;
    col.Escala = 9;
    col.Nulidade =
        colunas.size() % 2 ? rest::TNulidade::nuNaoAceita : rest::TNulidade::nuDesconhecida;
    colunas.push_back(col);
    linhas[0].push_back(c.v1);
    linhas[1].push_back(c.v2);
    linhas[2].push_back(c.v3);
  }
  linhas.push_back(rest::TLinhaDataSet(colunas.size()));
  return {colunas, linhas};
}

// The container JSON of one in-memory data set.
inline std::string Container(std::string nome, std::vector<rest::TColunaDataSet> colunas,
                             std::vector<rest::TLinhaDataSet> linhas,
                             const rest::TJanelaLinhas& janela = {}) {
  rest::TJSONDataSets lista;
  rest::TJSONDataSetsWriter::ListAdd(
      lista,
      std::make_unique<TDataSetMemoria>(std::move(nome), std::move(colunas), std::move(linhas)));
  std::string out;
  rest::EscreverJSONDataSets(lista, out, janela);
  return out;
}

// The buffer object (level 5) of pair k's name (valor = false) or data text (valor = true).
inline const boost::json::object& Buffer(const boost::json::value& c, std::size_t k, bool valor) {
  const auto& par = c.at("fields").at("FDataSets").at("fields").at("FMembers").at(k);
  return par.at("fields")
      .at(valor ? "FJsonValue" : "FJsonString")
      .at("fields")
      .at("FStrBuffer")
      .at("fields")
      .as_object();
}

inline std::string TextoDados(const std::string& container, std::size_t k = 0) {
  return std::string(Buffer(boost::json::parse(container), k, true).at("FData").as_string());
}

}  // namespace tamrix::testes

#endif  // TAMRIX_TESTS_DATASET_HELPERS_H

// Shared pieces of the data-set tests: a column builder, writing a one-pair container and
// pulling a data text out of it.
#ifndef TAMRIX_TESTS_DATASET_HELPERS_H
#define TAMRIX_TESTS_DATASET_HELPERS_H

#include <boost/json.hpp>
#include <memory>
#include <string>
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

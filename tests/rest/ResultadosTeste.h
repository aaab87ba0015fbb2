// A server class whose results exercise the request filters and the result cache: data sets
// of n numbered rows held in memory, strings, JSON values and mixed outputs.
#ifndef TAMRIX_TESTS_REST_RESULTADOSTESTE_H
#define TAMRIX_TESTS_REST_RESULTADOSTESTE_H

#include <boost/json.hpp>
#include <memory>
#include <string>
#include <vector>

#include "RestTeste.h"
#include "rest/uDataSetReader.h"
#include "rest/uJSONDataSets.h"
#include "rest/uJSONWriter.h"
#include "support/datasetmemoria.h"

namespace tamrix::rest::teste {

inline int gChamadasResultados = 0;
// Of the last data set a method returned: whether its collection is still alive after the
// answer, and how many rows were fetched from it (set when it is freed with the answer).
inline std::weak_ptr<TJSONDataSets> gUltimaColecao;
inline std::size_t gLinhasBuscadas = 0;

class TDataSetContado : public testes::TDataSetMemoria {
 public:
  using TDataSetMemoria::TDataSetMemoria;
  ~TDataSetContado() override { gLinhasBuscadas = LinhasLidas(); }
};

inline TJSONDataSetsPtr ColecaoNumerada(int n) {
  TColunaDataSet coluna;
  coluna.Nome = "n";
  coluna.Tipo = TTipoColuna::tcInteiro32;
  std::vector<TLinhaDataSet> linhas;
  for (int i = 0; i < n; ++i) linhas.push_back({std::to_string(i)});
  auto ds = std::make_unique<TDataSetContado>("qySQL", std::vector{coluna}, linhas);
  auto colecao = std::make_shared<TJSONDataSets>();
  TJSONDataSetsWriter::ListAdd(*colecao, std::move(ds));
  gUltimaColecao = colecao;
  return colecao;
}

// The numbers in the rows of one decoded data set.
inline std::vector<int> Numeros(const TDataSetLido& ds) {
  std::vector<int> r;
  for (const auto& linha : ds.Linhas) r.push_back(std::stoi(linha.at(0).value()));
  return r;
}

inline std::vector<int> Sequencia(int de, int quantos) {
  std::vector<int> r;
  for (int i = 0; i < quantos; ++i) r.push_back(de + i);
  return r;
}

class TsmResultados {
 public:
  TJSONDataSetsPtr Linhas(std::int32_t n) {
    ++gChamadasResultados;
    return ColecaoNumerada(n);
  }
  // Index 0: the out text, index 1: the data set.
  TJSONDataSetsPtr ComTexto(std::int32_t n, std::string& msg) {
    ++gChamadasResultados;
    msg = "linhas: " + std::to_string(n);
    return ColecaoNumerada(n);
  }
  std::string Texto(const std::string& s) {
    ++gChamadasResultados;
    return s;
  }
  // Texto's answer already written as JSON, as a method with a big answer makes it.
  TTextoJSON TextoPronto(const std::string& s) {
    TTextoJSON t;
    EscreverTextoJSON(t.JSON, s);
    return t;
  }
  // The same after an out value: the ready text is not the first element.
  TTextoJSON ProntoComSaida(const std::string& s, std::string& msg) {
    msg = "antes";
    return TextoPronto(s);
  }
  std::string ComSaida(const std::string& s, std::string& msg) {
    msg = "antes";
    return s;
  }
  boost::json::object Objeto(const std::string& s) { return {{"s", s}}; }
  boost::json::value Eco(const boost::json::value& v) { return v; }
  // Takes the body as its own: the parsed value is moved in, and may be changed.
  boost::json::value Tomar(boost::json::value v) {
    if (auto* o = v.if_object()) o->emplace("tomado", true);
    return v;
  }
};

inline TRestServerClass TabelaResultados() {
  return TTabelaClasse<TsmResultados>("TsmResultados")
      .Metodo("Linhas", &TsmResultados::Linhas, "piN")
      .Metodo("ComTexto", &TsmResultados::ComTexto, "piN", Out("psMsg"))
      .Metodo("Texto", &TsmResultados::Texto, "psTexto")
      .Metodo("TextoPronto", &TsmResultados::TextoPronto, "psTexto")
      .Metodo("ProntoComSaida", &TsmResultados::ProntoComSaida, "psTexto", Out("psMsg"))
      .Metodo("ComSaida", &TsmResultados::ComSaida, "psTexto", Out("psMsg"))
      .Metodo("updateTomar", &TsmResultados::Tomar, "pjoValor")
      .Metodo("Objeto", &TsmResultados::Objeto, "psTexto")
      .Metodo("Eco", &TsmResultados::Eco, "pjoValor");
}

}  // namespace tamrix::rest::teste

#endif  // TAMRIX_TESTS_REST_RESULTADOSTESTE_H

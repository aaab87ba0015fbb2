// The data-set collection a server method returns, and its JSON container: every data set
// is run, stored in the binary format (uDataSetFormat.h), deflated and Base64-encoded while
// its rows are read, so the answer never holds more than the encoded text and one row.
#ifndef TAMRIX_REST_UJSONDATASETS_H
#define TAMRIX_REST_UJSONDATASETS_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rest/uDataSetFormat.h"

namespace tamrix::db {
class TDBDataSet;
}

namespace tamrix::rest {

// What the container needs of a data set: its name, its open state and a forward cursor.
class TFonteDataSet {
 public:
  virtual ~TFonteDataSet() = default;

  // The component's name ("qySQL"; empty for components created at run time).
  virtual std::string Nome() const = 0;
  virtual bool Ativo() const = 0;
  // Runs the statement; Colunas and ProximaLinha are valid only while active.
  virtual void Abrir() = 0;
  virtual void Fechar() = 0;
  virtual std::vector<TColunaDataSet> Colunas() = 0;
  // Moves to the next row of the result, the first one after Abrir, and fills linha with
  // one value per column in the text forms of uDataSetFormat.h; false past the last row.
  virtual bool ProximaLinha(TLinhaDataSet& linha) = 0;
};

// An ordered list of (name, data set). Writing the list never frees what it refers to.
// A pair added by reference leaves the data set's life to its owner, who must keep it alive
// while the list is written; a pair added with a shared_ptr keeps the data set alive as long
// as the list does, so a component created for one call is released with the answer.
class TJSONDataSets {
 public:
  struct TPar {
    std::string Nome;
    std::unique_ptr<TFonteDataSet> Fonte;
  };

  TJSONDataSets() = default;
  TJSONDataSets(const TJSONDataSets&) = delete;
  TJSONDataSets& operator=(const TJSONDataSets&) = delete;

  // Appends a pair; the collection owns the source object, not the data set behind it.
  void Adicionar(std::string nome, std::unique_ptr<TFonteDataSet> fonte);

  std::size_t Count() const { return pares_.size(); }
  TPar& operator[](std::size_t i) { return pares_[i]; }
  const std::vector<TPar>& Pares() const { return pares_; }

 private:
  std::vector<TPar> pares_;
};

// Builds collections; the pair takes the data set's own name.
class TJSONDataSetsWriter {
 public:
  // Adds a query or stored procedure by reference; it must outlive the writing. Its rows
  // are written from the first one: an open data set that streamed past its first row
  // makes the writing fail (EDatabaseError), as its cursor cannot go back.
  static void ListAdd(TJSONDataSets& lista, db::TDBDataSet& dataSet);
  // Adds a query or stored procedure and shares its ownership with the list.
  static void ListAdd(TJSONDataSets& lista, std::shared_ptr<db::TDBDataSet> dataSet);
  // Adds any source under its own name.
  static void ListAdd(TJSONDataSets& lista, std::unique_ptr<TFonteDataSet> fonte);
};

// Rows kept from each data set: the first Inicio rows are skipped, then at most Quantidade
// rows are written (all when empty). The "t" request filter crops with it.
struct TJanelaLinhas {
  std::uint64_t Inicio = 0;
  std::optional<std::uint64_t> Quantidade;
};

// Appends the container JSON of colecao to out. Each data set that is closed is opened for
// the writing and closed again afterwards, also on failure. A failure (of a query, or a
// value that does not fit its column) propagates and leaves out as it was before the call.
void EscreverJSONDataSets(TJSONDataSets& colecao, std::string& out);
void EscreverJSONDataSets(TJSONDataSets& colecao, std::string& out, const TJanelaLinhas& janela);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_UJSONDATASETS_H

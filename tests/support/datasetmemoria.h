// A data set held in memory, for tests of the data-set container that need no database:
//
//   auto ds = std::make_unique<tamrix::testes::TDataSetMemoria>("qySQL", colunas, linhas);
//   auto* p = ds.get();                      // to look at Aberturas()/Ativo() afterwards
//   tamrix::rest::TJSONDataSetsWriter::ListAdd(lista, std::move(ds));
//
// FalharAoAbrir and FalharNaLinha make Abrir or the n-th ProximaLinha throw, as a failing
// query would.
#ifndef TAMRIX_TESTS_SUPPORT_DATASETMEMORIA_H
#define TAMRIX_TESTS_SUPPORT_DATASETMEMORIA_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/uExcecoes.h"
#include "rest/uJSONDataSets.h"

namespace tamrix::testes {

class TDataSetMemoria : public rest::TFonteDataSet {
 public:
  TDataSetMemoria(std::string nome, std::vector<rest::TColunaDataSet> colunas,
                  std::vector<rest::TLinhaDataSet> linhas, bool ativo = false)
      : nome_(std::move(nome)),
        colunas_(std::move(colunas)),
        linhas_(std::move(linhas)),
        ativo_(ativo) {}

  std::string Nome() const override { return nome_; }
  bool Ativo() const override { return ativo_; }
  void Abrir() override {
    if (falharAoAbrir_) throw diagnostics::EDatabaseError(*falharAoAbrir_);
    ativo_ = true;
    ++aberturas_;
    proxima_ = 0;
  }
  void Fechar() override {
    ativo_ = false;
    ++fechamentos_;
  }
  std::vector<rest::TColunaDataSet> Colunas() override { return colunas_; }
  bool ProximaLinha(rest::TLinhaDataSet& linha) override {
    if (falharNaLinha_ && proxima_ == *falharNaLinha_)
      throw diagnostics::EDatabaseError("falha ao ler a linha");
    if (proxima_ >= linhas_.size()) return false;
    linha = linhas_[proxima_++];
    return true;
  }

  void FalharAoAbrir(std::string mensagem) { falharAoAbrir_ = std::move(mensagem); }
  void FalharNaLinha(std::size_t n) { falharNaLinha_ = n; }
  int Aberturas() const { return aberturas_; }
  int Fechamentos() const { return fechamentos_; }
  std::size_t LinhasLidas() const { return proxima_; }

 private:
  std::string nome_;
  std::vector<rest::TColunaDataSet> colunas_;
  std::vector<rest::TLinhaDataSet> linhas_;
  bool ativo_;
  std::optional<std::string> falharAoAbrir_;
  std::optional<std::size_t> falharNaLinha_;
  int aberturas_ = 0;
  int fechamentos_ = 0;
  std::size_t proxima_ = 0;
};

}  // namespace tamrix::testes

#endif  // TAMRIX_TESTS_SUPPORT_DATASETMEMORIA_H

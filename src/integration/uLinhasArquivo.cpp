#include "integration/uLinhasArquivo.h"

#include <algorithm>
#include <utility>

namespace tamrix::integration {

std::string_view TLinhasArquivo::TIterador::operator*() const {
  const std::size_t fim = FsTexto->find('\n', FiByte);
  return std::string_view(*FsTexto).substr(FiByte, fim - FiByte);
}

TLinhasArquivo::TIterador& TLinhasArquivo::TIterador::operator++() {
  FiByte = FsTexto->find('\n', FiByte) + 1;
  ++FiIndice;
  return *this;
}

TLinhasArquivo::TIterador TLinhasArquivo::TIterador::operator++(int) {
  TIterador antes = *this;
  ++*this;
  return antes;
}

TLinhasArquivo::TLinhasArquivo(std::initializer_list<std::string_view> linhas) {
  for (std::string_view l : linhas) Acrescentar(l);
}

TLinhasArquivo::TLinhasArquivo(std::string texto) : FsTexto(std::move(texto)) {
  if (!FsTexto.empty() && FsTexto.back() != '\n') FsTexto += '\n';
  FiQuantidade = static_cast<std::size_t>(std::count(FsTexto.begin(), FsTexto.end(), '\n'));
}

void TLinhasArquivo::Acrescentar(std::string_view linha) {
  FsTexto.append(linha);
  FsTexto += '\n';
  ++FiQuantidade;
}

std::string TLinhasArquivo::Liberar() {
  FiQuantidade = 0;
  return std::exchange(FsTexto, {});
}

std::vector<std::string> TLinhasArquivo::ComoVetor() const {
  return std::vector<std::string>(begin(), end());
}

}  // namespace tamrix::integration

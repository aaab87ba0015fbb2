// The lines of a decoded sales file, kept in one buffer: a file of millions of short lines
// costs its text and one byte a line, not a string object per line.
#ifndef TAMRIX_INTEGRATION_ULINHASARQUIVO_H
#define TAMRIX_INTEGRATION_ULINHASARQUIVO_H

#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace tamrix::integration {

class TLinhasArquivo {
 public:
  // Walks the lines in order, as views into the list's buffer (valid while it is unchanged).
  class TIterador {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;

    TIterador() = default;
    std::string_view operator*() const;
    TIterador& operator++();
    TIterador operator++(int);
    bool operator==(const TIterador& o) const { return FiByte == o.FiByte; }
    // Position of the line in the list, counting from 0.
    std::size_t Indice() const { return FiIndice; }

   private:
    friend class TLinhasArquivo;
    TIterador(const std::string* texto, std::size_t byte, std::size_t indice)
        : FsTexto(texto), FiByte(byte), FiIndice(indice) {}
    const std::string* FsTexto = nullptr;
    std::size_t FiByte = 0;
    std::size_t FiIndice = 0;
  };

  TLinhasArquivo() = default;
  // The lines given, in order; none may hold LF.
  TLinhasArquivo(std::initializer_list<std::string_view> linhas);
  // Takes texto as the list: its lines each ending with LF (a last one without LF gets it).
  explicit TLinhasArquivo(std::string texto);

  // Adds a line at the end; it must not hold LF.
  void Acrescentar(std::string_view linha);
  // Gives the buffer up (each line followed by LF), leaving the list empty; with the
  // constructor from a text, lets a builder append to it in place.
  std::string Liberar();

  std::size_t Quantidade() const { return FiQuantidade; }
  bool Vazia() const { return FiQuantidade == 0; }
  // Every line followed by LF.
  const std::string& Texto() const { return FsTexto; }

  TIterador begin() const { return {&FsTexto, 0, 0}; }
  TIterador end() const { return {&FsTexto, FsTexto.size(), FiQuantidade}; }

  // A copy as one string per line (for checks and small lists).
  std::vector<std::string> ComoVetor() const;

 private:
  std::string FsTexto;
  std::size_t FiQuantidade = 0;
};

}  // namespace tamrix::integration

#endif  // TAMRIX_INTEGRATION_ULINHASARQUIVO_H

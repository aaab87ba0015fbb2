// A scratch directory for a test, removed with everything in it when the object goes.
#ifndef TAMRIX_TESTS_SUPPORT_PASTATEMP_H
#define TAMRIX_TESTS_SUPPORT_PASTATEMP_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace tamrix::testes {

class TPastaTemp {
 public:
  TPastaTemp() {
    std::string modelo = (std::filesystem::temp_directory_path() / "tamrix-teste-XXXXXX").string();
    if (mkdtemp(modelo.data()) == nullptr) throw std::runtime_error("mkdtemp falhou");
    pasta_ = modelo;
  }
  ~TPastaTemp() {
    std::error_code ec;
    std::filesystem::remove_all(pasta_, ec);
  }
  TPastaTemp(const TPastaTemp&) = delete;
  TPastaTemp& operator=(const TPastaTemp&) = delete;

  // The directory, ending with "/".
  std::string Pasta() const { return pasta_.string() + "/"; }
  // Full path of a file inside the directory.
  std::string Caminho(const std::string& nome) const { return (pasta_ / nome).string(); }

  // Writes bytes to a file inside the directory and returns its path.
  std::string Gravar(const std::string& nome, const std::string& bytes) const {
    const std::string c = Caminho(nome);
    std::ofstream(c, std::ios::binary) << bytes;
    return c;
  }

 private:
  std::filesystem::path pasta_;
};

// The whole content of a file as bytes ("" when it cannot be read).
inline std::string LerArquivo(const std::string& caminho) {
  std::ifstream in(caminho, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tamrix::testes

#endif  // TAMRIX_TESTS_SUPPORT_PASTATEMP_H

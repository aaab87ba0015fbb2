// INI files in the Windows profile format, as an operator writes them by hand: sections in
// square brackets, name=value lines, section and key names matched without regard to case,
// lines starting with ";" or "#" ignored, the first occurrence of a key winning.
#ifndef TAMRIX_CONFIG_UARQUIVOINI_H
#define TAMRIX_CONFIG_UARQUIVOINI_H

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/uCaixaTexto.h"

namespace tamrix::config {

class TArquivoIni {
 public:
  // The values of the file; a missing or unreadable file reads as empty. Indented lines
  // are ordinary lines; values lose surrounding white space and one pair of enclosing
  // quotes; text after " ;" is a comment; lines of more than 200 characters are cut there.
  static TArquivoIni Ler(const std::string& arquivo);

  // The same from text already in memory.
  static TArquivoIni LerTexto(const std::string& texto);

  // The value of the key in the section, if present (it may be present and empty).
  std::optional<std::string> Valor(std::string_view secao, std::string_view chave) const;

 private:
  using TChave = std::pair<std::string, std::string>;  // section, key, both lower-cased
  std::map<TChave, std::string> valores_;
};

// Sets the keys of one section in the file, keeping every other line as it is: an existing
// key line is replaced, a missing key is added at the end of its section, a missing
// section is added at the end of the file. Line breaks inside values are removed. The file
// is replaced atomically; raises std::runtime_error (Portuguese text) when it cannot be.
void GravarSecaoIni(const std::string& arquivo, std::string_view secao,
                    const std::vector<std::pair<std::string, std::string>>& chaves);

}  // namespace tamrix::config

#endif  // TAMRIX_CONFIG_UARQUIVOINI_H

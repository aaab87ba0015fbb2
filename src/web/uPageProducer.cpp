#include "web/uPageProducer.h"

#include <fstream>
#include <sstream>

#include "diagnostics/uExcecoes.h"

namespace tamrix::web {

std::string SubstituirTags(std::string_view modelo, const TTagHandler& tratador) {
  std::string out;
  out.reserve(modelo.size());
  std::size_t pos = 0;
  while (true) {
    auto inicio = modelo.find("<#", pos);
    if (inicio == std::string_view::npos) break;
    std::size_t fim = inicio + 2;
    bool aspas = false;
    while (fim < modelo.size() && (aspas || modelo[fim] != '>')) {
      if (modelo[fim] == '"') aspas = !aspas;
      ++fim;
    }
    if (fim >= modelo.size()) break;
    out.append(modelo.substr(pos, inicio - pos));
    auto corpo = modelo.substr(inicio + 2, fim - inicio - 2);
    auto fimNome = corpo.find_first_of(" \t\r\n");
    auto nome = corpo.substr(0, fimNome);
    auto params =
        fimNome == std::string_view::npos ? std::string_view{} : corpo.substr(fimNome + 1);
    out += tratador(nome, params);
    pos = fim + 1;
  }
  out.append(modelo.substr(pos));
  return out;
}

TPageProducer::TPageProducer(std::filesystem::path arquivoModelo)
    : arquivoModelo_(std::move(arquivoModelo)) {}

std::string TPageProducer::Content(const TTagHandler& tratador) const {
  std::ifstream f(arquivoModelo_, std::ios::binary);
  std::error_code erro;
  if (!f || std::filesystem::is_directory(arquivoModelo_, erro))
    throw diagnostics::Exception("Não foi possível abrir o arquivo de modelo \"" +
                                 arquivoModelo_.string() + "\".");
  std::ostringstream texto;
  texto << f.rdbuf();
  if (f.bad())
    throw diagnostics::Exception("Erro ao ler o arquivo de modelo \"" + arquivoModelo_.string() +
                                 "\".");
  return SubstituirTags(texto.str(), tratador);
}

}  // namespace tamrix::web

#include "rest/uRestNomeMetodo.h"

namespace tamrix::rest {

std::string MontarNomeMetodo(TComandoRest comando, std::string_view classe,
                             std::string_view metodo) {
  std::string_view prefixo;
  const bool semPrefixo = (!metodo.empty() && (metodo.front() == '"' || metodo.front() == '\'')) ||
                          classe == "RestAdmin" || classe == "RestMetadata";
  if (!semPrefixo) {
    switch (comando) {
      case TComandoRest::crPost:
        prefixo = "update";
        break;
      case TComandoRest::crPut:
        prefixo = "accept";
        break;
      case TComandoRest::crDelete:
        prefixo = "cancel";
        break;
      default:
        break;
    }
  }
  std::string nome;
  nome.reserve(classe.size() + 1 + prefixo.size() + metodo.size());
  nome.append(classe).append(".").append(prefixo).append(metodo);
  return nome;
}

std::string RemoverAspasIdentificadores(std::string_view nome) {
  std::string out;
  out.reserve(nome.size());
  for (std::size_t i = 0; i < nome.size();) {
    const char c = nome[i];
    if ((c == '"' || c == '\'') && (i == 0 || nome[i - 1] == '.')) {
      std::size_t j = i + 1;
      std::string id;
      bool fechado = false;
      while (j < nome.size()) {
        if (nome[j] == c) {
          if (j + 1 < nome.size() && nome[j + 1] == c) {
            id += c;
            j += 2;
            continue;
          }
          fechado = true;
          ++j;
          break;
        }
        id += nome[j++];
      }
      if (fechado && (j == nome.size() || nome[j] == '.')) {
        out += id;
        i = j;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

TChamadaMetodo ChamadaDoMetodo(std::string_view nome) {
  struct Prefixo {
    std::string_view Texto;
    const char* Verbo;
  };
  static constexpr Prefixo kPrefixos[] = {
      {"update", "POST"}, {"accept", "PUT"}, {"cancel", "DELETE"}};
  for (const auto& p : kPrefixos)
    if (nome.size() > p.Texto.size() && nome.substr(0, p.Texto.size()) == p.Texto)
      return {p.Verbo, std::string(nome.substr(p.Texto.size()))};
  return {"GET", std::string(nome)};
}

}  // namespace tamrix::rest

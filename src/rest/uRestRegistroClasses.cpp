#include "rest/uRestRegistroClasses.h"

#include "rest/uRestExcecoes.h"
#include "rest/uRestNomeMetodo.h"
#include "util/uCaixaTexto.h"

namespace tamrix::rest {

TRegistroClasses::TRegistroClasses(std::vector<TRestServerClass> classes)
    : classes_(std::move(classes)) {
  std::unordered_map<std::string, bool> nomesClasse;
  for (const auto& c : classes_) {
    if (!nomesClasse.emplace(util::MinusculasASCII(c.Nome), true).second)
      throw ERestException("Classe " + c.Nome + " registrada duas vezes.");
    if (!c.Fabrica) throw ERestException("Classe " + c.Nome + " registrada sem fábrica.");
    for (const auto& m : c.Metodos) {
      const TEncontrado e{&c, &m};
      if (!porNome_.emplace(util::MinusculasASCII(c.Nome + "." + m.Nome), e).second)
        throw ERestException("Método " + c.Nome + "." + m.Nome + " publicado duas vezes.");
    }
  }
}

std::optional<TRegistroClasses::TEncontrado> TRegistroClasses::ProcurarExato(
    std::string_view nome) const {
  auto it = porNome_.find(util::MinusculasASCII(nome));
  if (it == porNome_.end()) return std::nullopt;
  return it->second;
}

std::optional<TRegistroClasses::TEncontrado> TRegistroClasses::Procurar(
    std::string_view nomeCompleto) const {
  if (auto e = ProcurarExato(nomeCompleto)) return e;
  return ProcurarExato(RemoverAspasIdentificadores(nomeCompleto));
}

}  // namespace tamrix::rest

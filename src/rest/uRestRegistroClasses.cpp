#include "rest/uRestRegistroClasses.h"

#include <algorithm>
#include <cctype>

#include "rest/uRestExcecoes.h"
#include "rest/uRestNomeMetodo.h"

namespace tamrix::rest {

namespace {
std::string Minusculo(std::string_view s) {
  std::string r(s);
  std::transform(r.begin(), r.end(), r.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return r;
}
}  // namespace

TRegistroClasses::TRegistroClasses(std::vector<TRestServerClass> classes)
    : classes_(std::move(classes)) {
  std::unordered_map<std::string, bool> nomesClasse;
  for (const auto& c : classes_) {
    if (!nomesClasse.emplace(Minusculo(c.Nome), true).second)
      throw ERestException("Classe " + c.Nome + " registrada duas vezes.");
    if (!c.Fabrica) throw ERestException("Classe " + c.Nome + " registrada sem fábrica.");
    for (const auto& m : c.Metodos) {
      const TEncontrado e{&c, &m};
      if (!porNome_.emplace(Minusculo(c.Nome + "." + m.Nome), e).second)
        throw ERestException("Método " + c.Nome + "." + m.Nome + " publicado duas vezes.");
    }
  }
}

std::optional<TRegistroClasses::TEncontrado> TRegistroClasses::ProcurarExato(
    std::string_view nome) const {
  auto it = porNome_.find(Minusculo(nome));
  if (it == porNome_.end()) return std::nullopt;
  return it->second;
}

std::optional<TRegistroClasses::TEncontrado> TRegistroClasses::Procurar(
    std::string_view nomeCompleto) const {
  if (auto e = ProcurarExato(nomeCompleto)) return e;
  return ProcurarExato(RemoverAspasIdentificadores(nomeCompleto));
}

}  // namespace tamrix::rest

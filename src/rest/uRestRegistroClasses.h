// The published methods of all registered server classes, looked up by full name.
// Immutable once built, so any number of request threads may search it at once.
#ifndef TAMRIX_REST_URESTREGISTROCLASSES_H
#define TAMRIX_REST_URESTREGISTROCLASSES_H

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "rest/uRestServerClass.h"

namespace tamrix::rest {

class TRegistroClasses {
 public:
  struct TEncontrado {
    const TRestServerClass* Classe;
    const TMetodoRest* Metodo;
  };

  // Raises ERestException for two classes of one name, or two methods of one name in a
  // class (names compared without case), or a class without a factory.
  explicit TRegistroClasses(std::vector<TRestServerClass> classes);

  TRegistroClasses(const TRegistroClasses&) = delete;
  TRegistroClasses& operator=(const TRegistroClasses&) = delete;

  // "Classe.Metodo" without regard to case; when that fails, again with the quotes of
  // quoted identifiers removed. Nothing when neither finds it.
  std::optional<TEncontrado> Procurar(std::string_view nomeCompleto) const;

  // Registration order; what a client-library generator describes.
  const std::vector<TRestServerClass>& Classes() const { return classes_; }

 private:
  std::optional<TEncontrado> ProcurarExato(std::string_view nome) const;

  std::vector<TRestServerClass> classes_;
  std::unordered_map<std::string, TEncontrado> porNome_;  // key: "classe.metodo" lower-cased
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTREGISTROCLASSES_H

#include "util/uMensagem.h"

#include <mutex>

namespace tamrix::util {

namespace {
std::mutex& Trava() {
  static std::mutex m;
  return m;
}
TMostrarCaixa& Caixa() {
  static TMostrarCaixa caixa;
  return caixa;
}
}  // namespace

void DefinirJanelaPrincipal(TMostrarCaixa mostrar) {
  std::lock_guard lock(Trava());
  Caixa() = std::move(mostrar);
}

bool TemJanelaPrincipal() {
  std::lock_guard lock(Trava());
  return static_cast<bool>(Caixa());
}

void MostrarMensagem(const std::string& texto, bool abortar) {
  TMostrarCaixa mostrar;
  {
    std::lock_guard lock(Trava());
    mostrar = Caixa();
  }
  // Shown outside the lock: the box is modal and may run for as long as the operator waits.
  if (mostrar) mostrar(texto);
  if (abortar) throw EAbort();
}

}  // namespace tamrix::util

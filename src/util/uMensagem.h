// The operator's message box and the test for the control window. The window library lives
// above this layer, so the control window plugs itself in here when it is created and
// leaves when it is destroyed; without it nothing is shown.
#ifndef TAMRIX_UTIL_UMENSAGEM_H
#define TAMRIX_UTIL_UMENSAGEM_H

#include <exception>
#include <functional>
#include <string>

namespace tamrix::util {

// The silent abort: unwinds the caller without any further message to the operator.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// Shows text in a modal box captioned "Atenção" with a warning icon and one OK button,
// returning when the operator closes it. Installed by the control window.
using TMostrarCaixa = std::function<void(const std::string& texto)>;

// Plugs the main window in (mostrar must not be empty) or, with an empty function,
// takes it out. Safe from any thread.
void DefinirJanelaPrincipal(TMostrarCaixa mostrar);

// True while a main window is plugged in.
bool TemJanelaPrincipal();

// Shows texto in the main window's box (nothing without a window); then, when abortar is
// true, raises EAbort. An error of the box itself reaches the caller.
void MostrarMensagem(const std::string& texto, bool abortar);

}  // namespace tamrix::util

#endif  // TAMRIX_UTIL_UMENSAGEM_H

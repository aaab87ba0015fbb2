// The program: start-up, then the control window, or the headless mode when asked for with
// --headless or when no display can be opened.
#ifndef TAMRIX_APP_UTAMRIXRESTSERVER_H
#define TAMRIX_APP_UTAMRIXRESTSERVER_H

namespace tamrix::app {

// Whether the command line holds "--headless"; every other argument is ignored.
bool PedidoSemJanela(int argc, const char* const* argv);

// Runs the whole process and returns its exit status: 0 after the window was closed or
// after a headless stop, 1 when the server could not run.
int ExecutarServidor(int argc, const char* const* argv);

}  // namespace tamrix::app

#endif  // TAMRIX_APP_UTAMRIXRESTSERVER_H

// Running without the control window: the server starts at once and runs until the process
// is asked to stop with SIGINT or SIGTERM.
#ifndef TAMRIX_APP_UHEADLESS_H
#define TAMRIX_APP_UHEADLESS_H

namespace tamrix::app {

// Blocks SIGINT and SIGTERM in the calling thread, and so in every thread it creates later;
// ExecutarSemJanela then takes them with a synchronous wait. Call before any thread exists.
void BloquearSinaisParada();

// Creates the listener and runs the Start sequence on the configured port. Then waits for
// SIGINT or SIGTERM (blocked beforehand with BloquearSinaisParada), runs the Stop sequence
// and returns 0. A start that fails (port not bound, main database not opened) is reported
// on stderr and returns 1, after the Stop sequence when the server had been asked to start.
int ExecutarSemJanela();

}  // namespace tamrix::app

#endif  // TAMRIX_APP_UHEADLESS_H

// Running without the control window: the server starts at once and runs until the process
// is asked to stop with SIGINT or SIGTERM; SIGHUP reloads the tenant directory.
#ifndef TAMRIX_APP_UHEADLESS_H
#define TAMRIX_APP_UHEADLESS_H

namespace tamrix::app {

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, and so in every thread it creates
// later; ExecutarSemJanela then takes them with a synchronous wait. Call before any thread
// exists.
void BloquearSinaisParada();

// Creates the listener and runs the Start sequence on the configured port, then waits for
// signals (blocked beforehand with BloquearSinaisParada). SIGHUP reloads the tenant directory
// (RecarregarDiretorioBancos). The first SIGINT or SIGTERM drains: the listener keeps serving
// for EsperaDrenagem seconds, then refuses new connections and gives those in progress up to
// TempoEncerramento seconds; then the Stop sequence runs and 0 is returned. A second SIGINT or
// SIGTERM during the drain stops at once. A start that fails (port not bound, main database
// not opened) is reported on stderr and returns 1, after the Stop sequence when the server
// had been asked to start.
int ExecutarSemJanela();

}  // namespace tamrix::app

#endif  // TAMRIX_APP_UHEADLESS_H

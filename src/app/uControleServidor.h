// The Start and Stop sequences that the control window's buttons and the headless mode run
// on the HTTP listener and the server data module. Main thread only.
#ifndef TAMRIX_APP_UCONTROLESERVIDOR_H
#define TAMRIX_APP_UCONTROLESERVIDOR_H

#include <cstdint>
#include <memory>
#include <string>

#include "web/uHTTPListener.h"

namespace tamrix::app {

// The listener (inactive) on the process-wide request pool, with the configuration's limits:
// read and write times, body and header sizes, connections in all and per client address,
// and the access log (LogAcesso, whose default depends on semJanela).
std::unique_ptr<web::THTTPListener> CriarServidorHTTP(bool semJanela = false);

// The port the text names: an integer from 1 to 65535, blanks around it allowed. Raises
// diagnostics::Exception with a Portuguese text otherwise.
std::uint16_t PortaDeTexto(const std::string& pspPorta);

// Start: when poServer is inactive, clears its bindings, sets its default port to
// PortaDeTexto(pspPorta), loads the HTTPS certificate and key when [HTTPS] Porta is set, and
// activates it (every IPv4 and IPv6 address, both ports); then dmServidor.IniciarServidor,
// whose result is returned (on false the caller runs Stop). A bad port text, a certificate
// that cannot be loaded or a port that cannot be bound raises before IniciarServidor is
// called, leaving the listener inactive; an exception of IniciarServidor passes through.
bool IniciarServidorHTTP(web::THTTPListener& poServer, const std::string& pspPorta);

// Stop: ends every REST session, deactivates poServer (waiting for running requests) and
// clears its bindings, then dmServidor.PararServidor.
void PararServidorHTTP(web::THTTPListener& poServer);

// Reloads the tenant directory from ConfigBD (TConfigBD::Recarregar): on success the log line
// and the event "Diretório de bancos recarregado (N tokens)."; on failure an error line with
// the translated reason, the previous copy still in use. Returns the line's text either way.
// Sessions and calls in progress are not touched.
std::string RecarregarDiretorioBancos();

// Reloads the HTTPS certificate and key from the configured files for the connections
// accepted from now on: on success the log line and the event "Certificado HTTPS
// recarregado."; on failure an error line with the reason, the pair in use kept. Returns the
// line's text, or "" when poServer has no HTTPS port.
std::string RecarregarCertificadoHTTPS(web::THTTPListener& poServer);

}  // namespace tamrix::app

#endif  // TAMRIX_APP_UCONTROLESERVIDOR_H

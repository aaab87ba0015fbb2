// Any exception as the Portuguese text the server shows, logs, stores and answers.
#ifndef TAMRIX_DIAGNOSTICS_UTRADUZIRERRO_H
#define TAMRIX_DIAGNOSTICS_UTRADUZIRERRO_H

#include <exception>
#include <string>

namespace tamrix::diagnostics {

// The Portuguese text for e: a known situation (HTTP client failure, field range, invalid
// decimal, value out of bounds, unreachable database server, wrong database login, statement
// past its time limit) or the
// generic text with e's own message and class name. The first chain of two or more
// bracketed driver tags is removed from the result. Never raises; keeps no state.
std::string TraduzirErro(const std::exception& e);

// The text of a database statement cancelled at its time limit of `segundos` seconds. The db
// layer raises EDBEngineException with this text, SQLSTATE "HYT00" and kind ekOther, which
// TraduzirErro then gives as it is.
std::string TextoTempoConsulta(int segundos);

// Name of e's actual class: ClassName() for the server's own exceptions, the demangled
// type name for any other std::exception.
std::string NomeClasseExcecao(const std::exception& e);

// e's message: Message() for the server's own exceptions, what() for any other.
std::string MensagemExcecao(const std::exception& e);

// texto without its first chain of two or more "[...]" tags (such as
// "[unixODBC][FreeTDS][SQL Server]"); later chains stay.
std::string RemoverPrefixoDriver(const std::string& texto);

}  // namespace tamrix::diagnostics

#endif  // TAMRIX_DIAGNOSTICS_UTRADUZIRERRO_H

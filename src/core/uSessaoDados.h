// Named accessors over the key/value data of the REST session that the calling thread is
// serving, so that no other code spells the keys. Keys match without regard to letter case;
// a key never written reads as the empty text.
//
// Threads: each call reads and writes the session of the call it serves. Readers on a thread
// without a session see the empty text (0 for the user code); writers raise
// diagnostics::Exception there.
#ifndef TAMRIX_CORE_USESSAODADOS_H
#define TAMRIX_CORE_USESSAODADOS_H

#include <cstdint>
#include <string>
#include <string_view>

namespace tamrix::core {

// The keys the server keeps in a session.
namespace chaves_sessao {
inline constexpr std::string_view kToken = "Token";
inline constexpr std::string_view kUsuario = "Usuario";
inline constexpr std::string_view kSenha = "Senha";
inline constexpr std::string_view kCodigoUsuario = "CodigoUsuario";
inline constexpr std::string_view kApp = "App";
}  // namespace chaves_sessao

// The client's access token, as the client passed it.
std::string PegarToken();
// The login name passed to Login.
std::string PegarUsuario();
// The address of the client that opened the session, as the listener saw it.
std::string PegarEnderecoCliente();
// "CodigoUsuario" read as a decimal 32-bit integer; 0 when absent or not such an integer.
std::int32_t PegarCodigoUsuario();

void GravarToken(const std::string& pspToken);
void GravarUsuario(const std::string& pspUsuario);
void GravarSenha(const std::string& pspSenha);
// Kept as its decimal text; marks the session as logged in (kept longest at the registry's
// ceiling).
void GravarCodigoUsuario(std::int32_t piCodigoUsuario);
// Client kind; "PDV" for point-of-sale terminals.
void GravarApp(const std::string& pspApp);

}  // namespace tamrix::core

#endif  // TAMRIX_CORE_USESSAODADOS_H

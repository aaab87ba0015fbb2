#include "core/uSessaoDados.h"

#include <charconv>

#include "rest/uRestSession.h"

namespace tamrix::core {

std::string PegarToken() {
  return rest::PegarDadoSessao(chaves_sessao::kToken);
}

std::string PegarUsuario() {
  return rest::PegarDadoSessao(chaves_sessao::kUsuario);
}

std::string PegarEnderecoCliente() {
  return rest::PegarDadoSessao("RemoteIP");
}

std::int32_t PegarCodigoUsuario() {
  const std::string texto = rest::PegarDadoSessao(chaves_sessao::kCodigoUsuario);
  const char* inicio = texto.data();
  const char* fim = texto.data() + texto.size();
  // from_chars takes a "-" sign only; a "+" is read here, never both.
  if (inicio != fim && *inicio == '+') {
    ++inicio;
    if (inicio != fim && *inicio == '-') return 0;
  }
  std::int32_t valor = 0;
  const auto [ate, erro] = std::from_chars(inicio, fim, valor);
  if (inicio == fim || erro != std::errc() || ate != fim) return 0;
  return valor;
}

void GravarToken(const std::string& pspToken) {
  rest::GravarDadoSessao(chaves_sessao::kToken, pspToken);
}

void GravarUsuario(const std::string& pspUsuario) {
  rest::GravarDadoSessao(chaves_sessao::kUsuario, pspUsuario);
}

void GravarSenha(const std::string& pspSenha) {
  rest::GravarDadoSessao(chaves_sessao::kSenha, pspSenha);
}

void GravarCodigoUsuario(std::int32_t piCodigoUsuario) {
  rest::GravarDadoSessao(chaves_sessao::kCodigoUsuario, std::to_string(piCodigoUsuario));
  // Only a successful login records the user's code: this session is a terminal's now.
  if (auto sessao = rest::SessaoDaThread()) sessao->MarcarAutenticada();
}

void GravarApp(const std::string& pspApp) {
  rest::GravarDadoSessao(chaves_sessao::kApp, pspApp);
}

}  // namespace tamrix::core

#include "util/uSistema.h"

#include <limits.h>
#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace tamrix::util {

namespace {

std::string ComBarra(std::string pasta) {
  if (pasta.empty() || pasta.back() != '/') pasta += '/';
  return pasta;
}

std::string LerPastaExecutavel() {
  std::vector<char> buf(PATH_MAX);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) break;
    if (static_cast<std::size_t>(n) < buf.size()) {
      std::string caminho(buf.data(), static_cast<std::size_t>(n));
      const auto barra = caminho.rfind('/');
      if (barra == std::string::npos) break;
      return caminho.substr(0, barra + 1);
    }
    buf.resize(buf.size() * 2);
  }
  // No /proc: the directory the process started in is the best guess left.
  std::vector<char> cwd(PATH_MAX);
  if (getcwd(cwd.data(), cwd.size()) != nullptr) return ComBarra(cwd.data());
  return "./";
}

std::string NomeUsuario() {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* achado = nullptr;
  if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &achado) == 0 && achado != nullptr &&
      achado->pw_name != nullptr) {
    return achado->pw_name;
  }
  char login[LOGIN_NAME_MAX + 1] = {};
  if (getlogin_r(login, sizeof login) == 0) return login;
  return {};
}

}  // namespace

std::string PastaExecutavel() {
  static const std::string pasta = LerPastaExecutavel();
  return pasta;
}

std::string PegarNomeEstacao() {
  try {
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host) == 0) {
      host[HOST_NAME_MAX] = '\0';
      if (host[0] != '\0') return host;
    }
    return NomeUsuario();
  } catch (...) {
    return {};
  }
}

}  // namespace tamrix::util

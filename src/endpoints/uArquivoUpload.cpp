#include "endpoints/uArquivoUpload.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "diagnostics/uExcecoes.h"
#include "util/uDataHora.h"

namespace tamrix::endpoints {

namespace {

// Names tried for one second before giving up: far more uploads than one second sees.
constexpr int kMaximoNomes = 10000;

std::string Motivo(int erro) {
  switch (erro) {
    case EACCES:
    case EPERM:
      return "acesso negado";
    case ENOENT:
    case ENOTDIR:
      return "a pasta não existe";
    case ENOSPC:
    case EDQUOT:
      return "não há espaço em disco";
    case EROFS:
      return "o disco só permite leitura";
    case EEXIST:
      return "já existem arquivos demais com este horário";
    default:
      return "erro " + std::to_string(erro) + " do sistema";
  }
}

[[noreturn]] void Falhar(const std::string& caminho, int erro) {
  throw diagnostics::Exception("Não foi possível gravar o arquivo " + caminho + ": " +
                               Motivo(erro) + ".");
}

}  // namespace

std::string GravarArquivoUpload(const std::string& pspPasta,
                                std::chrono::system_clock::time_point pdMomento,
                                std::string_view pspConteudo) {
  const std::string base = pspPasta + util::FormatarDataHora("yyyy-MM-dd hhnnss", pdMomento);
  std::string caminho;
  int fd = -1;
  for (int n = 1; fd < 0; ++n) {
    caminho = n == 1 ? base + ".txt" : base + "-" + std::to_string(n) + ".txt";
    // O_EXCL claims the name atomically, so two uploads never share a file.
    fd = ::open(caminho.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && (errno != EEXIST || n >= kMaximoNomes)) Falhar(caminho, errno);
  }
  const char* p = pspConteudo.data();
  std::size_t resta = pspConteudo.size();
  while (resta > 0) {
    const ssize_t n = ::write(fd, p, resta);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int erro = n < 0 ? errno : EIO;
      ::close(fd);
      ::unlink(caminho.c_str());
      Falhar(caminho, erro);
    }
    p += n;
    resta -= static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    const int erro = errno;
    ::unlink(caminho.c_str());
    Falhar(caminho, erro);
  }
  return caminho;
}

}  // namespace tamrix::endpoints

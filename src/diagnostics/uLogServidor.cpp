#include "diagnostics/uLogServidor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/uDataHora.h"
#include "util/uSistema.h"

namespace tamrix::diagnostics {

namespace {

// Closes the descriptor on every way out.
class TDescritor {
 public:
  explicit TDescritor(int fd) : fd_(fd) {}
  ~TDescritor() {
    if (fd_ >= 0) ::close(fd_);
  }
  TDescritor(const TDescritor&) = delete;
  TDescritor& operator=(const TDescritor&) = delete;
  int Get() const { return fd_; }
  // Closes now, so that a failing close (e.g. a full disk on a network drive) is seen.
  bool Fechar() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool EscreverTudo(int fd, const std::string& dados) {
  std::size_t feito = 0;
  while (feito < dados.size()) {
    const ssize_t n = ::write(fd, dados.data() + feito, dados.size() - feito);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    feito += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

TLogServidor::TLogServidor() : TLogServidor(util::PastaExecutavel() + "log.txt") {}

TLogServidor::TLogServidor(std::string arquivo) : arquivo_(std::move(arquivo)) {}

void TLogServidor::Log(const std::string& pspTexto, TTipoLog pTipoLog) {
  std::string linha =
      pTipoLog == tlErro ? "* ERRO " + util::DataHoraAtual() + " * " + pspTexto : pspTexto;

  std::unique_lock lock(trava_);
  FoLstLog.push_back(std::move(linha));
  // Appending keeps each call cheap however long the run; the whole list is written only
  // for the first line of a run, after LimparLog, or when the file drifted from the list.
  const bool ok = emDia_ ? Acrescentar(FoLstLog.back()) : Regravar();
  if (ok) {
    if (falhaAvisada_)
      std::fprintf(stderr, "%s: gravação do log restabelecida.\n", arquivo_.c_str());
    falhaAvisada_ = false;
  } else if (std::string aviso = AvisarFalha(erroArquivo_); !aviso.empty() && aoFalhar_) {
    const auto aoFalhar = aoFalhar_;
    // Unlocked: the handler may log in turn (that line is only kept, the streak being known).
    lock.unlock();
    aoFalhar(aviso);
  }
}

bool TLogServidor::Acrescentar(const std::string& linha) {
  TDescritor fd(::open(arquivo_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  struct stat st {};
  if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 ||
      static_cast<std::uint64_t>(st.st_size) != bytesArquivo_) {
    return Regravar();  // gone, replaced or changed behind our back
  }
  const std::string dados = linha + "\r\n";
  if (!EscreverTudo(fd.Get(), dados) || !fd.Fechar()) {
    erroArquivo_ = errno;
    emDia_ = false;
    return false;
  }
  bytesArquivo_ += dados.size();
  return true;
}

bool TLogServidor::Regravar() {
  emDia_ = false;
  std::string dados;
  for (const std::string& l : FoLstLog) {
    dados += l;
    dados += "\r\n";
  }
  TDescritor fd(::open(arquivo_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.Get() < 0 || !EscreverTudo(fd.Get(), dados) || !fd.Fechar()) {
    erroArquivo_ = errno;
    return false;
  }
  emDia_ = true;
  bytesArquivo_ = dados.size();
  return true;
}

std::string TLogServidor::AvisarFalha(int erro) {
  if (falhaAvisada_) return {};
  falhaAvisada_ = true;
  const std::string aviso = arquivo_ + ": não foi possível gravar o log (" + std::strerror(erro) +
                            "); a linha fica guardada.";
  std::fprintf(stderr, "%s\n", aviso.c_str());
  return aviso;
}

void TLogServidor::SetAoFalhar(std::function<void(const std::string&)> aoFalhar) {
  std::lock_guard lock(trava_);
  aoFalhar_ = std::move(aoFalhar);
}

void TLogServidor::LimparLog() {
  std::lock_guard lock(trava_);
  FoLstLog.clear();
  emDia_ = false;
}

void TLogServidor::DefinirArquivo(std::string arquivo) {
  std::lock_guard lock(trava_);
  arquivo_ = std::move(arquivo);
  emDia_ = false;
}

std::string TLogServidor::Arquivo() const {
  std::lock_guard lock(trava_);
  return arquivo_;
}

std::vector<std::string> TLogServidor::Linhas() const {
  std::lock_guard lock(trava_);
  return FoLstLog;
}

bool TLogServidor::ArquivoEmDia() const {
  std::lock_guard lock(trava_);
  return emDia_;
}

void GravarLog(const std::string& pspTexto, TTipoLog pTipoLog) {
  TLogServidorSingleton::GetInstance().Log(pspTexto, pTipoLog);
}

}  // namespace tamrix::diagnostics

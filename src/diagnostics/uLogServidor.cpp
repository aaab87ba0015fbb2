#include "diagnostics/uLogServidor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "diagnostics/uMetricas.h"
#include "diagnostics/uTextoLog.h"
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
    return fd < 0 || ::close(fd) == 0;
  }
  // Closes the current descriptor (if any) and holds fd instead.
  void Trocar(int fd) {
    Fechar();
    fd_ = fd;
  }

 private:
  int fd_;
};

// Writes all of dados; feito tells how much reached the file, also on failure.
bool EscreverTudo(int fd, const std::string& dados, std::size_t& feito) {
  feito = 0;
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

int Abrir(const std::string& arquivo, bool truncar) {
  return ::open(arquivo.c_str(),
                O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncar ? O_TRUNC : 0), 0644);
}

}  // namespace

TLogServidor::TLogServidor() : TLogServidor(util::PastaExecutavel() + "log.txt") {}

TLogServidor::TLogServidor(std::string arquivo) : arquivo_(std::move(arquivo)) {}

void TLogServidor::Log(const std::string& pspTexto, TTipoLog pTipoLog) {
  // Built before the lock: the escape walks the whole text.
  std::string linha = TextoChamador(pspTexto, kTamanhoMaximoLinha);
  if (pTipoLog == tlErro) linha = "* ERRO " + util::DataHoraAtual() + " * " + linha;

  std::unique_lock lock(trava_);
  Guardar(std::move(linha));
  if (Descarregar()) {
    if (falhaAvisada_)
      std::fprintf(stderr, "%s: gravação do log restabelecida.\n", arquivo_.c_str());
    falhaAvisada_ = false;
    return;
  }
  metricas::FalhaGravacaoLog();
  if (std::string aviso = AvisarFalha(erroArquivo_); !aviso.empty() && aoFalhar_) {
    const auto aoFalhar = aoFalhar_;
    // Unlocked: the handler may log in turn (that line only waits, the streak being known).
    lock.unlock();
    aoFalhar(aviso);
  }
}

void TLogServidor::Guardar(std::string linha) {
  bytesGuardados_ += linha.size() + 2;
  guardadas_.push_back(std::move(linha));
  while (guardadas_.size() > 1 &&
         (guardadas_.size() > kMaximoLinhasGuardadas || bytesGuardados_ > kMaximoBytesGuardados)) {
    bytesGuardados_ -= guardadas_.front().size() + 2;
    guardadas_.pop_front();
    ++perdidas_;
  }
}

bool TLogServidor::Descarregar() {
  TDescritor fd(Abrir(arquivo_, truncar_));
  if (fd.Get() < 0) {
    erroArquivo_ = errno;
    return false;
  }
  truncar_ = false;

  std::string aviso;
  if (perdidas_ > 0)
    aviso = "* ERRO " + util::DataHoraAtual() + " * " + std::to_string(perdidas_) +
            " linha(s) do log perdida(s) enquanto o arquivo não pôde ser gravado.\r\n";
  std::string dados = aviso;
  dados.reserve(aviso.size() + bytesGuardados_);
  for (const std::string& l : guardadas_) {
    dados += l;
    dados += "\r\n";
  }

  struct stat st {};
  if (tamanhoMaximo_ > 0 && ::fstat(fd.Get(), &st) == 0 && st.st_size > 0 &&
      static_cast<std::uint64_t>(st.st_size) + dados.size() > tamanhoMaximo_) {
    fd.Fechar();
    fd.Trocar(Abrir(arquivo_, Rotacionar()));
    if (fd.Get() < 0) {
      erroArquivo_ = errno;
      return false;
    }
  }

  std::size_t feito = 0;
  const bool escrito = EscreverTudo(fd.Get(), dados, feito);
  if (!escrito || !fd.Fechar()) {
    erroArquivo_ = errno;
    if (escrito) return false;  // the close failed: nothing is known to have arrived
    // Lines that reached the file whole wait no longer.
    if (feito >= aviso.size() && !aviso.empty()) {
      feito -= aviso.size();
      perdidas_ = 0;
    } else if (!aviso.empty()) {
      return false;
    }
    while (!guardadas_.empty() && feito >= guardadas_.front().size() + 2) {
      feito -= guardadas_.front().size() + 2;
      bytesGuardados_ -= guardadas_.front().size() + 2;
      guardadas_.pop_front();
    }
    return false;
  }
  guardadas_.clear();
  bytesGuardados_ = 0;
  perdidas_ = 0;
  return true;
}

bool TLogServidor::Rotacionar() {
  // rename replaces the target, so the last one drops the oldest file.
  for (int n = kArquivosRotacionados - 1; n >= 1; --n)
    ::rename(NomeRotacionado(arquivo_, n).c_str(), NomeRotacionado(arquivo_, n + 1).c_str());
  const std::string primeiro = NomeRotacionado(arquivo_, 1);
  if (::rename(arquivo_.c_str(), primeiro.c_str()) == 0) {
    falhaRotacaoAvisada_ = false;
    return true;
  }
  // The lines go on into the same file rather than be lost; the next line tries again.
  if (!falhaRotacaoAvisada_)
    std::fprintf(stderr, "%s: não foi possível renomear o log para %s (%s); ele segue crescendo.\n",
                 arquivo_.c_str(), primeiro.c_str(), std::strerror(errno));
  falhaRotacaoAvisada_ = true;
  return false;
}

std::string TLogServidor::AvisarFalha(int erro) {
  if (falhaAvisada_) return {};
  falhaAvisada_ = true;
  const std::string aviso = arquivo_ + ": não foi possível gravar o log (" + std::strerror(erro) +
                            "); a linha fica guardada.";
  std::fprintf(stderr, "%s\n", aviso.c_str());
  return aviso;
}

std::string TLogServidor::NomeRotacionado(const std::string& arquivo, int n) {
  const std::size_t barra = arquivo.rfind('/');
  const std::size_t inicioNome = barra == std::string::npos ? 0 : barra + 1;
  const std::size_t ponto = arquivo.rfind('.');
  const std::string numero = "." + std::to_string(n);
  // A name's leading dot (".log") is not an extension.
  if (ponto == std::string::npos || ponto <= inicioNome) return arquivo + numero;
  return arquivo.substr(0, ponto) + numero + arquivo.substr(ponto);
}

void TLogServidor::SetAoFalhar(std::function<void(const std::string&)> aoFalhar) {
  std::lock_guard lock(trava_);
  aoFalhar_ = std::move(aoFalhar);
}

void TLogServidor::LimparLog() {
  std::lock_guard lock(trava_);
  guardadas_.clear();
  bytesGuardados_ = 0;
  perdidas_ = 0;
  truncar_ = true;
}

void TLogServidor::DefinirArquivo(std::string arquivo) {
  std::lock_guard lock(trava_);
  arquivo_ = std::move(arquivo);
  truncar_ = true;
}

std::string TLogServidor::Arquivo() const {
  std::lock_guard lock(trava_);
  return arquivo_;
}

void TLogServidor::DefinirTamanhoMaximo(std::uint64_t bytes) {
  std::lock_guard lock(trava_);
  tamanhoMaximo_ = bytes;
}

std::vector<std::string> TLogServidor::Linhas() const {
  std::lock_guard lock(trava_);
  std::vector<std::string> linhas;
  if (!truncar_) {
    std::ifstream in(arquivo_, std::ios::binary);
    for (std::string l; std::getline(in, l);) {
      if (!l.empty() && l.back() == '\r') l.pop_back();
      linhas.push_back(std::move(l));
    }
  }
  linhas.insert(linhas.end(), guardadas_.begin(), guardadas_.end());
  return linhas;
}

bool TLogServidor::ArquivoEmDia() const {
  std::lock_guard lock(trava_);
  return guardadas_.empty();
}

std::size_t TLogServidor::LinhasGuardadas() const {
  std::lock_guard lock(trava_);
  return guardadas_.size();
}

void GravarLog(const std::string& pspTexto, TTipoLog pTipoLog) {
  TLogServidorSingleton::GetInstance().Log(pspTexto, pTipoLog);
}

}  // namespace tamrix::diagnostics

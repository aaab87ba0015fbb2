#include "endpoints/uArquivoUpload.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>

#include "config/uConfigServidor.h"
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

bool Digitos(std::string_view t) {
  for (char c : t)
    if (c < '0' || c > '9') return false;
  return !t.empty();
}

// "yyyy-MM-dd hhnnss.txt" or "yyyy-MM-dd hhnnss-N.txt".
bool NomeDeUpload(std::string_view nome) {
  if (nome.size() < 21 || !nome.ends_with(".txt")) return false;
  if (!Digitos(nome.substr(0, 4)) || nome[4] != '-' || !Digitos(nome.substr(5, 2)) ||
      nome[7] != '-' || !Digitos(nome.substr(8, 2)) || nome[10] != ' ' ||
      !Digitos(nome.substr(11, 6)))
    return false;
  const std::string_view resto = nome.substr(17, nome.size() - 21);
  return resto.empty() || (resto[0] == '-' && Digitos(resto.substr(1)));
}

std::string MiB(std::uint64_t bytes) {
  return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

// What a file of that size takes of the disk, at least one block: empty uploads are not free.
std::uint64_t EmBlocos(std::uint64_t bytes) {
  constexpr std::uint64_t kBloco = 4096;
  return std::max<std::uint64_t>(1, (bytes + kBloco - 1) / kBloco) * kBloco;
}

// Bytes the files in pasta named as uploads take, leaving out those named in fora.
std::uint64_t Ocupado(const std::string& pasta, const std::set<std::string>& fora) {
  namespace fs = std::filesystem;
  std::uint64_t total = 0;
  std::error_code erro;
  for (fs::directory_iterator it(pasta.empty() ? "." : pasta, erro), fim; !erro && it != fim;
       it.increment(erro)) {
    if (!NomeDeUpload(it->path().filename().string()) || fora.count(it->path().string())) continue;
    std::error_code e;
    if (it->is_regular_file(e)) total += EmBlocos(it->file_size(e));
  }
  return total;
}

// Uploads being written now: their whole size is promised up front (and their files, still
// growing, are left out of the count), so two at once cannot both take the last room.
std::mutex gMutexReserva;
std::uint64_t gReservado = 0;
std::set<std::string> gEscrevendo;

class TReserva {
 public:
  TReserva(const std::string& pasta, std::uint64_t bytes, const TLimitesUpload& limites)
      : tamanho_(EmBlocos(bytes)) {
    const std::uint64_t tamanho = tamanho_;
    std::lock_guard trava(gMutexReserva);
    const std::uint64_t usado = Ocupado(pasta, gEscrevendo) + gReservado;
    if (usado + tamanho > limites.EspacoMaximo)
      throw diagnostics::Exception(
          "O arquivo enviado (" + MiB(tamanho) +
          ") não foi gravado: os arquivos enviados já ocupam " + MiB(usado) + " de " +
          MiB(limites.EspacoMaximo) +
          " permitidos no servidor (EspacoMaximoUploads). Remova arquivos antigos da pasta "
          "do servidor ou aumente o limite.");
    struct statvfs disco {};
    if (::statvfs(pasta.empty() ? "." : pasta.c_str(), &disco) == 0) {
      const std::uint64_t livre =
          static_cast<std::uint64_t>(disco.f_bavail) * static_cast<std::uint64_t>(disco.f_frsize);
      const std::uint64_t depois = livre > gReservado + tamanho ? livre - gReservado - tamanho : 0;
      if (depois < limites.LivreMinimo)
        throw diagnostics::Exception(
            "O arquivo enviado (" + MiB(tamanho) +
            ") não foi gravado: o disco do servidor ficaria com menos de " +
            MiB(limites.LivreMinimo) + " livres.");
    }
    gReservado += tamanho_;
  }
  // The file the upload claimed: left out of other uploads' counts while it is written.
  void Nomear(const std::string& caminho) {
    std::lock_guard trava(gMutexReserva);
    caminho_ = caminho;
    gEscrevendo.insert(caminho_);
  }
  ~TReserva() {
    std::lock_guard trava(gMutexReserva);
    gReservado -= tamanho_;
    if (!caminho_.empty()) gEscrevendo.erase(caminho_);
  }
  TReserva(const TReserva&) = delete;
  TReserva& operator=(const TReserva&) = delete;

 private:
  const std::uint64_t tamanho_;
  std::string caminho_;
};

}  // namespace

TLimitesUpload LimitesUploadConfigurados() {
  TLimitesUpload l;
  l.EspacoMaximo = static_cast<std::uint64_t>(
      config::TConfigServidorSingleton::GetInstance().EspacoMaximoUploads());
  return l;
}

std::uint64_t EspacoUploads(const std::string& pspPasta) {
  return Ocupado(pspPasta, {});
}

std::string GravarArquivoUpload(const std::string& pspPasta,
                                std::chrono::system_clock::time_point pdMomento,
                                std::string_view pspConteudo) {
  return GravarArquivoUpload(pspPasta, pdMomento, pspConteudo, LimitesUploadConfigurados());
}

std::string GravarArquivoUpload(const std::string& pspPasta,
                                std::chrono::system_clock::time_point pdMomento,
                                std::string_view pspConteudo, const TLimitesUpload& limites) {
  TReserva reserva(pspPasta, pspConteudo.size(), limites);
  const std::string base = pspPasta + util::FormatarDataHora("yyyy-MM-dd hhnnss", pdMomento);
  std::string caminho;
  int fd = -1;
  for (int n = 1; fd < 0; ++n) {
    caminho = n == 1 ? base + ".txt" : base + "-" + std::to_string(n) + ".txt";
    // O_EXCL claims the name atomically, so two uploads never share a file.
    fd = ::open(caminho.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && (errno != EEXIST || n >= kMaximoNomes)) Falhar(caminho, errno);
  }
  reserva.Nomear(caminho);
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

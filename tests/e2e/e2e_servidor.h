// The real server of dist/ for end-to-end tests: each TServidorE2E copies $TAMRIX_DIST to a
// folder of its own (so log.txt, config.ini and uploads stay private), writes config.ini for
// the test PostgreSQL on a free port and runs the executable headless; plus a bare HTTP/1.1
// client over real sockets.
#ifndef TAMRIX_TESTS_E2E_E2E_SERVIDOR_H
#define TAMRIX_TESTS_E2E_E2E_SERVIDOR_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/pastatemp.h"
#include "support/pgtest.h"

extern char** environ;

namespace tamrix::e2e {

using namespace std::chrono_literals;

// Whether the server's memory figures can be held to a bound: under AddressSanitizer its
// shadow memory and quarantine grow with every allocation.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kMemoriaComparavel = false;
#else
inline constexpr bool kMemoriaComparavel = true;
#endif

// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"); -1 when it cannot be read.
inline long MemoriaKiB(pid_t pid, const std::string& campo) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string linha; std::getline(in, linha);)
    if (linha.rfind(campo + ":", 0) == 0) return std::atol(linha.c_str() + campo.size() + 1);
  return -1;
}

// The dist/ folder under test; empty when TAMRIX_DIST is not set or has no executable.
inline std::string PastaDist() {
  const char* d = std::getenv("TAMRIX_DIST");
  if (d == nullptr || *d == '\0') return {};
  if (!std::filesystem::exists(std::filesystem::path(d) / "tamrix-rest-server")) return {};
  return d;
}

// Skips without dist/ or database, or fails under TAMRIX_REQUIRE_DB=1.
#define TAMRIX_REQUIRE_DIST()                                                         \
  do {                                                                                \
    TAMRIX_REQUIRE_PG();                                                              \
    if (::tamrix::e2e::PastaDist().empty()) {                                         \
      if (::tamrix::pgtest::Required())                                               \
        FAIL() << "TAMRIX_DIST does not name a dist/ folder with tamrix-rest-server"; \
      else                                                                            \
        GTEST_SKIP() << "TAMRIX_DIST not set (export TAMRIX_DIST=$PWD/dist)";         \
    }                                                                                 \
  } while (0)

// A TCP port nobody listens on right now (the kernel's choice for an ephemeral bind).
inline int PortaLivre() {
  int s = ::socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_any;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(s);
  return ntohs(a.sin6_port);
}

struct TRespostaHTTP {
  int Status = 0;  // 0: no answer (connection closed or refused)
  std::string Reason;
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;

  std::string Header(const std::string& nome) const {
    for (const auto& [n, v] : Headers)
      if (strcasecmp(n.c_str(), nome.c_str()) == 0) return v;
    return {};
  }
  // The session id of the Pragma header ("" without one).
  std::string Sessao() const {
    const std::string p = Header("Pragma");
    const auto i = p.find("dssession=");
    if (i == std::string::npos) return {};
    const auto f = p.find(',', i);
    return p.substr(i + 10, f == std::string::npos ? std::string::npos : f - i - 10);
  }
};

// Sends raw bytes to 127.0.0.1:porta and reads the answer until the server closes. origem,
// when given, is the loopback source address (127.0.0.2, ...) the connection comes from.
inline TRespostaHTTP EnviarBruto(int porta, const std::string& bytes,
                                 const char* origem = nullptr) {
  TRespostaHTTP r;
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  timeval t{60, 0};
  ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
  if (origem != nullptr) {
    sockaddr_in o{};
    o.sin_family = AF_INET;
    ::inet_pton(AF_INET, origem, &o.sin_addr);
    if (::bind(s, reinterpret_cast<sockaddr*>(&o), sizeof o) != 0) {
      ::close(s);
      return r;
    }
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(porta));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return r;
  }
  for (std::size_t enviado = 0; enviado < bytes.size();) {
    const ssize_t n = ::send(s, bytes.data() + enviado, bytes.size() - enviado, MSG_NOSIGNAL);
    if (n <= 0) break;
    enviado += static_cast<std::size_t>(n);
  }
  std::string in;
  char buf[65536];
  for (ssize_t n; (n = ::recv(s, buf, sizeof buf, 0)) > 0;)
    in.append(buf, static_cast<std::size_t>(n));
  ::close(s);
  const auto fimCab = in.find("\r\n\r\n");
  if (fimCab == std::string::npos) return r;
  std::istringstream cab(in.substr(0, fimCab));
  std::string linha;
  std::getline(cab, linha);
  if (linha.size() < 12) return r;
  r.Status = std::atoi(linha.substr(9, 3).c_str());
  r.Reason = linha.size() > 13 ? linha.substr(13) : "";
  if (!r.Reason.empty() && r.Reason.back() == '\r') r.Reason.pop_back();
  while (std::getline(cab, linha)) {
    if (!linha.empty() && linha.back() == '\r') linha.pop_back();
    const auto dp = linha.find(':');
    if (dp == std::string::npos) continue;
    std::string v = linha.substr(dp + 1);
    if (!v.empty() && v.front() == ' ') v.erase(0, 1);
    r.Headers.emplace_back(linha.substr(0, dp), v);
  }
  r.Body = in.substr(fimCab + 4);
  return r;
}

// One request; extra header lines end with CR LF each.
inline TRespostaHTTP Pedir(int porta, const std::string& metodo, const std::string& alvo,
                           const std::string& cabecalhos = {}, const std::string& corpo = {}) {
  std::string req = metodo + " " + alvo + " HTTP/1.1\r\nHost: localhost:" + std::to_string(porta) +
                    "\r\nConnection: close\r\n" + cabecalhos;
  if (!corpo.empty() || metodo == "POST" || metodo == "PUT")
    req += "Content-Length: " + std::to_string(corpo.size()) + "\r\n";
  req += "\r\n" + corpo;
  return EnviarBruto(porta, req);
}

inline std::string Pragma(const std::string& sessao) {
  return "Pragma: dssession=" + sessao + "\r\n";
}

// Settings of config.ini that a test may change before Iniciar.
struct TConfigE2E {
  int Porta = 0;                   // defaults to a free port
  std::string MainDb = {};         // defaults to the shared main database
  std::string Senha = {};          // scrambled; defaults to the login role's
  std::string ExtraServidor = {};  // more lines for [Servidor]
  std::string ExtraBD = {};        // more lines for [BD]
};

class TServidorE2E {
 public:
  explicit TServidorE2E(const TConfigE2E& c = {}) : porta_(c.Porta != 0 ? c.Porta : PortaLivre()) {
    std::filesystem::copy(PastaDist(), pasta_.Pasta(),
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(pasta_.Caminho("log.txt"));
    const pgtest::TPgEnv* e = pgtest::Env();
    pasta_.Gravar("config.ini",
                  "[Servidor]\r\nPorta=" + std::to_string(porta_) + "\r\n" + c.ExtraServidor +
                      "[BD]\r\nDriver=PostgreSQL\r\nHost=" + e->host + "\r\nPorta=" + e->port +
                      "\r\nInstancia=\r\nDataBase=" + (c.MainDb.empty() ? e->mainDb : c.MainDb) +
                      "\r\nUsuario=" + e->userScrambled + "\r\nSenha=" +
                      (c.Senha.empty() ? e->passwordScrambled : c.Senha) + "\r\n" + c.ExtraBD);
  }
  ~TServidorE2E() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  TServidorE2E(const TServidorE2E&) = delete;
  TServidorE2E& operator=(const TServidorE2E&) = delete;

  // Runs the executable with these arguments (after the program name) and DISPLAY set to
  // display (unset when empty), and waits until it reports that it listens (true) or it
  // ends (false, its status in Status()).
  bool Iniciar(std::vector<std::string> argumentos = {"--headless"},
               const std::string& display = {}, std::chrono::seconds limite = 60s) {
    const std::string exe = pasta_.Caminho("tamrix-rest-server");
    std::vector<std::string> env;
    for (char** v = environ; *v != nullptr; ++v)
      if (std::string_view(*v).rfind("DISPLAY=", 0) != 0) env.emplace_back(*v);
    if (!display.empty()) env.push_back("DISPLAY=" + display);
    std::vector<char*> envp;
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    argumentos.insert(argumentos.begin(), exe);
    std::vector<char*> argv;
    for (auto& a : argumentos) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, pasta_.Caminho("stdout.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, pasta_.Caminho("stderr.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int erro = posix_spawn(&pid_, exe.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (erro != 0) {
      pid_ = -1;
      return false;
    }
    const auto fim = std::chrono::steady_clock::now() + limite;
    while (std::chrono::steady_clock::now() < fim) {
      if (Saida().find("ouvindo em") != std::string::npos) return true;
      if (Terminou(0ms)) return false;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  // Sends the signal and waits for the process to end; its exit status, or -1 when it did
  // not end in time or died of a signal.
  int Parar(int sinal = SIGTERM, std::chrono::seconds limite = 60s) {
    if (pid_ > 0) ::kill(pid_, sinal);
    return Terminou(limite) ? status_ : -1;
  }

  // Whether the process has ended (waiting up to limite).
  bool Terminou(std::chrono::milliseconds limite) {
    if (pid_ <= 0) return true;
    const auto fim = std::chrono::steady_clock::now() + limite;
    for (;;) {
      int st = 0;
      if (::waitpid(pid_, &st, WNOHANG) == pid_) {
        pid_ = -1;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return true;
      }
      if (std::chrono::steady_clock::now() >= fim) return false;
      std::this_thread::sleep_for(20ms);
    }
  }
  int Status() const { return status_; }

  int Porta() const { return porta_; }
  pid_t Pid() const { return pid_; }  // -1 once ended
  std::string Pasta() const { return pasta_.Pasta(); }
  std::string Saida() const { return testes::LerArquivo(pasta_.Caminho("stdout.txt")); }
  std::string Erros() const { return testes::LerArquivo(pasta_.Caminho("stderr.txt")); }

  // The lines of log.txt (CR LF removed).
  std::vector<std::string> Log() const {
    std::vector<std::string> linhas;
    std::istringstream in(testes::LerArquivo(pasta_.Caminho("log.txt")));
    for (std::string l; std::getline(in, l);) {
      if (!l.empty() && l.back() == '\r') l.pop_back();
      linhas.push_back(l);
    }
    return linhas;
  }

  TRespostaHTTP Get(const std::string& alvo, const std::string& cabecalhos = {}) const {
    return Pedir(porta_, "GET", alvo, cabecalhos);
  }

 private:
  testes::TPastaTemp pasta_;
  int porta_;
  pid_t pid_ = -1;
  int status_ = -1;
};

// The descriptions in EventosServRest of a main database, oldest first.
inline std::vector<std::string> Eventos(const std::string& mainDb) {
  db::TDBConnection c;
  pgtest::Configure(c, mainDb);
  c.Open();
  db::TDBQuery q(&c);
  q.SetSQL("SELECT descricao FROM EventosServRest ORDER BY id_evento");
  q.Open();
  std::vector<std::string> r;
  for (; !q.Eof(); q.Next()) r.push_back(q.Fields(0).AsString());
  return r;
}

}  // namespace tamrix::e2e

#endif  // TAMRIX_TESTS_E2E_E2E_SERVIDOR_H

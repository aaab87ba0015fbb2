// What the reliability scenarios share: the driver's options, the server process under test,
// PostgreSQL through psql, the tally of answers and the verdict line each scenario prints.
#ifndef TAMRIX_TESTS_RELIABILITY_REL_COMUM_H
#define TAMRIX_TESTS_RELIABILITY_REL_COMUM_H

#include <sys/types.h>

#include <boost/json.hpp>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "reliability/rel_http.h"

namespace tamrix::reliability {

inline constexpr const char* kToken = "TkLoja1-7F3A9C";  // tenant 1 of tests/sql/main.sql
inline constexpr const char* kCnpj = "11222333000181";
inline constexpr const char* kBancoTenant = "tamrix_tenant1";
// Longer than the server's default read timeout (30 s), which ends a request that stalls.
inline constexpr auto kPrazo = std::chrono::seconds(45);
inline constexpr const char* kPoolCheio = "Maximum number of concurrent connections exceeded";
inline constexpr const char* kRotuloPoolCheio = "instâncias esgotadas (500)";

// ---------------------------------------------------------------------------------------
// Options, environment, the server process, PostgreSQL through psql

extern std::map<std::string, std::string> gOpcoes;  // "--name value" pairs of the command line
extern int gPorta;                                  // the server's port
extern pid_t gPid;                                  // the server's process
extern int gDestinos;  // loopback addresses 127.0.0.1..N spread the connections' port space

// The option's value, or padrao when it was not given.
std::string Opcao(const std::string& nome, const std::string& padrao = {});
int OpcaoInt(const std::string& nome, int padrao);
// The environment variable, or padrao when unset or empty.
std::string Env(const char* nome, const std::string& padrao = {});

// "VmRSS", "VmHWM" (or another numeric field of /proc/PID/status) of the server in kB; 0
// when gone.
long MemoriaKb(const std::string& campo);
// The server's resident memory once it is idle: the threads that served the last burst have
// ended (they leave after a while with nothing to accept), at most 30 s.
long MemoriaEmRepouso();
// Whether the server process still runs (not gone, not a zombie).
bool ServidorVivo();

// The stdout of a shell command without its last line breaks; nullopt when it failed.
std::optional<std::string> Saida(const std::string& cmd);
// One statement as the superuser over the cluster's socket; its trimmed output, or nullopt.
std::optional<std::string> Psql(const std::string& banco, const std::string& sql);
// The first number Psql gives; -1 when it failed.
long PsqlNumero(const std::string& banco, const std::string& sql);
// Backends of the server's databases (main and tenants) right now.
long Backends();
// Waits up to limite for the backends to come down to alvo; the last count.
long EsperarBackends(long alvo, std::chrono::seconds limite);

// ---------------------------------------------------------------------------------------
// What a scenario held

struct TResultado {
  std::string Rotulo = "ok";  // "ok" or the kind of error
  bool Fatal = false;         // a fault no circumstance excuses (malformed, hang, ...)
  std::string Texto;          // an error text the server answered, for the translation check
};

class TEstatisticas {
 public:
  void Contar(const TResultado& r, const std::string& amostra = {}) {
    std::lock_guard l(m_);
    ++requisicoes_;
    if (r.Rotulo == "ok") {
      ++ok_;
    } else {
      ++erros_[r.Rotulo];
      if (r.Fatal) {
        ++fatais_;
        if (amostras_.size() < 5 && !amostra.empty()) amostras_.insert(amostra);
      }
    }
    if (!r.Texto.empty() && textos_.size() < kMaxTextos) textos_.insert(r.Rotulo + ": " + r.Texto);
  }
  void Juntar(const TEstatisticas& o) {
    std::scoped_lock l(m_, o.m_);
    requisicoes_ += o.requisicoes_;
    ok_ += o.ok_;
    fatais_ += o.fatais_;
    for (const auto& [k, n] : o.erros_) erros_[k] += n;
    for (const auto& t : o.textos_)
      if (textos_.size() < kMaxTextos) textos_.insert(t);
    amostras_.insert(o.amostras_.begin(), o.amostras_.end());
  }
  long Requisicoes() const {
    std::lock_guard l(m_);
    return requisicoes_;
  }
  long Ok() const {
    std::lock_guard l(m_);
    return ok_;
  }
  long Fatais() const {
    std::lock_guard l(m_);
    return fatais_;
  }
  long Erros(const std::string& rotulo) const {
    std::lock_guard l(m_);
    const auto i = erros_.find(rotulo);
    return i == erros_.end() ? 0 : i->second;
  }
  std::set<std::string> Textos() const {
    std::lock_guard l(m_);
    return textos_;
  }
  std::set<std::string> Amostras() const {
    std::lock_guard l(m_);
    return amostras_;
  }
  // "requests N, ok N, errors {kind: n, ...}"
  std::string Resumo() const {
    std::lock_guard l(m_);
    std::string s =
        "requests " + std::to_string(requisicoes_) + ", ok " + std::to_string(ok_) + ", errors {";
    bool primeiro = true;
    for (const auto& [k, n] : erros_) {
      s += (primeiro ? "" : ", ") + k + ": " + std::to_string(n);
      primeiro = false;
    }
    return s + "}";
  }

 private:
  mutable std::mutex m_;
  long requisicoes_ = 0, ok_ = 0, fatais_ = 0;
  std::map<std::string, long> erros_;
  static constexpr std::size_t kMaxTextos = 200;
  std::set<std::string> textos_;  // "kind: text", distinct
  std::set<std::string> amostras_;
};

// Checks gathered for the final line.
class TVeredito {
 public:
  void Exigir(bool condicao, const std::string& falha) {
    if (!condicao) falhas_.push_back(falha);
  }
  void Anotar(const std::string& texto) { notas_ += ", " + texto; }
  // Prints the scenario's line (and the failures below it); the process exit code.
  int Imprimir(const std::string& nome, const TEstatisticas& e) const {
    // Without one server process (several behind a balancer) there is no one peak to show.
    char pico[64] = "";
    if (gPid > 0)
      std::snprintf(pico, sizeof pico, ", peak RSS %.1f MB",
                    static_cast<double>(MemoriaKb("VmHWM")) / 1024.0);
    std::printf("reliability %s: %s%s%s %s\n", nome.c_str(), e.Resumo().c_str(), pico,
                notas_.c_str(), falhas_.empty() ? "PASS" : "FAIL");
    for (const auto& f : falhas_) std::printf("  FAIL: %s\n", f.c_str());
    if (!falhas_.empty())
      for (const auto& t : e.Textos()) std::printf("  error text: %s\n", t.c_str());
    for (const auto& a : e.Amostras()) std::printf("  sample: %s\n", a.c_str());
    std::fflush(stdout);
    return falhas_.empty() ? 0 : 1;
  }

 private:
  std::vector<std::string> falhas_;
  std::string notas_;
};

// Every text the server answered as an error must be one of its own Portuguese texts, with
// the driver's bracketed tags removed.
bool Traduzido(const std::string& t);

TResultado Falha(std::string rotulo, bool fatal = false, std::string texto = {});
// What no answer may be, whatever was asked: refused, late, malformed, closed when an answer
// was due; the pool's refusal is a kind of its own (not fatal).
std::optional<TResultado> FalhaDeTransporte(const TResposta& r, bool esperaResposta);
// The REST envelope: result array (in *result), or an error answer classified under nome.
std::optional<TResultado> FalhaRest(const TResposta& r, const std::string& nome, int statusOk,
                                    const boost::json::array** result);

}  // namespace tamrix::reliability

#endif  // TAMRIX_TESTS_RELIABILITY_REL_COMUM_H

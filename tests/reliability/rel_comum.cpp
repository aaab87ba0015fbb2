#include "reliability/rel_comum.h"

#include <cstdlib>
#include <fstream>
#include <regex>
#include <thread>

namespace tamrix::reliability {

using namespace std::chrono_literals;
using Relogio = std::chrono::steady_clock;
namespace json = boost::json;

std::map<std::string, std::string> gOpcoes;

std::string Opcao(const std::string& nome, const std::string& padrao) {
  const auto i = gOpcoes.find(nome);
  return i == gOpcoes.end() ? padrao : i->second;
}
int OpcaoInt(const std::string& nome, int padrao) {
  const auto v = Opcao(nome);
  return v.empty() ? padrao : std::atoi(v.c_str());
}
std::string Env(const char* nome, const std::string& padrao) {
  const char* v = std::getenv(nome);
  return v != nullptr && *v != '\0' ? v : padrao;
}

int gPorta = 0;
pid_t gPid = 0;
int gDestinos = 1;  // loopback addresses 127.0.0.1..N spread the connections' port space

// "VmRSS" or "VmHWM" of the server in kB (0 when gone).
long MemoriaKb(const std::string& campo) {
  std::ifstream in("/proc/" + std::to_string(gPid) + "/status");
  for (std::string l; std::getline(in, l);)
    if (l.rfind(campo + ":", 0) == 0) return std::atol(l.c_str() + campo.size() + 1);
  return 0;
}

// The server's resident memory once it is idle: the threads that served the last burst have
// ended (they leave after a while with nothing to accept), at most 30 s.
long MemoriaEmRepouso() {
  long threads = 0, anterior = -1;
  for (int i = 0; i < 60; ++i) {
    threads = MemoriaKb("Threads");
    if (threads == anterior && threads <= 8) break;
    anterior = threads;
    std::this_thread::sleep_for(500ms);
  }
  return MemoriaKb("VmRSS");
}

bool ServidorVivo() {
  std::ifstream in("/proc/" + std::to_string(gPid) + "/status");
  for (std::string l; std::getline(in, l);)
    if (l.rfind("State:", 0) == 0) return l.find('Z') == std::string::npos;
  return false;
}

// The stdout of a shell command without its last line breaks; nullopt when it failed.
std::optional<std::string> Saida(const std::string& cmd) {
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return std::nullopt;
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (::pclose(p) != 0) return std::nullopt;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// One statement as the superuser over the cluster's socket; its trimmed output, or nullopt.
std::optional<std::string> Psql(const std::string& banco, const std::string& sql) {
  return Saida("'" + Env("TAMRIX_PG_BIN", "/usr/lib/postgresql/15/bin") + "/psql' -X -q -At -h '" +
               Env("TAMRIX_PG_SOCKET") + "' -p " + Env("TAMRIX_PG_PORT") + " -U " +
               Env("TAMRIX_PG_SUPERUSER", "postgres") + " -d " + banco + " -c \"" + sql +
               "\" 2>/dev/null");
}

long PsqlNumero(const std::string& banco, const std::string& sql) {
  const auto v = Psql(banco, sql);
  return v && !v->empty() ? std::atol(v->c_str()) : -1;
}

// Backends of the server's databases (main and tenants) right now.
long Backends() {
  return PsqlNumero("postgres", "SELECT count(*) FROM pg_stat_activity WHERE datname IN ('" +
                                    Env("TAMRIX_PG_MAIN_DB", "tamrix_main") + "', '" +
                                    Env("TAMRIX_PG_TENANT1_DB", "tamrix_tenant1") + "', '" +
                                    Env("TAMRIX_PG_TENANT2_DB", "tamrix_tenant2") + "')");
}

// Waits up to limite for the backends to come down to alvo; the last count.
long EsperarBackends(long alvo, std::chrono::seconds limite) {
  const auto fim = Relogio::now() + limite;
  long n = Backends();
  while ((n < 0 || n > alvo) && Relogio::now() < fim) {
    std::this_thread::sleep_for(250ms);
    n = Backends();
  }
  return n;
}

// Every text the server answered as an error must be one of its own Portuguese texts, with
// the driver's bracketed tags removed.
bool Traduzido(const std::string& t) {
  static const std::regex prefixo(R"(\[[^\[\]]*\]\[[^\[\]]*\])");
  if (std::regex_search(t, prefixo)) return false;
  static const char* const kInicios[] = {
      "Ocorreu um erro inesperado. Detalhes: ",
      "Não foi possível conectar ao banco de dados ",
      "IP ou instância do servidor de banco de dados inválido ou inalcançável.",
      "Usuário ou senha do banco de dados inválido.",
      "Problemas ao tentar conexão com servidor.",
      "Intervalo de faixa incorreta.",
      "Valor decimal inválido.",
      "Valor fora de faixa.",
      "Token ",
  };
  for (const char* i : kInicios)
    if (t.rfind(i, 0) == 0) return true;
  return false;
}

TResultado Falha(std::string rotulo, bool fatal, std::string texto) {
  return {std::move(rotulo), fatal, std::move(texto)};
}

// What no answer may be, whatever was asked.
std::optional<TResultado> FalhaDeTransporte(const TResposta& r, bool esperaResposta) {
  switch (r.Estado) {
    case TResposta::Recusada:
      return Falha("conexão recusada", true);
    case TResposta::Prazo:
      return Falha("sem resposta no prazo", true);
    case TResposta::Malformada:
      return Falha("malformada", true);
    case TResposta::Fechada:
      if (esperaResposta) return Falha("fechada sem resposta", true);
      return std::nullopt;
    case TResposta::Respondida:
      // The 33rd request at once, whatever its route.
      if (r.Status == 500 && r.Corpo.find(kPoolCheio) != std::string::npos)
        return Falha(kRotuloPoolCheio);
      break;
  }
  return std::nullopt;
}

// The REST envelope: result array, or an error answer classified under nome.
std::optional<TResultado> FalhaRest(const TResposta& r, const std::string& nome, int statusOk,
                                    const json::array** result) {
  const json::object* o = r.Json && r.Json->is_object() ? &r.Json->as_object() : nullptr;
  if (o == nullptr) return Falha(nome + " " + std::to_string(r.Status) + " sem JSON", true);
  if (const auto* e = o->if_contains("error"); e != nullptr && e->is_string())
    return Falha(nome + " erro " + std::to_string(r.Status), false, std::string(e->as_string()));
  const auto* res = o->if_contains("result");
  if (r.Status != statusOk || res == nullptr || !res->is_array())
    return Falha(nome + " " + std::to_string(r.Status), true);
  *result = &res->as_array();
  return std::nullopt;
}

}  // namespace tamrix::reliability

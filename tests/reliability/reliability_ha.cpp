// Two servers behind HAProxy (deploy/haproxy/haproxy.cfg): terminals that log in again when
// told their session expired keep working while the instances are restarted one after the
// other and while one is killed.
//   --instancias DIR:HTTP:ADMIN,...  the instances' folders (config.ini written) and ports
//   --conexoes N      terminals (128)          --segundos N   steady load before the faults (8)
//   --apos N          load after the kill (8)  --log-balanceador FILE   HAProxy's log
// The driver starts each instance (DIR/stdout-K.txt for its K-th run, DIR/pid for the
// script's clean-up), so that it knows when each fault begins and ends.
#include "reliability/reliability_ha.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "reliability/rel_comum.h"
#include "util/uBase64.h"

namespace tamrix::reliability {
namespace {

using namespace std::chrono_literals;
using Relogio = std::chrono::steady_clock;
namespace json = boost::json;

constexpr const char* kRotuloExpirada = "sessão expirada (403)";

// UTC time as the access log writes it ("2026-12-10T13:45:07.123Z"), so the two compare as text.
std::string AgoraUtc() {
  const auto agora = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(agora);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(agora.time_since_epoch()).count() %
      1000;
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return buf;
}

// ---------------------------------------------------------------------------------------
// The instances

class TInstancia {
 public:
  TInstancia(std::filesystem::path pasta, int porta, int admin)
      : pasta_(std::move(pasta)), porta_(porta), admin_(admin) {}

  // Starts the next run headless, its output in stdout-K.txt; false when it could not.
  bool Iniciar() {
    ++execucao_;
    const std::string saida = Saida().string(), erros = (pasta_ / "stderr.txt").string();
    const pid_t p = ::fork();
    if (p < 0) return false;
    if (p == 0) {
      if (::chdir(pasta_.c_str()) != 0) ::_exit(127);
      const int o = ::open(saida.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = ::open(erros.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (o < 0 || e < 0) ::_exit(127);
      ::dup2(o, 1);
      ::dup2(e, 2);
      ::execl("./tamrix-rest-server", "tamrix-rest-server", "--headless", nullptr);
      ::_exit(127);
    }
    pid_ = p;
    std::ofstream(pasta_ / "pid") << pid_ << "\n";
    return true;
  }

  // Waits up to limite for /ready to answer 200.
  bool EsperarPronta(std::chrono::seconds limite) const {
    const auto fim = Relogio::now() + limite;
    while (Relogio::now() < fim) {
      if (!Viva()) return false;
      const TResposta r = Trocar(PedidoGet(admin_, "/ready"), admin_, 1, 2s);
      if (r.Estado == TResposta::Respondida && r.Status == 200) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }

  // Waits up to limite for the balancer to send this run a request (it takes it back once its
  // health checks pass). Pages: the sessions all sit on the other instance by then.
  bool EsperarEmRotacao(std::chrono::seconds limite) const {
    const auto fim = Relogio::now() + limite;
    while (Relogio::now() < fim) {
      std::ifstream in(Saida());
      for (std::string l; std::getline(in, l);)
        if (l.find(" GET /") != std::string::npos || l.find(" PUT /") != std::string::npos)
          return true;
      std::this_thread::sleep_for(200ms);
    }
    return false;
  }

  // SIGTERM and the wait for its end (up to 60 s); the exit status, -1 when it did not end.
  int Encerrar() {
    ::kill(pid_, SIGTERM);
    return Esperar(60s);
  }
  // SIGKILL: gone at once, with whatever it held.
  void Matar() {
    ::kill(pid_, SIGKILL);
    Esperar(10s);
  }

  bool Viva() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
  const std::filesystem::path& Pasta() const { return pasta_; }

 private:
  std::filesystem::path Saida() const {
    return pasta_ / ("stdout-" + std::to_string(execucao_) + ".txt");
  }
  int Esperar(std::chrono::seconds limite) {
    const auto fim = Relogio::now() + limite;
    int status = 0;
    while (Relogio::now() < fim) {
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_ || r < 0) {
        pid_ = 0;
        std::filesystem::remove(pasta_ / "pid");
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(50ms);
    }
    return -1;
  }

  std::filesystem::path pasta_;
  int porta_, admin_;
  pid_t pid_ = 0;
  int execucao_ = 0;  // runs started so far; names the output file
};

// ---------------------------------------------------------------------------------------
// The terminals

// What one phase of the run held: the answers, the expired ones per terminal, the slowest.
struct TFase {
  TEstatisticas Estat;
  std::atomic<long> Relogins{0};
  std::atomic<long> MaiorMs{0};
  std::mutex M;
  std::map<int, int> ExpiradasPorTerminal;

  void Latencia(long ms) {
    long atual = MaiorMs.load();
    while (ms > atual && !MaiorMs.compare_exchange_weak(atual, ms)) {
    }
  }
};

std::atomic<TFase*> gFase{nullptr};

// Sales files the terminals sent: answered stored (1), already imported on a resend (7, the
// lost attempt had stored it), or already imported on the first sending (a fault).
std::mutex gMutexArquivos;
std::vector<std::string> gArmazenados, gReenviadosJaImportados, gPrimeiroJaImportado;
std::atomic<long> gContadorArquivos{0};
std::string gPrefixo = "H";

enum class TTipo { Login, Consulta, Upload, Inverter, Pagina, Js };

class TTerminal {
 public:
  explicit TTerminal(int id) : id_(id), rng_(static_cast<unsigned>(5000 + id)) {}

  // One operation of the mix; when the session is gone, logs in again and repeats it.
  void Passo() {
    static const std::pair<TTipo, int> kMistura[] = {{TTipo::Consulta, 35}, {TTipo::Upload, 20},
                                                     {TTipo::Inverter, 15}, {TTipo::Login, 10},
                                                     {TTipo::Pagina, 12},   {TTipo::Js, 8}};
    int x = std::uniform_int_distribution<int>(0, 99)(rng_);
    TTipo tipo = TTipo::Pagina;
    for (const auto& [t, peso] : kMistura) {
      if (x < peso) {
        tipo = t;
        break;
      }
      x -= peso;
    }
    if (!logado_ && !Logar()) return;
    if (tipo == TTipo::Login) {
      if (!Logar() && sessao_.empty()) Logar(true);
      return;
    }
    std::string arquivo;
    if (tipo == TTipo::Upload) arquivo = gPrefixo + std::to_string(++gContadorArquivos) + ".TXT";
    // A terminal told its session expired logs in again and sends the same call again.
    for (int tentativa = 0; tentativa < 3; ++tentativa) {
      if (!Executar(tipo, arquivo, tentativa > 0)) break;
      if (!Logar(true)) break;
    }
  }

 private:
  // The answer of one request, counted in the current phase. True when it was the expired
  // answer: the session is dropped.
  bool Contar(const TResposta& r, TResultado res, long ms) {
    TFase& f = *gFase.load();
    f.Latencia(ms);
    const bool expirada = r.Estado == TResposta::Respondida && r.Status == 403 &&
                          r.Corpo.find("\"SessionExpired\"") != std::string::npos;
    if (expirada) {
      res = Falha(kRotuloExpirada);
      std::lock_guard l(f.M);
      ++f.ExpiradasPorTerminal[id_];
    } else if (r.Estado == TResposta::Respondida && r.Status >= 502 && r.Status <= 504 && !r.Json) {
      // The balancer's own page: it found no instance, or lost the one it was waiting for.
      res = Falha("balanceador " + std::to_string(r.Status), true);
    } else if (r.Estado == TResposta::Respondida && r.Status == 403) {
      res = Falha("403 sem SessionExpired", true);
    }
    f.Estat.Contar(res, res.Fatal ? res.Rotulo + ": " + r.Problema + " " +
                                        r.Cabecalho.substr(0, r.Cabecalho.find('\r')) + " | " +
                                        r.Corpo.substr(0, 160)
                                  : std::string());
    if (expirada) {
      sessao_.clear();
      logado_ = false;
    }
    return expirada;
  }

  TResposta Pedir(const std::string& pedido, long& ms) {
    const auto t0 = Relogio::now();
    TResposta r = Trocar(pedido, gPorta, 1, kPrazo);
    ms = std::chrono::duration_cast<std::chrono::milliseconds>(Relogio::now() - t0).count();
    if (const std::string s = r.Sessao(); !s.empty()) sessao_ = s;
    return r;
  }

  // Login (or LoginPDV) in the session the terminal has; relogin: after the expired answer.
  bool Logar(bool relogin = false) {
    if (relogin) ++gFase.load()->Relogins;
    const bool pdv = (++logins_ % 2) == 0;
    long ms = 0;
    const TResposta r =
        Pedir(PedidoGet(gPorta,
                        std::string("/tamrix/rest/TsmUsuario/") +
                            (pdv ? "LoginPDV/MARIA/caixa01/" : "Login/ADMIN/admin123/") + kToken,
                        sessao_),
              ms);
    TResultado res;
    const json::array* a = nullptr;
    if (auto f = FalhaDeTransporte(r, true))
      res = *f;
    else if (auto g = FalhaRest(r, "login", 200, &a))
      res = *g;
    else if (a->size() != 2 || !a->at(1).is_bool() || !a->at(1).as_bool())
      res = Falha("login recusado", true);
    logado_ = res.Rotulo == "ok";
    Contar(r, res, ms);
    return logado_;
  }

  // One call; true when it met the expired answer.
  bool Executar(TTipo tipo, const std::string& arquivo, bool reenvio) {
    const std::string rest = "/tamrix/rest/";
    long ms = 0;
    TResposta r;
    TResultado res;
    const json::array* a = nullptr;
    switch (tipo) {
      case TTipo::Login:
        break;  // Passo's own
      case TTipo::Consulta:
        r = Pedir(PedidoGet(gPorta, rest + "TsmCadastro/ConsultarCadastro/0///", sessao_), ms);
        if (auto f = FalhaDeTransporte(r, true))
          res = *f;
        else if (r.Status != 403)
          if (auto g = FalhaRest(r, "consulta", 200, &a)) res = Falha(g->Rotulo, true, g->Texto);
        break;
      case TTipo::Inverter:
        r = Pedir(PedidoGet(gPorta, rest + "TsmComum/InverterString/abc", sessao_), ms);
        if (auto f = FalhaDeTransporte(r, true))
          res = *f;
        else if (r.Status != 403 && r.Corpo != R"({"result":["cba"]})")
          res = Falha("inverter " + std::to_string(r.Status), true);
        break;
      case TTipo::Pagina:
      case TTipo::Js:
        r = Pedir(PedidoGet(gPorta, tipo == TTipo::Pagina ? "/" : "/js/tamrixrest.js"), ms);
        if (auto f = FalhaDeTransporte(r, true))
          res = *f;
        else if (r.Status != 200 || r.Corpo.empty())
          res = Falha("página " + std::to_string(r.Status), true);
        break;
      case TTipo::Upload: {
        const std::string linha = std::string("|V|") + kCnpj + "|" +
                                  std::to_string(100 + gContadorArquivos % 900) + ",00|\r\n";
        r = Pedir(PedidoPut(gPorta,
                            rest + "TsmIntegracaoArquivo/EnviarArquivoVendas/" + kToken + "/" +
                                kCnpj + "/2016-10-09/" + arquivo,
                            "{\"arquivo\":\"" + util::CodificarBase64(linha) + "\"}", sessao_),
                  ms);
        if (auto f = FalhaDeTransporte(r, true)) {
          res = *f;
          break;
        }
        if (r.Status == 403) break;
        if (auto g = FalhaRest(r, "upload", 201, &a)) {
          res = Falha(g->Rotulo, true, g->Texto);
          break;
        }
        const json::object* m =
            !a->empty() && a->at(0).is_object() ? &a->at(0).as_object() : nullptr;
        const auto codigo = m != nullptr && !m->empty() && m->begin()->value().is_int64()
                                ? m->begin()->value().as_int64()
                                : -1;
        std::lock_guard l(gMutexArquivos);
        if (codigo == 1)
          gArmazenados.push_back(arquivo);
        else if (codigo == 7)
          (reenvio ? gReenviadosJaImportados : gPrimeiroJaImportado).push_back(arquivo);
        else
          res = Falha("upload código " + std::to_string(codigo), true);
        break;
      }
    }
    return Contar(r, res, ms);
  }

  int id_;
  std::mt19937 rng_;
  std::string sessao_;
  bool logado_ = false;
  long logins_ = 0;
};

// ---------------------------------------------------------------------------------------
// What the logs show

// The instances' access logs: each session's answered calls (all but the expired answer) in
// one run of one instance, the one that made it; no expired answer before the first fault;
// and the sessions each instance made.
void ConferirLogsAcesso(const std::vector<TInstancia>& is, const std::string& inicioFalhas,
                        TVeredito& v) {
  std::map<std::string, std::set<std::string>> ondePorSessao;  // session -> log files
  long expiradasAntes = 0, linhas = 0;
  std::vector<long> sessoesPorInstancia;
  for (const auto& i : is) {
    std::set<std::string> daInstancia;
    for (const auto& e : std::filesystem::directory_iterator(i.Pasta())) {
      const std::string nome = e.path().filename().string();
      if (nome.rfind("stdout-", 0) != 0) continue;
      std::ifstream in(e.path());
      for (std::string l; std::getline(in, l);) {
        std::istringstream campos(l);
        std::string hora, endereco, metodo, caminho, status, bytes, ms, sessao;
        if (!(campos >> hora >> endereco >> metodo >> caminho >> status >> bytes >> ms >> sessao))
          continue;
        if (caminho.rfind("/tamrix/", 0) != 0 || sessao == "-") continue;
        ++linhas;
        if (status == "403") {
          expiradasAntes += hora < inicioFalhas ? 1 : 0;
          continue;
        }
        ondePorSessao[sessao].insert(e.path().string());
        daInstancia.insert(sessao);
      }
    }
    sessoesPorInstancia.push_back(static_cast<long>(daInstancia.size()));
  }
  long espalhadas = 0;
  for (const auto& [s, onde] : ondePorSessao) espalhadas += onde.size() > 1 ? 1 : 0;
  std::string porInstancia;
  for (long n : sessoesPorInstancia)
    porInstancia += (porInstancia.empty() ? "" : "/") + std::to_string(n);
  v.Anotar("access log: " + std::to_string(linhas) + " lines, sessions per instance " +
           porInstancia + ", on more than one " + std::to_string(espalhadas));
  v.Exigir(linhas > 0, "no REST line in the instances' access logs");
  v.Exigir(espalhadas == 0, std::to_string(espalhadas) +
                                " session(s) answered by more than one instance (access logs)");
  v.Exigir(expiradasAntes == 0, std::to_string(expiradasAntes) +
                                    " expired answer(s) in the access logs before any fault");
  v.Exigir(std::all_of(sessoesPorInstancia.begin(), sessoesPorInstancia.end(),
                       [](long n) { return n > 0; }),
           "an instance made no session: the balancer did not spread the logins");
}

// Requests HAProxy sent again (its log's retries field, "+N" when sent to another server),
// in the lines between two offsets of its log.
long RetentativasBalanceador(const std::string& log, std::streamoff de, std::streamoff ate) {
  std::ifstream in(log);
  in.seekg(de);
  long n = 0;
  for (std::string l; in.tellg() >= 0 && in.tellg() < ate && std::getline(in, l);) {
    // client [date] frontend backend/server timers status bytes - - state
    // actconn/feconn/beconn/srv_conn/retries ...
    std::istringstream campos(l);
    std::vector<std::string> c;
    for (std::string x; c.size() < 11 && campos >> x;) c.push_back(x);
    if (c.size() < 11 || std::count(c[10].begin(), c[10].end(), '/') != 4) continue;
    n += c[10].substr(c[10].rfind('/') + 1) != "0" ? 1 : 0;
  }
  return n;
}

std::streamoff Tamanho(const std::string& arquivo) {
  std::error_code ec;
  const auto t = std::filesystem::file_size(arquivo, ec);
  return ec ? 0 : static_cast<std::streamoff>(t);
}

// Sales files: nothing half-stored, none stored twice, none answered stored that is missing,
// and "already imported" only for a file sent again.
void ConferirArquivos(TVeredito& v) {
  const std::string like = gPrefixo + "%";
  const long meios = PsqlNumero(
      kBancoTenant,
      "SELECT count(DISTINCT a.arquivo) FROM Pos_Arquivo a WHERE a.arquivo LIKE '" + like +
          "' AND NOT EXISTS (SELECT 1 FROM POS_Controle c WHERE c.arquivo = a.arquivo)");
  const long duplos = PsqlNumero(
      kBancoTenant, "SELECT count(*) FROM (SELECT arquivo FROM POS_Controle WHERE arquivo LIKE '" +
                        like + "' GROUP BY arquivo HAVING count(*) > 1) d");
  const auto controle =
      Psql(kBancoTenant, "SELECT arquivo FROM POS_Controle WHERE arquivo LIKE '" + like + "'");
  std::set<std::string> registrados;
  if (controle) {
    std::istringstream in(*controle);
    for (std::string l; std::getline(in, l);) registrados.insert(l);
  }
  long perdidos = 0;
  std::lock_guard l(gMutexArquivos);
  for (const auto* lista : {&gArmazenados, &gReenviadosJaImportados})
    for (const auto& a : *lista) perdidos += registrados.count(a) == 0 ? 1 : 0;
  v.Anotar("sales files stored " + std::to_string(registrados.size()) + " (" +
           std::to_string(gReenviadosJaImportados.size()) +
           " found already imported when sent again), half-stored " + std::to_string(meios) +
           ", twice " + std::to_string(duplos) + ", lost " + std::to_string(perdidos));
  v.Exigir(controle.has_value() && meios == 0,
           std::to_string(meios) + " file(s) half-stored (lines without control row)");
  v.Exigir(duplos == 0, std::to_string(duplos) + " file(s) stored twice");
  v.Exigir(perdidos == 0, std::to_string(perdidos) + " file(s) answered stored but missing");
  v.Exigir(gPrimeiroJaImportado.empty(), std::to_string(gPrimeiroJaImportado.size()) +
                                             " file(s) already imported at their first sending");
}

std::vector<TInstancia> LerInstancias() {
  std::vector<TInstancia> is;
  std::istringstream in(Opcao("instancias"));
  for (std::string item; std::getline(in, item, ',');) {
    const auto a = item.rfind(':'), b = item.rfind(':', a - 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    is.emplace_back(item.substr(0, b), std::atoi(item.c_str() + b + 1),
                    std::atoi(item.c_str() + a + 1));
  }
  return is;
}

}  // namespace

int CenarioHa() {
  const int conexoes = OpcaoInt("conexoes", 128);
  const auto segundos = std::chrono::seconds(OpcaoInt("segundos", 8));
  const auto apos = std::chrono::seconds(OpcaoInt("apos", 8));
  const std::string logBalanceador = Opcao("log-balanceador");
  gPrefixo = Opcao("prefixo", gPrefixo);
  TVeredito v;
  std::vector<TInstancia> is = LerInstancias();
  if (is.size() < 2) {
    v.Exigir(false, "--instancias names fewer than two instances");
    return v.Imprimir("ha", TEstatisticas{});
  }
  bool iniciadas = true;
  for (auto& i : is) iniciadas = i.Iniciar() && iniciadas;
  for (auto& i : is) iniciadas = iniciadas && i.EsperarPronta(60s);
  if (!iniciadas) {
    v.Exigir(false, "an instance did not start or its /ready never answered 200");
    for (auto& i : is) i.Matar();
    return v.Imprimir("ha", TEstatisticas{});
  }
  // The balancer takes an instance after two passing checks a second apart.
  std::this_thread::sleep_for(3s);

  TFase estavel, rolagem, entre, queda;
  gFase = &estavel;
  std::atomic<bool> parar{false};
  std::deque<TTerminal> terminais;
  for (int k = 0; k < conexoes; ++k) terminais.emplace_back(k);
  std::vector<std::thread> ts;
  for (auto& t : terminais)
    ts.emplace_back([&t, &parar] {
      while (!parar) t.Passo();
    });

  std::this_thread::sleep_for(segundos);
  const std::string inicioFalhas = AgoraUtc();
  const std::streamoff logAntes = Tamanho(logBalanceador);
  gFase = &rolagem;
  const auto t0 = Relogio::now();
  // Rolling restart: each instance drains (its /ready fails at once, the balancer stops
  // sending it new calls, the calls it holds finish), starts again and is taken back.
  bool rolou = true;
  std::string comoRolou;
  for (std::size_t k = 0; k < is.size() && rolou; ++k) {
    const int status = is[k].Encerrar();
    if (status != 0)
      comoRolou = "instance " + std::to_string(k + 1) + " ended with " + std::to_string(status);
    rolou =
        status == 0 && is[k].Iniciar() && is[k].EsperarPronta(60s) && is[k].EsperarEmRotacao(30s);
    if (!rolou && comoRolou.empty())
      comoRolou = "instance " + std::to_string(k + 1) + " not back in rotation";
  }
  const double duracaoRolagem = std::chrono::duration<double>(Relogio::now() - t0).count();
  const std::streamoff logDepois = Tamanho(logBalanceador);
  gFase = &entre;
  std::this_thread::sleep_for(3s);

  // One instance lost with everything it held.
  gFase = &queda;
  is[0].Matar();
  std::this_thread::sleep_for(apos);
  parar = true;
  for (auto& t : ts) t.join();

  // The survivors stop cleanly.
  bool pararamBem = true;
  for (std::size_t k = 1; k < is.size(); ++k) pararamBem = is[k].Encerrar() == 0 && pararamBem;

  TEstatisticas e;
  for (auto* f : {&estavel, &rolagem, &entre, &queda}) e.Juntar(f->Estat);
  long maisDeUmaNaQueda = 0;
  for (const auto& [t, n] : queda.ExpiradasPorTerminal) maisDeUmaNaQueda += n > 1 ? 1 : 0;
  const long retentativas =
      logBalanceador.empty() ? -1 : RetentativasBalanceador(logBalanceador, logAntes, logDepois);

  v.Exigir(e.Fatais() == 0,
           std::to_string(e.Fatais()) + " request(s) without a well-formed answer of the server");
  v.Exigir(estavel.Estat.Erros(kRotuloExpirada) == 0,
           std::to_string(estavel.Estat.Erros(kRotuloExpirada)) +
               " expired answer(s) before any fault: a session reached another instance");
  v.Exigir(rolou, "rolling restart: " + comoRolou);
  v.Exigir(rolagem.Estat.Fatais() == 0, "rolling restart: " + rolagem.Estat.Resumo());
  v.Exigir(retentativas <= 0, "rolling restart: the balancer sent " + std::to_string(retentativas) +
                                  " request(s) again (a connection refused or cut)");
  v.Exigir(queda.Relogins > 0, "no terminal logged in again after an instance was killed");
  v.Exigir(maisDeUmaNaQueda == 0, std::to_string(maisDeUmaNaQueda) +
                                      " terminal(s) told more than once that their session "
                                      "expired after the kill");
  v.Exigir(queda.Estat.Ok() > 0, "nothing served after the kill");
  v.Exigir(pararamBem, "an instance did not end with status 0 after SIGTERM");
  ConferirArquivos(v);
  ConferirLogsAcesso(is, inicioFalhas, v);

  char notas[512];
  std::snprintf(notas, sizeof notas,
                "terminals %d, expired answers %ld, re-logins %ld (rolling restart %ld, kill %ld), "
                "rolling restart %.1f s with max latency %ld ms (steady %ld ms), after the kill "
                "max %ld ms, balancer retries in the restart %ld",
                conexoes, e.Erros(kRotuloExpirada),
                rolagem.Relogins + queda.Relogins + entre.Relogins + estavel.Relogins,
                rolagem.Relogins.load(), queda.Relogins.load(), duracaoRolagem,
                rolagem.MaiorMs.load(), estavel.MaiorMs.load(), queda.MaiorMs.load(), retentativas);
  v.Anotar(notas);
  return v.Imprimir("ha", e);
}

}  // namespace tamrix::reliability

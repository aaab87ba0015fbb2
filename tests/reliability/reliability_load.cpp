// Load and fault driver for a running server (started by scripts/reliability): mixed traffic
// over real sockets, slow clients, PostgreSQL stopped and started under load, and a log file
// that cannot be written. Each scenario prints one line with what it held and exits 1 when a
// check failed:
//   reliability_load load|slow|pgfault|logfault|hostile --porta P --pid PID [options]
//   reliability_load ha --porta BALANCER --instancias DIR:HTTP:ADMIN,... [options]
// The hostile scenario lives in reliability_hostile.cpp, the one behind HAProxy in
// reliability_ha.cpp; what the scenarios share, in rel_comum.h.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "reliability/rel_comum.h"
#include "reliability/rel_http.h"
#include "reliability/reliability_ha.h"
#include "reliability/reliability_hostile.h"
#include "util/uBase64.h"

namespace tamrix::reliability {
namespace {

using namespace std::chrono_literals;
using Relogio = std::chrono::steady_clock;
namespace json = boost::json;

// ---------------------------------------------------------------------------------------
// The mixed traffic

enum class TTipo {
  Login,
  LoginPDV,
  Consulta,
  Upload,
  Pagina,
  Js,
  Lixo,
  LinhaLonga,
  MetodoRuim,
  SemHost,
  CodificacaoRuim,
};

std::string Nome(TTipo t) {
  static const char* const kNomes[] = {
      "login", "loginpdv",    "consulta",    "upload",   "página",          "js",
      "lixo",  "linha longa", "método ruim", "sem host", "codificação ruim"};
  return kNomes[static_cast<int>(t)];
}

// Share of each kind in the mix (logins also run before a query of a session without one).
std::vector<std::pair<TTipo, int>> gMistura = {
    {TTipo::Login, 8},   {TTipo::LoginPDV, 7},        {TTipo::Consulta, 25},
    {TTipo::Upload, 15}, {TTipo::Pagina, 8},          {TTipo::Js, 8},
    {TTipo::Lixo, 6},    {TTipo::LinhaLonga, 6},      {TTipo::MetodoRuim, 6},
    {TTipo::SemHost, 6}, {TTipo::CodificacaoRuim, 5},
};

std::string gPrefixoArquivo = "R";  // names of uploaded files: prefix, then a counter
std::atomic<long> gArquivos{0};
std::mutex gMutexArmazenados;
std::vector<std::string> gArmazenados;  // files answered with code 1 ("Sucesso.")

class TCliente {
 public:
  explicit TCliente(unsigned semente) : rng_(semente) {}

  TTipo Sortear() {
    static const int total = [] {
      int t = 0;
      for (const auto& [tipo, peso] : gMistura) t += peso;
      return t;
    }();
    int x = std::uniform_int_distribution<int>(0, total - 1)(rng_);
    for (const auto& [tipo, peso] : gMistura) {
      if (x < peso) return tipo;
      x -= peso;
    }
    return TTipo::Pagina;
  }

  // Sends one request of the kind (a query of a session without login logs in first) and
  // counts each answer in e.
  void Executar(TTipo tipo, TEstatisticas& e) {
    if (tipo == TTipo::Consulta && !logado_) {
      Executar(TTipo::Login, e);
      if (!logado_) return;  // the login's answer is counted; a query without one is not
    }
    TResposta r;
    const TResultado res = Pedir(tipo, r);
    std::string amostra;
    if (res.Fatal)
      amostra = res.Rotulo + " (" + Nome(tipo) + "): " + r.Problema + " " +
                (r.Cabecalho + "|" + r.Corpo).substr(0, 160);
    e.Contar(res, amostra);
    // The answer asks to try again later: a client that did at once would only measure
    // how fast the refusal is.
    // Nor spin against a server that is gone.
    if (res.Rotulo == kRotuloPoolCheio || r.Estado == TResposta::Recusada)
      std::this_thread::sleep_for(
          std::chrono::milliseconds(std::uniform_int_distribution<int>(10, 50)(rng_)));
  }

  std::string& Sessao() { return sessao_; }

 private:
  // sessaoPropria: the request belongs to this client's session (login, query, upload). The
  // others get a fresh session from the REST layer (a bad method on a REST path too), which
  // must not replace the logged-in one.
  TResposta Trocar(const std::string& pedido, bool sessaoPropria = false) {
    const int destino = 1 + std::uniform_int_distribution<int>(0, gDestinos - 1)(rng_);
    TResposta r = reliability::Trocar(pedido, gPorta, destino, kPrazo);
    if (const std::string s = r.Sessao(); sessaoPropria && !s.empty()) sessao_ = s;
    return r;
  }

  TResultado Pedir(TTipo tipo, TResposta& r) {
    const std::string rest = "/tamrix/rest/";
    switch (tipo) {
      case TTipo::Login:
      case TTipo::LoginPDV: {
        const bool pdv = tipo == TTipo::LoginPDV;
        logado_ = false;
        r = Trocar(PedidoGet(gPorta,
                             rest +
                                 (pdv ? "TsmUsuario/LoginPDV/MARIA/caixa01/"
                                      : "TsmUsuario/Login/ADMIN/admin123/") +
                                 kToken,
                             sessao_),
                   true);
        if (auto f = FalhaDeTransporte(r, true)) return *f;
        const json::array* res = nullptr;
        if (auto f = FalhaRest(r, Nome(tipo), 200, &res)) return *f;
        if (res->size() == 2 && res->at(1).is_bool() && res->at(1).as_bool()) {
          logado_ = true;
          return {};
        }
        std::string msg = res->size() >= 1 && res->at(0).is_string()
                              ? std::string(res->at(0).as_string())
                              : std::string();
        return Falha(Nome(tipo) + " recusado", false, msg);
      }
      case TTipo::Consulta: {
        r = Trocar(PedidoGet(gPorta, rest + "TsmCadastro/ConsultarCadastro/0///", sessao_), true);
        if (auto f = FalhaDeTransporte(r, true)) return *f;
        const json::array* res = nullptr;
        if (auto f = FalhaRest(r, "consulta", 200, &res)) {
          logado_ = false;  // a lost session or token: log in again next time
          return *f;
        }
        return {};
      }
      case TTipo::Upload: {
        const std::string nome = gPrefixoArquivo + std::to_string(++gArquivos) + ".TXT";
        const std::string arquivo =
            std::string("|V|") + kCnpj + "|" + std::to_string(100 + gArquivos % 900) + ",00|\r\n";
        r = Trocar(PedidoPut(gPorta,
                             rest + "TsmIntegracaoArquivo/EnviarArquivoVendas/" + kToken + "/" +
                                 kCnpj + "/2016-10-09/" + nome,
                             "{\"arquivo\":\"" + util::CodificarBase64(arquivo) + "\"}", sessao_),
                   true);
        if (auto f = FalhaDeTransporte(r, true)) return *f;
        if (r.Status == 404 || r.Status == 501) return Falha("upload " + std::to_string(r.Status));
        const json::array* res = nullptr;
        if (auto f = FalhaRest(r, "upload", 201, &res)) {
          // A server built before the endpoint existed.
          if (f->Texto.find("method not found") != std::string::npos)
            return Falha("upload ausente");
          return *f;
        }
        const json::object* msg =
            !res->empty() && res->at(0).is_object() ? &res->at(0).as_object() : nullptr;
        if (msg == nullptr || msg->size() < 2 || !msg->begin()->value().is_int64())
          return Falha("upload sem mensagem", true);
        const auto codigo = msg->begin()->value().as_int64();
        const auto& texto = (msg->begin() + 1)->value();
        if (codigo == 1) {
          std::lock_guard l(gMutexArmazenados);
          gArmazenados.push_back(nome);
          return {};
        }
        return Falha("upload código " + std::to_string(codigo), false,
                     codigo == 0 && texto.is_string() ? std::string(texto.as_string()) : "");
      }
      case TTipo::Pagina:
      case TTipo::Js: {
        r = Trocar(PedidoGet(gPorta, tipo == TTipo::Pagina ? "/" : "/js/tamrixrest.js"));
        if (auto f = FalhaDeTransporte(r, true)) return *f;
        if (r.Status == 200 && !r.Corpo.empty()) return {};
        return Falha(Nome(tipo) + " " + std::to_string(r.Status), true);
      }
      case TTipo::Lixo:
      case TTipo::LinhaLonga:
      case TTipo::SemHost:
      case TTipo::CodificacaoRuim: {
        // Refused either with 400 or by closing the connection, as the listener decides.
        static const std::string kLixo("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 15);
        static const std::string kLonga =
            "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n";
        static const std::string kSemHost = "GET / HTTP/1.1\r\nConnection: close\r\n\r\n";
        static const std::string kCodificacao =
            "PUT /tamrix/rest/TsmComum/InverterString/abc HTTP/1.1\r\nHost: x\r\n"
            "Transfer-Encoding: gzip\r\n\r\nxxxx";
        r = Trocar(tipo == TTipo::Lixo         ? kLixo
                   : tipo == TTipo::LinhaLonga ? kLonga
                   : tipo == TTipo::SemHost    ? kSemHost
                                               : kCodificacao);
        const bool exige400 = tipo == TTipo::SemHost || tipo == TTipo::CodificacaoRuim;
        if (auto f = FalhaDeTransporte(r, exige400)) return *f;
        if (r.Estado == TResposta::Fechada) return {};
        if (r.Status == 400 || (tipo == TTipo::LinhaLonga && (r.Status == 414 || r.Status == 431)))
          return {};
        return Falha(Nome(tipo) + " " + std::to_string(r.Status), true);
      }
      case TTipo::MetodoRuim: {
        // With the client's session, as a terminal's wrong call would be: a call without one
        // opens a session that lives 20 minutes, and the load would measure those.
        r = Trocar("BREW /tamrix/rest/TsmComum/InverterString/abc HTTP/1.1\r\nHost: x\r\n" +
                   CabecalhoSessao(sessao_) + "Connection: close\r\n\r\n");
        if (auto f = FalhaDeTransporte(r, true)) return *f;
        return r.Status >= 400 ? TResultado{} : Falha("método ruim " + std::to_string(r.Status));
      }
    }
    return Falha("tipo desconhecido", true);
  }

  std::mt19937 rng_;
  std::string sessao_;
  bool logado_ = false;
};

// The clients of the runs, kept from one run to the next: the load after the warm-up comes
// from the same terminals, whose sessions (20 minutes each) are already open.
std::deque<TCliente> gClientes;

// Runs `conexoes` clients of the mix until parar; each answer goes to the statistics that
// destino names at that moment.
void Trafego(int conexoes, const std::atomic<bool>& parar,
             const std::function<TEstatisticas&()>& destino) {
  while (gClientes.size() < static_cast<std::size_t>(conexoes))
    gClientes.emplace_back(static_cast<unsigned>(1000 + gClientes.size()));
  std::vector<std::thread> ts;
  for (int i = 0; i < conexoes; ++i)
    ts.emplace_back([&, i] {
      TCliente& c = gClientes[static_cast<std::size_t>(i)];
      while (!parar.load()) {
        // Counted where the answer came, not where the request began.
        TEstatisticas uma;
        c.Executar(c.Sortear(), uma);
        destino().Juntar(uma);
      }
    });
  for (auto& t : ts) t.join();
}

void TrafegoPor(int conexoes, std::chrono::seconds duracao, TEstatisticas& e) {
  std::atomic<bool> parar{false};
  std::thread relogio([&] {
    std::this_thread::sleep_for(duracao);
    parar = true;
  });
  Trafego(conexoes, parar, [&]() -> TEstatisticas& { return e; });
  relogio.join();
}

// Files stored half: lines in Pos_Arquivo of this run without the POS_Controle row of their
// file; and files answered "Sucesso." whose control row is missing.
void ConferirArmazenamento(TVeredito& v) {
  const std::string like = gPrefixoArquivo + "%";
  const long meios = PsqlNumero(
      kBancoTenant,
      "SELECT count(DISTINCT a.arquivo) FROM Pos_Arquivo a WHERE a.arquivo LIKE '" + like +
          "' AND NOT EXISTS (SELECT 1 FROM POS_Controle c WHERE c.arquivo = a.arquivo)");
  const auto controle =
      Psql(kBancoTenant, "SELECT arquivo FROM POS_Controle WHERE arquivo LIKE '" + like + "'");
  std::set<std::string> registrados;
  if (controle) {
    std::istringstream in(*controle);
    for (std::string l; std::getline(in, l);) registrados.insert(l);
  }
  long perdidos = 0;
  {
    std::lock_guard l(gMutexArmazenados);
    for (const auto& a : gArmazenados) perdidos += registrados.count(a) == 0 ? 1 : 0;
  }
  v.Anotar("stored " + std::to_string(registrados.size()) + ", half-stored " +
           std::to_string(meios) + ", lost " + std::to_string(perdidos));
  v.Exigir(meios == 0, std::to_string(meios) + " file(s) half-stored (lines without control row)");
  v.Exigir(controle.has_value() && perdidos == 0,
           std::to_string(perdidos) + " file(s) answered Sucesso. without a control row");
}

// Sales-file answers must carry the translated texts. A refused login and a REST error
// envelope answer the exception's own message unchanged (that is their contract: clients read
// it as it is), so their texts are only counted.
void ConferirTextos(const TEstatisticas& e, TVeredito& v) {
  long cruas = 0;
  for (const auto& t : e.Textos()) {
    const auto dp = t.find(": ");
    const std::string rotulo = t.substr(0, dp), texto = t.substr(dp + 2);
    if (Traduzido(texto)) continue;
    if (rotulo.find("recusado") != std::string::npos || rotulo.find(" erro ") != std::string::npos)
      ++cruas;
    else
      v.Exigir(false, "untranslated error text (" + rotulo + "): " + texto.substr(0, 200));
  }
  if (cruas > 0)
    v.Anotar(std::to_string(cruas) +
             " login or error-envelope text(s) with the engine's own words");
}

// ---------------------------------------------------------------------------------------
// Scenarios

// Backends once the server has been idle for longer than the reuse time. The driver manager
// has no timer: it closes expired pooled connections at its next connect, so one login
// (whose own connection then stays pooled) comes first.
long BackendsEmRepouso(std::chrono::seconds reuso) {
  std::this_thread::sleep_for(reuso + 1s);
  static TCliente cliente(1);
  TEstatisticas sonda;
  cliente.Executar(TTipo::Login, sonda);
  return EsperarBackends(2, 5s);
}

int CenarioCarga() {
  const int conexoes = OpcaoInt("conexoes", 64);
  const auto segundos = std::chrono::seconds(OpcaoInt("segundos", 10));
  const auto reuso = std::chrono::seconds(OpcaoInt("tempo-reuso", 2));
  TVeredito v;

  TEstatisticas aquecimento;
  TrafegoPor(conexoes, std::chrono::seconds(OpcaoInt("aquecimento", 5)), aquecimento);
  const long base = BackendsEmRepouso(reuso);
  const long rssAntes = MemoriaEmRepouso();
  const long anonAntes = MemoriaKb("RssAnon");

  TEstatisticas e;
  TrafegoPor(conexoes, segundos, e);
  const bool vivo = ServidorVivo();
  const long depois = BackendsEmRepouso(reuso);
  const long rssDepois = MemoriaEmRepouso();
  const long anonDepois = MemoriaKb("RssAnon");

  v.Exigir(vivo && ServidorVivo(), "the server died");
  v.Exigir(
      e.Fatais() == 0 && aquecimento.Fatais() == 0,
      std::to_string(e.Fatais() + aquecimento.Fatais()) + " answer(s) not well-formed or missing");
  v.Exigir(base >= 0 && depois >= 0 && depois <= base, "backends " + std::to_string(depois) +
                                                           " after the load, " +
                                                           std::to_string(base) + " before");
  // Percent of growth allowed; a short run has not reached its steady state after its warm-up.
  const long margem = OpcaoInt("memoria-pct", 10);
  v.Exigir(rssDepois > 0 && rssDepois * 100 <= rssAntes * (100 + margem),
           "RSS " + std::to_string(rssDepois / 1024) + " MB after, " +
               std::to_string(rssAntes / 1024) + " MB before (more than " + std::to_string(margem) +
               "%)");
  v.Exigir(e.Ok() > 0, "nothing served");
  // With a wait for a free instance, a burst waits instead of being refused.
  const long recusasPct = OpcaoInt("recusas-pct", 100);
  const long recusas = e.Erros(kRotuloPoolCheio);
  v.Exigir(recusas * 100 <= e.Requisicoes() * recusasPct,
           std::to_string(recusas) + " request(s) refused by the full pool (more than " +
               std::to_string(recusasPct) + "%)");
  ConferirTextos(e, v);
  ConferirArmazenamento(v);
  for (const auto& a : aquecimento.Amostras()) std::printf("  warm-up sample: %s\n", a.c_str());
  const auto mb = [](long kb) {
    char t[32];
    std::snprintf(t, sizeof t, "%.1f", static_cast<double>(kb) / 1024.0);
    return std::string(t);
  };
  const auto pct = [](long antes, long depois) {
    char t[32];
    std::snprintf(
        t, sizeof t, "%+.1f%%",
        antes > 0 ? 100.0 * static_cast<double>(depois - antes) / static_cast<double>(antes) : 0.0);
    return std::string(t);
  };
  v.Anotar("connections " + std::to_string(conexoes) + ", " + std::to_string(segundos.count()) +
           " s, " + std::to_string(e.Requisicoes() / std::max<long>(1, segundos.count())) +
           " req/s, backends " + std::to_string(base) + " -> " + std::to_string(depois) + ", RSS " +
           mb(rssAntes) + " -> " + mb(rssDepois) + " MB (" + pct(rssAntes, rssDepois) +
           "; anonymous " + mb(anonAntes) + " -> " + mb(anonDepois) + " MB)");
  return v.Imprimir("load", e);
}

int CenarioLentos() {
  const int lentos = OpcaoInt("lentos", 100);
  const int leitura = OpcaoInt("tempo-leitura", 5);
  TVeredito v;

  struct TLento {
    int fd = -1;
    bool estabelecida = false;
    Relogio::time_point conectado;  // when the handshake completed
    double fechadoEm = -1;          // seconds after conectado; -1 while open
    std::size_t enviados = 0;
    bool respondeu = false;
  };
  // A header that never ends within the read timeout, one byte a second.
  const std::string cabecalho = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Lento: " +
                                std::string(static_cast<std::size_t>(leitura) * 4 + 60, 'a');
  std::vector<TLento> ls(static_cast<std::size_t>(lentos));
  std::size_t iniciados = 0;
  // The listen backlog is small (15): the slow clients arrive a few at a time, as they
  // would, instead of in one burst whose dropped handshakes would only measure SYN retries.
  const auto Iniciar = [&](TLento& l) {
    l.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(gPorta));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(l.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  };

  // Normal clients meanwhile: pages and a REST call without database.
  std::atomic<bool> parar{false};
  TEstatisticas e;
  std::atomic<long> maiorEsperaMs{0};
  std::vector<std::thread> normais;
  for (int i = 0; i < 4; ++i)
    normais.emplace_back([&, i] {
      while (!parar) {
        const auto t0 = Relogio::now();
        const bool rest = i % 2 == 0;
        const TResposta r =
            Trocar(PedidoGet(gPorta, rest ? "/tamrix/rest/TsmComum/InverterString/abc" : "/"),
                   gPorta, 1, 30s);
        const long ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Relogio::now() - t0).count();
        if (ms > maiorEsperaMs) maiorEsperaMs = ms;
        TResultado res;
        if (auto f = FalhaDeTransporte(r, true))
          res = *f;
        else if (r.Status != 200 || (rest && r.Corpo != R"({"result":["cba"]})"))
          res = Falha((rest ? "rest " : "página ") + std::to_string(r.Status), true);
        e.Contar(res, res.Fatal ? res.Rotulo + ": " + r.Problema : "");
        std::this_thread::sleep_for(50ms);
      }
    });

  // One byte a second to every slow connection still open, until all are closed.
  const auto inicio = Relogio::now();
  auto ultimaEstabelecida = inicio;
  const auto Limite = [&] {
    return std::min(ultimaEstabelecida + std::chrono::seconds(leitura + 20),
                    inicio + std::chrono::seconds(leitura + 120));
  };
  std::size_t abertos = 0;
  long naoAceitas = 0;
  std::vector<pollfd> ps;
  std::vector<TLento*> donos;
  while ((iniciados < ls.size() || abertos > 0) && Relogio::now() < Limite()) {
    for (int k = 0; k < 5 && iniciados < ls.size(); ++k, ++abertos) Iniciar(ls[iniciados++]);
    ps.clear();
    donos.clear();
    for (std::size_t i = 0; i < iniciados; ++i) {
      TLento& l = ls[i];
      if (l.fd < 0) continue;
      ps.push_back({l.fd, static_cast<short>(l.estabelecida ? POLLIN : POLLOUT), 0});
      donos.push_back(&l);
    }
    ::poll(ps.data(), ps.size(), iniciados < ls.size() ? 10 : 100);
    const auto agora = Relogio::now();
    for (std::size_t i = 0; i < ps.size(); ++i) {
      TLento& l = *donos[i];
      bool fechou = false;
      if (!l.estabelecida) {
        if (ps[i].revents == 0) continue;
        int erro = 0;
        socklen_t n = sizeof erro;
        ::getsockopt(l.fd, SOL_SOCKET, SO_ERROR, &erro, &n);
        if (erro != 0) {
          ++naoAceitas;
          ::close(l.fd);
          l.fd = -1;
          --abertos;
          continue;
        }
        l.estabelecida = true;
        l.conectado = ultimaEstabelecida = agora;
      }
      char buf[4096];
      for (;;) {
        const ssize_t n = ::recv(l.fd, buf, sizeof buf, 0);
        if (n > 0) {
          l.respondeu = true;
          continue;
        }
        fechou = n == 0 || (errno != EAGAIN && errno != EINTR);
        break;
      }
      const bool devido = agora >= l.conectado + std::chrono::seconds(l.enviados);
      if (!fechou && devido && l.enviados < cabecalho.size()) {
        const ssize_t n = ::send(l.fd, cabecalho.data() + l.enviados, 1, MSG_NOSIGNAL);
        if (n == 1) ++l.enviados;
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) fechou = true;
      }
      if (fechou) {
        l.fechadoEm = std::chrono::duration<double>(agora - l.conectado).count();
        ::close(l.fd);
        l.fd = -1;
        --abertos;
      }
    }
  }
  parar = true;
  for (auto& t : normais) t.join();

  double menor = 1e9, maior = 0;
  long respondidos = 0, fechados = 0;
  for (auto& l : ls) {
    if (l.fd >= 0) ::close(l.fd);
    if (l.fechadoEm < 0) continue;
    ++fechados;
    menor = std::min(menor, l.fechadoEm);
    maior = std::max(maior, l.fechadoEm);
    respondidos += l.respondeu ? 1 : 0;
  }
  if (fechados == 0) menor = 0;
  const long pendentes = static_cast<long>(ls.size()) - fechados - naoAceitas;
  v.Exigir(ServidorVivo(), "the server died");
  v.Exigir(naoAceitas == 0, std::to_string(naoAceitas) + " slow connection(s) refused");
  v.Exigir(pendentes == 0, std::to_string(pendentes) + " slow connection(s) still open " +
                               std::to_string(leitura + 20) + " s after the last was accepted");
  v.Exigir(menor >= leitura - 1.0, "a slow connection closed after " + std::to_string(menor) +
                                       " s, before the read timeout of " + std::to_string(leitura) +
                                       " s");
  v.Exigir(e.Ok() > 0 && e.Fatais() == 0,
           "other clients not served while the slow ones held their connections");
  char notas[256];
  std::snprintf(notas, sizeof notas,
                "slow %d, closed after %.1f-%.1f s (read timeout %d s), answered %ld, "
                "slowest other answer %ld ms",
                lentos, menor, maior, leitura, respondidos, maiorEsperaMs.load());
  v.Anotar(notas);
  return v.Imprimir("slow", e);
}

// Probes of the main paths one after the other; true when all answered normally.
bool Sondar(TCliente& c, TEstatisticas& e) {
  TEstatisticas rodada;
  for (TTipo t : {TTipo::Login, TTipo::Consulta, TTipo::Upload, TTipo::Pagina})
    c.Executar(t, rodada);
  e.Juntar(rodada);
  return rodada.Ok() == rodada.Requisicoes();
}

int CenarioPg() {
  const int conexoes = OpcaoInt("conexoes", 32);
  const int segundos = OpcaoInt("segundos", 15);
  const int parado = OpcaoInt("parado", 4);
  const std::string pg = "bash '" + Opcao("raiz", TAMRIX_SOURCE_DIR) + "/scripts/pg' ";
  const std::string pasta = Env("TAMRIX_PG_DIR");
  TVeredito v;
  if (pasta.empty()) {
    v.Exigir(false, "TAMRIX_PG_DIR not set (run scripts/pg start first)");
    return v.Imprimir("pgfault", TEstatisticas{});
  }

  TEstatisticas antes, janela, depois;
  std::atomic<TEstatisticas*> atual{&antes};
  std::atomic<bool> parar{false};
  bool parou = false, voltou = false;
  std::thread falha([&] {
    std::this_thread::sleep_for(std::chrono::seconds(segundos / 3));
    atual = &janela;
    parou = std::system((pg + "stop '" + pasta + "' >/dev/null 2>&1").c_str()) == 0;
    std::this_thread::sleep_for(std::chrono::seconds(parado));
    // Back on its own port, with its data: scripts/pg makes a fresh cluster when a start fails.
    const auto env = Saida(pg + "start '" + pasta + "' 2>/dev/null");
    voltou =
        env && env->find("TAMRIX_PG_PORT=" + Env("TAMRIX_PG_PORT") + "\n") != std::string::npos;
    // The first calls after the restart meet connections that died with the old server.
    std::this_thread::sleep_for(3s);
    atual = &depois;
    std::this_thread::sleep_for(std::chrono::seconds(std::max(3, segundos / 3)));
    parar = true;
  });
  Trafego(conexoes, parar, [&]() -> TEstatisticas& { return *atual.load(); });
  falha.join();

  // Normal again: from some moment within 30 s on, five rounds in a row all answer normally.
  TEstatisticas sondas;
  TCliente c(7);
  const auto t0 = Relogio::now();
  int seguidas = 0;
  while (seguidas < 5 && Relogio::now() - t0 < 30s) {
    if (Sondar(c, sondas))
      ++seguidas;
    else
      seguidas = 0;
  }
  const double recuperacao = std::chrono::duration<double>(Relogio::now() - t0).count();

  TEstatisticas e;
  for (const auto* x : {&antes, &janela, &depois, &sondas}) e.Juntar(*x);
  v.Exigir(parou && voltou, "scripts/pg stop/start failed or PostgreSQL came back on another port");
  v.Exigir(ServidorVivo(), "the server died");
  v.Exigir(e.Fatais() == 0, std::to_string(e.Fatais()) + " answer(s) not well-formed or missing");
  v.Exigir(antes.Ok() == antes.Requisicoes() - antes.Erros(kRotuloPoolCheio),
           "errors before the fault: " + antes.Resumo());
  ConferirTextos(e, v);
  v.Exigir(seguidas >= 5,
           "not serving normally 30 s after PostgreSQL came back; last probes: " + sondas.Resumo());
  ConferirArmazenamento(v);
  char notas[256];
  std::snprintf(notas, sizeof notas,
                "window %ld requests / %ld ok, after restart %ld / %ld ok, normal again %.1f s "
                "after the load",
                janela.Requisicoes(), janela.Ok(), depois.Requisicoes(), depois.Ok(), recuperacao);
  v.Anotar(notas);
  for (const auto& t : janela.Textos()) std::printf("  text in the window: %s\n", t.c_str());
  for (const auto& t : sondas.Textos()) std::printf("  text after the restart: %s\n", t.c_str());
  return v.Imprimir("pgfault", e);
}

int CenarioLog() {
  const std::filesystem::path pasta = Opcao("pasta");
  const std::string principal = Env("TAMRIX_PG_MAIN_DB", "tamrix_main");
  TVeredito v;
  const auto log = pasta / "log.txt";
  const long ultimo =
      PsqlNumero(principal, "SELECT coalesce(max(id_evento), 0) FROM EventosServRest");

  // log.txt turned into a directory: no write can reach it, whoever runs the server.
  std::error_code ec;
  std::filesystem::rename(log, pasta / "log.txt.antes", ec);
  std::filesystem::create_directory(log);

  // Calls that fail (a session without token) next to ones that must still succeed.
  TEstatisticas e;
  long falhas = 0;
  for (int i = 0; i < OpcaoInt("chamadas", 20); ++i) {
    TCliente c(static_cast<unsigned>(i));
    c.Executar(TTipo::Pagina, e);
    c.Executar(TTipo::Login, e);
    TResposta r = Trocar(PedidoGet(gPorta, "/tamrix/rest/TsmCadastro/ConsultarCadastro/0///"),
                         gPorta, 1, 30s);
    TResultado res;
    if (auto f = FalhaDeTransporte(r, true)) {
      res = *f;
    } else if (r.Status == 500 && r.Json && r.Json->is_object() &&
               r.Json->as_object().contains("error")) {
      ++falhas;
      res = Falha("consulta sem token (esperado)", false,
                  std::string(r.Json->as_object().at("error").as_string()));
    } else {
      res = Falha("consulta sem token " + std::to_string(r.Status), true);
    }
    e.Contar(res, res.Fatal ? res.Rotulo + ": " + r.Problema + r.Corpo.substr(0, 100) : "");
    // The events table takes at most 10 error rows a second (the rest in a summary row):
    // paced below that, every failed call must have its own row.
    std::this_thread::sleep_for(200ms);
  }
  std::this_thread::sleep_for(500ms);
  const std::string depoisDe = " FROM EventosServRest WHERE id_evento > " + std::to_string(ultimo);
  const long eventosErro =
      PsqlNumero(principal, "SELECT count(*)" + depoisDe + " AND descricao LIKE '* ERRO *%'");
  const long eventosLog =
      PsqlNumero(principal, "SELECT count(*)" + depoisDe + " AND descricao ILIKE '%log.txt%'");

  // Writable again: the lines kept meanwhile reach the file with the next line.
  std::filesystem::remove(log, ec);
  Trocar(PedidoGet(gPorta, "/tamrix/rest/TsmCadastro/ConsultarCadastro/0///"), gPorta, 1, 30s);
  std::this_thread::sleep_for(300ms);
  long linhasErro = 0;
  {
    std::ifstream in(log);
    for (std::string l; std::getline(in, l);)
      linhasErro += l.find("* ERRO ") == 0 && l.find("cadastrado") != std::string::npos ? 1 : 0;
  }

  v.Exigir(ServidorVivo(), "the server died");
  v.Exigir(e.Fatais() == 0 && e.Ok() > 0,
           "calls not answered while log.txt was not writable: " + e.Resumo());
  v.Exigir(falhas > 0 && eventosErro >= falhas, std::to_string(eventosErro) +
                                                    " error event(s) for " +
                                                    std::to_string(falhas) + " failed call(s)");
  v.Exigir(linhasErro >= falhas + 1, "log.txt writable again holds " + std::to_string(linhasErro) +
                                         " error line(s) of " + std::to_string(falhas + 1));
  v.Exigir(eventosLog >= 1, "the log's own failure did not reach the events table");
  ConferirTextos(e, v);
  v.Anotar("failed calls " + std::to_string(falhas) + ", error events " +
           std::to_string(eventosErro) + ", log-failure events " + std::to_string(eventosLog) +
           ", error lines kept " + std::to_string(linhasErro));
  return v.Imprimir("logfault", e);
}

}  // namespace
}  // namespace tamrix::reliability

int main(int argc, char** argv) {
  using namespace tamrix::reliability;
  if (argc < 2) {
    std::fprintf(
        stderr,
        "usage: reliability_load load|slow|pgfault|logfault|hostile|ha --porta P --pid PID "
        "[--conexoes N] [--segundos N] [--aquecimento N] [--memoria-pct N] [--tempo-reuso N] "
        "[--lentos N] [--tempo-leitura N] [--parado N] [--pasta DIR] [--raiz DIR] "
        "[--prefixo X] [--instancias DIR:HTTP:ADMIN,...] [--apos N] [--log-balanceador F]\n");
    return 2;
  }
  for (int i = 2; i + 1 < argc; i += 2) {
    std::string k = argv[i];
    if (k.rfind("--", 0) == 0) k.erase(0, 2);
    gOpcoes[k] = argv[i + 1];
  }
  ::signal(SIGPIPE, SIG_IGN);
  gPorta = OpcaoInt("porta", 8080);
  gPid = static_cast<pid_t>(OpcaoInt("pid", 0));
  gPrefixoArquivo = Opcao("prefixo", "R" + std::to_string(::time(nullptr)) + "_");
  // More loopback addresses when the server answers on them (it listens on every address).
  const bool variosEnderecos =
      Trocar(PedidoGet(gPorta, "/"), gPorta, 2, 5s).Estado == TResposta::Respondida;
  gDestinos = variosEnderecos ? OpcaoInt("destinos", 8) : 1;
  // --tipos upload,consulta: only those kinds of the mix (to find which one a fault follows).
  if (const std::string tipos = "," + Opcao("tipos") + ","; tipos != ",,")
    std::erase_if(gMistura, [&](const auto& m) {
      return tipos.find("," + Nome(m.first) + ",") == std::string::npos;
    });
  if (gMistura.empty()) {
    std::fprintf(stderr, "--tipos names no kind of the mix\n");
    return 2;
  }
  const std::string cenario = argv[1];
  if (cenario == "load") return CenarioCarga();
  if (cenario == "slow") return CenarioLentos();
  if (cenario == "pgfault") return CenarioPg();
  if (cenario == "logfault") return CenarioLog();
  if (cenario == "hostile") return CenarioHostil();
  if (cenario == "ha") return CenarioHa();
  std::fprintf(stderr, "unknown scenario %s\n", cenario.c_str());
  return 2;
}

// The hostile scenario: attacks from several clients at once while well-behaved terminals log
// in, query and upload sales files. The attacks: big UploadFile echoes, a sales file of
// one-character lines, header floods (a line that never ends, many long lines, tiny lines, a
// folded 2 MiB User-Agent), a slow body and a slow chunked trailer, more connections from one
// address than MaximoConexoesPorIP, a flood of calls without session, sessions opened with a
// long User-Agent, method names of 12 KB and with CR LF, an XSS-looking method name, anonymous
// UploadFile calls against EspacoMaximoUploads and GETs of serverfunctions.js in other folders.
// Options (scripts/reliability gives the server the same limits in its config.ini):
//   --pasta DIR --tempo-leitura S --por-ip N --log-max BYTES --uploads-max BYTES
//   --eco-mb N (content of each big echo) --ecos N (rounds of each of the 2 echo clients)
//   --vendas-mb N (the one-character-line sales file) --sem-sessao N (calls without session)
//   --terminais N --prefixo X
#include "reliability/reliability_hostile.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "reliability/rel_comum.h"
#include "reliability/rel_http.h"

namespace tamrix::reliability {
namespace {

using namespace std::chrono_literals;
using Relogio = std::chrono::steady_clock;
namespace json = boost::json;
namespace fs = std::filesystem;

constexpr long long kMiB = 1 << 20;

// The address each kind of client comes from (127.0.0.N): the server counts connections per
// address, and only the attack meant to pass MaximoConexoesPorIP may meet that cap.
constexpr int kOrigemTerminais = 1;
constexpr int kOrigemPorIP = 2;
constexpr int kOrigemSemSessao = 3;
constexpr int kOrigemCabecalhos = 4;  // header floods, slow requests, method names, js GETs
constexpr int kOrigemGrandes = 5;     // big echoes and the sales file
constexpr int kOrigemUploads = 6;     // anonymous UploadFile calls against the quota

constexpr int kClientesEco = 2;
constexpr int kClientesUpload = 4;
constexpr int kClientesSemSessao = 8;
// What one session of the flood may take: about 1.9 KB measured here (20,000 sessions), twice
// that allowed.
constexpr long long kBytesSessao = 4 << 10;
constexpr std::size_t kMaximoSessoes = 100'000;  // the server's session ceiling
constexpr const char* kMarcaForjada = "FORJADO";

TResposta TrocarDe(int origem, const std::string& pedido,
                   std::chrono::milliseconds prazo = std::chrono::seconds(60)) {
  return Trocar(pedido, gPorta, 1, prazo, origem);
}

std::string PedidoPost(const std::string& alvo, const std::string& corpo) {
  return "POST " + alvo + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
         "Content-Type: application/json\r\nContent-Length: " + std::to_string(corpo.size()) +
         "\r\n\r\n" + corpo;
}

// Base64 in one unbroken line, as UploadFile reads it (the MIME encoder breaks lines).
std::string Base64(const std::string& bytes) {
  static const char kAlfabeto[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string r;
  r.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 3; ++k)
      v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k) r += k <= n ? kAlfabeto[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return r;
}

std::string CorpoArquivo(const std::string& conteudo) {
  return "{\"arquivo\":\"" + Base64(conteudo) + "\"}";
}

std::string Mb(long long bytes) {
  char t[32];
  std::snprintf(t, sizeof t, "%.1f", static_cast<double>(bytes) / static_cast<double>(kMiB));
  return t;
}

// The error text of a REST error envelope; nullopt for any other answer.
std::optional<std::string> TextoErro(const TResposta& r) {
  if (!r.Json || !r.Json->is_object()) return std::nullopt;
  const auto* e = r.Json->as_object().if_contains("error");
  if (e == nullptr || !e->is_string()) return std::nullopt;
  return std::string(e->as_string());
}

// About `bytes` of lines of 98 letters and CR LF, as UploadFile's echo gives them back.
std::string Linhas(long long bytes) {
  std::string r;
  r.reserve(static_cast<std::size_t>(bytes) + 100);
  while (static_cast<long long>(r.size()) < bytes)
    r += std::string(98, static_cast<char>('a' + r.size() / 100 % 26)) + "\r\n";
  return r;
}

// The answer of an UploadFile call: the echo, the quota's refusal (an error envelope in
// Portuguese, nothing written) or a fault.
TResultado AvaliarUploadFile(const TResposta& r, const std::string& esperado,
                             const std::string& nome) {
  if (auto f = FalhaDeTransporte(r, true)) return *f;
  if (auto erro = TextoErro(r)) {
    // The quota's refusal, in Portuguese.
    static const std::regex cota("não foi gravado|espaço|EspacoMaximoUploads", std::regex::icase);
    if (std::regex_search(*erro, cota)) return Falha(nome + " recusado (cota)", false, *erro);
    return Falha(nome + " erro", true, *erro);
  }
  if (r.Status != 200 || !r.Json || !r.Json->is_object())
    return Falha(nome + " " + std::to_string(r.Status), true);
  const auto* res = r.Json->as_object().if_contains("result");
  if (res == nullptr || !res->is_array() || res->as_array().size() != 1 ||
      !res->as_array()[0].is_string())
    return Falha(nome + " sem resultado", true);
  if (res->as_array()[0].as_string() != "#Sucesso#" + esperado)
    return Falha(nome + " eco diferente", true);
  return {};
}

// ---------------------------------------------------------------------------------------
// A raw connection for the attacks that stream or trickle

class TConexaoCrua {
 public:
  TConexaoCrua(int origem, int destino = 1) : fd_(AbrirConexao(gPorta, destino, origem)) {}
  ~TConexaoCrua() {
    if (fd_ >= 0) ::close(fd_);
  }
  TConexaoCrua(const TConexaoCrua&) = delete;
  TConexaoCrua& operator=(const TConexaoCrua&) = delete;

  // Sends what the socket takes before fim, reading the server's bytes meanwhile; false once
  // the server closed (or reset) the connection.
  bool Enviar(std::string_view bytes, Relogio::time_point fim) {
    while (!bytes.empty() && !fechada_ && Relogio::now() < fim) {
      pollfd p{fd_, POLLIN | POLLOUT, 0};
      if (::poll(&p, 1, Restante(fim)) <= 0) continue;
      if (p.revents & (POLLIN | POLLHUP | POLLERR)) Ler();
      if (fechada_ || !(p.revents & POLLOUT)) continue;
      const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n > 0)
        bytes.remove_prefix(static_cast<std::size_t>(n)), enviados_ += n;
      else if (n < 0 && errno != EAGAIN && errno != EINTR && errno != ENOTCONN)
        fechada_ = true;
    }
    return !fechada_;
  }

  // Reads until the server closes or fim; true when it closed.
  bool EsperarFechamento(Relogio::time_point fim) {
    while (!fechada_ && Relogio::now() < fim) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, Restante(fim)) > 0) Ler();
    }
    return fechada_;
  }

  bool Fechada() const { return fechada_; }
  const std::string& Recebido() const { return recebido_; }
  long long Enviados() const { return enviados_; }
  // The status of the answer received, 0 without one.
  int Status() const {
    if (recebido_.rfind("HTTP/1.", 0) != 0 || recebido_.size() < 12) return 0;
    return std::atoi(recebido_.c_str() + 9);
  }

 private:
  static int Restante(Relogio::time_point fim) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(fim - Relogio::now()).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 1000));
  }
  void Ler() {
    char buf[65536];
    for (;;) {
      const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        recebido_.append(buf, static_cast<std::size_t>(n));
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EINTR && errno != ENOTCONN)) fechada_ = true;
      return;
    }
  }

  int fd_;
  bool fechada_ = false;
  long long enviados_ = 0;
  std::string recebido_;
};

// ---------------------------------------------------------------------------------------
// The well-behaved terminals

struct TTerminais {
  TEstatisticas e;
  std::atomic<long> expiradas{0}, semProtecao{0};
  std::mutex m;
  std::vector<std::string> armazenados;  // files answered with code 1 ("Sucesso.")
  std::atomic<long> arquivos{0};
  std::string prefixo;
};

// Logs in, then queries, uploads a sales file and calls a method with its session until
// parar; every answer must be the right one. After parar, one query more: the session must
// still be there.
void Terminal(int i, TTerminais& t, const std::atomic<bool>& parar) {
  const std::string rest = "/tamrix/rest/";
  std::string sessao;
  const auto Contar = [&](TResultado res, const TResposta& r, const std::string& oque) {
    t.e.Contar(res, res.Rotulo == "ok" ? ""
                                       : oque + ": " + res.Rotulo + " " + r.Problema + " " +
                                             (r.Cabecalho + "|" + r.Corpo).substr(0, 200));
  };
  const auto Rest = [&](const TResposta& r, const std::string& oque, int status,
                        const json::array** res) -> std::optional<TResultado> {
    if (auto f = FalhaDeTransporte(r, true)) return Falha(oque + ": " + f->Rotulo, true);
    if (r.Corpo.find("SessionExpired") != std::string::npos) {
      ++t.expiradas;
      return Falha(oque + ": sessão expirada", true);
    }
    if (r.Header("Content-Security-Policy") != "default-src 'none'" ||
        r.Header("X-Content-Type-Options") != "nosniff")
      ++t.semProtecao;
    if (auto f = FalhaRest(r, oque, status, res)) {
      f->Fatal = true;
      return f;
    }
    return std::nullopt;
  };
  // The login; false when refused (counted).
  const auto Entrar = [&] {
    const TResposta r = TrocarDe(kOrigemTerminais,
                                 PedidoGet(gPorta,
                                           rest +
                                               (i % 2 == 0 ? "TsmUsuario/Login/ADMIN/admin123/"
                                                           : "TsmUsuario/LoginPDV/MARIA/caixa01/") +
                                               kToken,
                                           sessao));
    if (const std::string s = r.Sessao(); !s.empty()) sessao = s;
    const json::array* res = nullptr;
    TResultado resultado;
    if (auto f = Rest(r, "login", 200, &res))
      resultado = *f;
    else if (res->size() != 2 || !res->at(1).is_bool() || !res->at(1).as_bool())
      resultado = Falha("login recusado", true);
    Contar(resultado, r, "login");
    return resultado.Rotulo == "ok";
  };
  const auto Consultar = [&] {
    const TResposta r = TrocarDe(
        kOrigemTerminais, PedidoGet(gPorta, rest + "TsmCadastro/ConsultarCadastro/0///", sessao));
    const json::array* res = nullptr;
    Contar(Rest(r, "consulta", 200, &res).value_or(TResultado{}), r, "consulta");
  };
  if (!Entrar()) return;
  for (long n = 0; !parar.load(); ++n) {
    Consultar();
    const std::string nome = t.prefixo + std::to_string(++t.arquivos) + ".TXT";
    const std::string arquivo =
        std::string("|V|") + kCnpj + "|" + std::to_string(100 + n % 900) + ",00|\r\n";
    TResposta r =
        TrocarDe(kOrigemTerminais, PedidoPut(gPorta,
                                             rest + "TsmIntegracaoArquivo/EnviarArquivoVendas/" +
                                                 kToken + "/" + kCnpj + "/2016-10-09/" + nome,
                                             CorpoArquivo(arquivo), sessao));
    const json::array* res = nullptr;
    TResultado up = Rest(r, "upload", 201, &res).value_or(TResultado{});
    if (up.Rotulo == "ok") {
      const json::object* msg =
          !res->empty() && res->at(0).is_object() ? &res->at(0).as_object() : nullptr;
      if (msg != nullptr && !msg->empty() && msg->begin()->value().is_int64() &&
          msg->begin()->value().as_int64() == 1) {
        std::lock_guard l(t.m);
        t.armazenados.push_back(nome);
      } else {
        up = Falha("upload não armazenado", true);
      }
    }
    Contar(up, r, "upload");
    r = TrocarDe(kOrigemTerminais, PedidoGet(gPorta, rest + "TsmComum/InverterString/abc", sessao));
    TResultado inv = Rest(r, "inverter", 200, &res).value_or(TResultado{});
    if (inv.Rotulo == "ok" && r.Corpo != R"({"result":["cba"]})")
      inv = Falha("inverter errado", true);
    Contar(inv, r, "inverter");
    std::this_thread::sleep_for(20ms);
  }
  Consultar();
}

// ---------------------------------------------------------------------------------------
// The attacks. Each counts its outcomes in its own tally; a fatal outcome fails the run.

struct TAtaques {
  TEstatisticas eco, vendas, cota, cabecalhos, lentos, porIP, semSessao, nomes, js, agente;
  std::vector<double> lentosFechados;  // seconds from connect to close of the slow requests
  std::mutex m;
  long porIP503 = 0, porIPAbertas = 0;
  std::string textoPorIP;
  long long rssAgenteAntes = 0, rssAgenteDepois = 0;
  std::atomic<int> ecosFeitos{0};  // echo calls answered
};

// Two clients send each `ecos` UploadFile calls of eco-mb MiB and check the echo.
void AtaqueEco(TAtaques& a, long long bytes, int ecos, long long* corpo, long long* resposta) {
  const std::string conteudo = Linhas(bytes);
  const std::string pedido =
      PedidoPost("/tamrix/rest/TsmComum/UploadFile/a/b/c", CorpoArquivo(conteudo));
  *corpo = static_cast<long long>(pedido.size());
  // The answer: the content with CR LF written as \r\n inside a JSON string.
  *resposta = static_cast<long long>(conteudo.size() + conteudo.size() / 100 * 2 + 64);
  std::vector<std::thread> ts;
  for (int c = 0; c < kClientesEco; ++c)
    ts.emplace_back([&] {
      for (int i = 0; i < ecos; ++i) {
        a.eco.Contar(AvaliarUploadFile(TrocarDe(kOrigemGrandes, pedido, 120s), conteudo, "eco"));
        ++a.ecosFeitos;
      }
    });
  for (auto& t : ts) t.join();
}

// A sales file of one-character lines: any well-formed REST answer will do.
void AtaqueVendas(TAtaques& a, long long bytes, const std::string& prefixo, long long* corpo) {
  std::string conteudo;
  conteudo.reserve(static_cast<std::size_t>(bytes));
  while (static_cast<long long>(conteudo.size()) < bytes) conteudo += "x\n";
  const std::string pedido =
      PedidoPut(gPorta,
                std::string("/tamrix/rest/TsmIntegracaoArquivo/EnviarArquivoVendas/") + kToken +
                    "/" + kCnpj + "/2016-10-09/" + prefixo + "linhas.TXT",
                CorpoArquivo(conteudo));
  *corpo = static_cast<long long>(pedido.size());
  const TResposta r = TrocarDe(kOrigemGrandes, pedido, 120s);
  TResultado res;
  if (auto f = FalhaDeTransporte(r, true))
    res = *f;
  else if (!r.Json || !r.Json->is_object())
    res = Falha("vendas " + std::to_string(r.Status) + " sem JSON", true);
  a.vendas.Contar(res, res.Fatal ? res.Rotulo + " " + r.Problema : "");
}

// Anonymous UploadFile calls of `tamanho` bytes until twice the quota was sent, from when the
// echoes' first round is stored (so that some echoes fit; at most 60 s).
void AtaqueCota(TAtaques& a, long long quota, long long tamanho, long long* corpo) {
  for (const auto fim = Relogio::now() + 60s; a.ecosFeitos < kClientesEco && Relogio::now() < fim;)
    std::this_thread::sleep_for(20ms);
  const std::string conteudo = Linhas(tamanho);
  const std::string pedido =
      PedidoPost("/tamrix/rest/TsmComum/UploadFile/x/y/z", CorpoArquivo(conteudo));
  *corpo = static_cast<long long>(pedido.size());
  std::atomic<long long> faltam{2 * quota / tamanho + 1};
  std::vector<std::thread> ts;
  for (int c = 0; c < kClientesUpload; ++c)
    ts.emplace_back([&] {
      while (faltam-- > 0)
        a.cota.Contar(AvaliarUploadFile(TrocarDe(kOrigemUploads, pedido), conteudo, "upload"));
    });
  for (auto& t : ts) t.join();
}

// Header floods. Accepted: 431 (the header limit), 400 or 414, or a close without answer
// where the listener's line limits close; never a connection still open once the flood stopped.
void AtaqueCabecalhos(TAtaques& a, int leitura) {
  struct TCaso {
    std::string nome, inicio;
    std::function<std::string(long)> pedaco;  // more bytes, forever
    bool exige431;
  };
  const std::string get = "GET /tamrix/rest/TsmComum/InverterString/abc HTTP/1.1\r\nHost: x\r\n";
  const std::vector<TCaso> casos = {
      {"linha sem fim", get + "X-Sem-Fim: ", [](long) { return std::string(65536, 'a'); }, false},
      {"muitas linhas longas", get,
       [](long i) { return "X-L" + std::to_string(i) + ": " + std::string(200, 'v') + "\r\n"; },
       true},
      {"muitas linhas curtas", get, [](long i) { return "X" + std::to_string(i) + ": v\r\n"; },
       false},
      {"User-Agent dobrado de 2 MiB", get + "User-Agent: a\r\n",
       [](long) { return " " + std::string(1022, 'b') + "\r\n"; }, true},
  };
  for (int rodada = 0; rodada < 3; ++rodada)
    for (const auto& c : casos) {
      TConexaoCrua con(kOrigemCabecalhos);
      const auto fim = Relogio::now() + std::chrono::seconds(leitura + 10);
      bool aberta = con.Enviar(c.inicio, fim);
      for (long i = 0; aberta && con.Enviados() < 8 * kMiB && Relogio::now() < fim; ++i) {
        std::string bloco;
        while (bloco.size() < 65536) bloco += c.pedaco(i++);
        aberta = con.Enviar(bloco, fim);
      }
      const bool fechou = con.EsperarFechamento(fim);
      TResultado res;
      TResposta r;
      if (!con.Recebido().empty()) Analisar(con.Recebido(), r);
      if (!fechou)
        res = Falha(c.nome + ": conexão aberta", true);
      else if (con.Recebido().empty())
        res = c.exige431 ? Falha(c.nome + ": fechada sem 431", true) : TResultado{};
      else if (r.Estado != TResposta::Respondida)
        res = Falha(c.nome + ": malformada", true);
      else if (c.exige431 && r.Status != 431)
        res = Falha(c.nome + ": " + std::to_string(r.Status) + " em vez de 431", true);
      else if (r.Status != 431 && r.Status != 400 && r.Status != 414)
        res = Falha(c.nome + ": " + std::to_string(r.Status), true);
      a.cabecalhos.Contar(res, res.Rotulo == "ok" ? "" : res.Rotulo);
    }
}

// A body and a chunked trailer of one byte every 2 s: TempoLeitura counts from the accept, so
// both end about then, however steadily the bytes come.
void AtaqueLento(TAtaques& a, int leitura, bool trailer) {
  const std::string nome = trailer ? "trailer lento" : "corpo lento";
  const std::string pedido =
      "POST /tamrix/rest/TsmComum/UploadFile/a/b/c HTTP/1.1\r\nHost: x\r\n"
      "Content-Type: application/json\r\n" +
      std::string(trailer ? "Transfer-Encoding: chunked\r\n\r\n5\r\n{\"a\":\r\n0\r\n"
                          : "Content-Length: 100000\r\n\r\n");
  const std::string gota = trailer ? "X-Trailer-Lento: " + std::string(1000, 't') : "{";
  TConexaoCrua con(kOrigemCabecalhos);
  const auto t0 = Relogio::now();
  const auto fim = t0 + std::chrono::seconds(2 * leitura + 15);
  bool aberta = con.Enviar(pedido, fim);
  for (std::size_t i = 0; aberta && Relogio::now() < fim; ++i) {
    aberta = con.Enviar(gota.substr(i % gota.size(), 1), fim);
    if (aberta) aberta = !con.EsperarFechamento(Relogio::now() + 2s);
  }
  const double s = std::chrono::duration<double>(Relogio::now() - t0).count();
  {
    std::lock_guard l(a.m);
    a.lentosFechados.push_back(s);
  }
  // The whole request within TempoLeitura from the accept, one read step of slack.
  const bool aTempo = con.Fechada() && s <= leitura + 3.0;
  a.lentos.Contar(aTempo
                      ? TResultado{}
                      : Falha(nome + (con.Fechada() ? ": fechado tarde" : ": nunca fechado"), true),
                  aTempo ? "" : nome + " após " + std::to_string(s) + " s");
}

// More connections from one address than the cap, each holding an unfinished header: those
// beyond the cap get 503 with the listener's text at once; the others wait for TempoLeitura.
void AtaquePorIP(TAtaques& a, int porIP, int leitura) {
  const int n = porIP + 32;
  std::vector<std::unique_ptr<TConexaoCrua>> cs;
  for (int i = 0; i < n; ++i) {
    cs.push_back(std::make_unique<TConexaoCrua>(kOrigemPorIP));
    cs.back()->Enviar("GET / HTTP/1.1\r\nHost: x\r\n", Relogio::now() + 2s);
  }
  const auto fim = Relogio::now() + std::chrono::seconds(leitura + 10);
  long recusas = 0, abertas = 0;
  for (auto& c : cs) {
    if (!c->EsperarFechamento(fim)) ++abertas;
    TResposta r;
    if (c->Recebido().empty()) continue;
    Analisar(c->Recebido(), r);
    if (r.Estado == TResposta::Respondida && r.Status == 503) {
      ++recusas;
      std::lock_guard l(a.m);
      if (a.textoPorIP.empty()) a.textoPorIP = r.Corpo.substr(0, 120);
    } else {
      a.porIP.Contar(Falha("por IP: " + std::to_string(r.Status), true),
                     "por IP: " + c->Recebido().substr(0, 100));
    }
  }
  a.porIP.Contar(abertas == 0 ? TResultado{} : Falha("por IP: conexões nunca fechadas", true),
                 abertas == 0 ? "" : std::to_string(abertas) + " conexões abertas");
  std::lock_guard l(a.m);
  a.porIP503 = recusas;
  a.porIPAbertas = n;
}

// Calls without a session, every one opening a session the server may drop at its ceiling.
void AtaqueSemSessao(TAtaques& a, long chamadas) {
  std::atomic<long> faltam{chamadas};
  std::vector<std::thread> ts;
  for (int c = 0; c < kClientesSemSessao; ++c)
    ts.emplace_back([&, c] {
      TEstatisticas e;
      // Many destinations: 150,000 connections would wear out one address pair's ports.
      for (long i = 0; faltam-- > 0; ++i) {
        const TResposta r =
            Trocar(PedidoGet(gPorta, "/tamrix/rest/TsmComum/InverterString/abc"), gPorta,
                   1 + static_cast<int>((i + c) % 8), 60s, kOrigemSemSessao);
        TResultado res;
        if (auto f = FalhaDeTransporte(r, true))
          res = *f;
        else if (r.Status != 200 || r.Corpo != R"({"result":["cba"]})")
          res = Falha("sem sessão " + std::to_string(r.Status), true);
        e.Contar(res, res.Fatal ? res.Rotulo + " " + r.Problema : "");
      }
      a.semSessao.Juntar(e);
    });
  for (auto& t : ts) t.join();
}

// Sessions opened by calls with a 45 KB folded User-Agent: what a session keeps of it is cut,
// so 1,000 of them must not hold 45 MB.
void AtaqueAgente(TAtaques& a) {
  std::string agente = "a";
  for (int i = 0; i < 3; ++i) agente += "\r\n " + std::string(15000, 'U');
  const std::string pedido =
      "GET /tamrix/rest/TsmComum/InverterString/abc HTTP/1.1\r\nHost: x\r\n"
      "Connection: close\r\nUser-Agent: " +
      agente + "\r\n\r\n";
  a.rssAgenteAntes = MemoriaKb("VmRSS");
  std::vector<std::thread> ts;
  for (int c = 0; c < 4; ++c)
    ts.emplace_back([&] {
      for (int i = 0; i < 250; ++i) {
        const TResposta r = TrocarDe(kOrigemCabecalhos, pedido);
        TResultado res;
        if (auto f = FalhaDeTransporte(r, true))
          res = *f;
        else if (r.Status != 200 && r.Status != 431)
          res = Falha("User-Agent longo " + std::to_string(r.Status), true);
        a.agente.Contar(res);
      }
    });
  for (auto& t : ts) t.join();
  a.rssAgenteDepois = MemoriaKb("VmRSS");
}

// Method names of 12 KB (enough of them to rotate the log several times), with CR LF that
// would forge a log line, and one that looks like a script; each must get an error answer
// that a browser will not run.
void AtaqueNomes(TAtaques& a, long long logMax) {
  const std::string rest = "/tamrix/rest/TsmComum/";
  const std::string forjado =
      "*%20ERRO%2001%2F01%2F2000%2000%3A00%3A00%20*%20" + std::string(kMarcaForjada);
  std::vector<std::string> nomes = {
      "Falso%0D%0A" + forjado,
      "Falso%0A" + forjado,
      "Falso%0D" + forjado,
      "%3Cscript%3Ealert(1)%3C%2Fscript%3E",
      "%3Cimg%20src%3Dx%20onerror%3Dalert(1)%3E",
  };
  // Each logs at least 512 bytes: six times the log's size rotates it through every file.
  const long longos = static_cast<long>(6 * logMax / 512) + 20;
  for (long i = 0; i < longos; ++i)
    nomes.push_back(std::string(12288, static_cast<char>('A' + i % 26)));
  std::atomic<std::size_t> proximo{0};
  std::vector<std::thread> ts;
  for (int c = 0; c < 4; ++c)
    ts.emplace_back([&] {
      for (std::size_t i; (i = proximo++) < nomes.size();) {
        const TResposta r = TrocarDe(kOrigemCabecalhos, PedidoGet(gPorta, rest + nomes[i] + "/x"));
        TResultado res;
        if (auto f = FalhaDeTransporte(r, false)) {
          res = *f;
        } else if (r.Estado == TResposta::Respondida) {
          const bool protegida = r.Header("Content-Security-Policy") == "default-src 'none'" &&
                                 r.Header("X-Content-Type-Options") == "nosniff";
          if (r.Status < 400)
            res = Falha("nome estranho " + std::to_string(r.Status), true);
          else if (r.Status == 500 && !protegida)
            res = Falha("erro REST sem Content-Security-Policy/nosniff", true);
        }
        a.nomes.Contar(res, res.Fatal ? res.Rotulo + ": " + r.Cabecalho.substr(0, 200) : "");
      }
    });
  for (auto& t : ts) t.join();
}

// serverfunctions.js asked for in other folders: any answer, but no file written (checked
// afterwards on the folder).
void AtaqueJs(TAtaques& a) {
  for (const char* alvo :
       {"/x/serverfunctions.js", "/x/y/serverfunctions.js", "/templates/serverfunctions.js",
        "/proxy/serverfunctions.js", "/SERVERFUNCTIONS.JS", "/%2e%2e/serverfunctions.js",
        "/x%2Fy/serverfunctions.js", "/js/../x/serverfunctions.js", "/Js/ServerFunctions.js",
        "/js/serverfunctions.js"}) {
    const TResposta r = TrocarDe(kOrigemCabecalhos, PedidoGet(gPorta, alvo));
    TResultado res;
    if (auto f = FalhaDeTransporte(r, true)) res = *f;
    a.js.Contar(res, res.Fatal ? std::string(alvo) + ": " + res.Rotulo : "");
  }
}

// ---------------------------------------------------------------------------------------
// The folder afterwards

// Files and folders under pasta, relative; log files, uploads and the run's own files left
// out.
std::set<std::string> Conteudo(const fs::path& pasta) {
  static const std::regex ignorados(
      R"(log(\.[0-9]+)?\.txt|[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{6}(-[0-9]+)?\.txt|std(out|err)\.txt|core.*)");
  std::set<std::string> r;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(pasta, ec); it != fs::end(it); it.increment(ec)) {
    const std::string rel = fs::relative(it->path(), pasta).string();
    if (rel.find('/') == std::string::npos && std::regex_match(rel, ignorados)) continue;
    r.insert(rel + (it->is_directory() ? "/" : ""));
  }
  return r;
}

long long EspacoUploads(const fs::path& pasta) {
  static const std::regex upload(R"([0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{6}(-[0-9]+)?\.txt)");
  long long total = 0;
  for (const auto& f : fs::directory_iterator(pasta))
    if (f.is_regular_file() && std::regex_match(f.path().filename().string(), upload))
      total += static_cast<long long>(f.file_size());
  return total;
}

struct TLogs {
  long long total = 0;
  int arquivos = 0;          // log.txt and log.N.txt present
  bool foraDaConta = false;  // a log.N.txt with N over 5
  std::size_t maiorLinha = 0;
  long forjadas = 0;
};

TLogs LerLogs(const fs::path& pasta) {
  TLogs l;
  static const std::regex nome(R"(log(\.([0-9]+))?\.txt)");
  for (const auto& f : fs::directory_iterator(pasta)) {
    std::smatch m;
    const std::string n = f.path().filename().string();
    if (!std::regex_match(n, m, nome)) continue;
    ++l.arquivos;
    if (m[2].matched && std::stoi(m[2]) > 5) l.foraDaConta = true;
    l.total += static_cast<long long>(f.file_size());
    std::ifstream in(f.path(), std::ios::binary);
    for (std::string linha; std::getline(in, linha);) {
      if (!linha.empty() && linha.back() == '\r') linha.pop_back();
      l.maiorLinha = std::max(l.maiorLinha, linha.size());
      // The forged text may only sit inside a real error line, after its own date.
      if (linha.find(kMarcaForjada) != std::string::npos &&
          (linha.rfind("* ERRO ", 0) != 0 || linha.rfind("* ERRO 01/01/2000", 0) == 0))
        ++l.forjadas;
    }
  }
  return l;
}

}  // namespace

int CenarioHostil() {
  const fs::path pasta = Opcao("pasta");
  const int leitura = OpcaoInt("tempo-leitura", 5);
  const int porIP = OpcaoInt("por-ip", 64);
  const long long logMax = std::atoll(Opcao("log-max", "65536").c_str());
  const long long quota = std::atoll(Opcao("uploads-max", "16777216").c_str());
  const long long ecoBytes = OpcaoInt("eco-mb", 4) * kMiB;
  const int ecos = OpcaoInt("ecos", 2);
  const long long vendasBytes = OpcaoInt("vendas-mb", 3) * kMiB;
  const long semSessao = OpcaoInt("sem-sessao", 30000);
  const int terminais = OpcaoInt("terminais", 4);
  const std::string principal = Env("TAMRIX_PG_MAIN_DB", "tamrix_main");
  TVeredito v;

  const auto antes = Conteudo(pasta);
  const long ultimoEvento =
      PsqlNumero(principal, "SELECT coalesce(max(id_evento), 0) FROM EventosServRest");

  // The terminals log in before the attacks; the peak so far is the base of the bound.
  TTerminais t;
  t.prefixo = Opcao("prefixo", "H") + "t";
  std::atomic<bool> parar{false};
  std::vector<std::thread> ts;
  for (int i = 0; i < terminais; ++i) ts.emplace_back(Terminal, i, std::ref(t), std::cref(parar));
  std::this_thread::sleep_for(1s);
  // Alone (but for the terminals), so that its growth is its own.
  TAtaques a;
  AtaqueAgente(a);
  const long long base = MemoriaKb("VmHWM") * 1024;

  long long corpoEco = 0, respostaEco = 0, corpoVendas = 0, corpoCota = 0;
  const auto inicio = Relogio::now();
  std::vector<std::thread> ataques;
  ataques.emplace_back([&] { AtaqueEco(a, ecoBytes, ecos, &corpoEco, &respostaEco); });
  ataques.emplace_back([&] { AtaqueVendas(a, vendasBytes, t.prefixo, &corpoVendas); });
  ataques.emplace_back(
      [&] { AtaqueCota(a, quota, std::max<long long>(64 << 10, quota / 64), &corpoCota); });
  ataques.emplace_back([&] { AtaqueCabecalhos(a, leitura); });
  ataques.emplace_back([&] { AtaqueLento(a, leitura, false); });
  ataques.emplace_back([&] { AtaqueLento(a, leitura, true); });
  ataques.emplace_back([&] { AtaquePorIP(a, porIP, leitura); });
  ataques.emplace_back([&] { AtaqueSemSessao(a, semSessao); });
  ataques.emplace_back([&] {
    AtaqueNomes(a, logMax);
    AtaqueJs(a);
  });
  for (auto& x : ataques) x.join();
  const double duracao = std::chrono::duration<double>(Relogio::now() - inicio).count();
  parar = true;
  for (auto& x : ts) x.join();
  std::this_thread::sleep_for(500ms);

  // Peak bound. A request may grow the server by at most 2 × (body + answer) + 16 MiB, and the
  // big ones run at once:
  //   base (VmHWM before the attacks)
  //   + 2 echoes × (2 × (body + answer) + 16 MiB)
  //   + the sales file: 2 × body + 16 MiB (its answer is a short message)
  //   + 4 anonymous uploads × (2 × (body + body) + 16 MiB)
  //   + sessions the flood leaves (at most 100,000) × 4 KiB
  //   + 64 MiB for the rest: connection threads, header buffers, small requests in flight.
  const long long porPedido = 16 * kMiB;
  const long long sessoes =
      std::min<long long>(semSessao + 1000 + 200, static_cast<long long>(kMaximoSessoes));
  const long long limite = base + kClientesEco * (2 * (corpoEco + respostaEco) + porPedido) +
                           (2 * corpoVendas + porPedido) +
                           kClientesUpload * (2 * (2 * corpoCota) + porPedido) +
                           sessoes * kBytesSessao + 64 * kMiB;
  const long long pico = MemoriaKb("VmHWM") * 1024;

  const TLogs logs = LerLogs(pasta);
  const long long uploads = EspacoUploads(pasta);
  std::vector<std::string> novos;
  for (const auto& c : Conteudo(pasta))
    if (antes.count(c) == 0 && c != "js/serverfunctions.js") novos.push_back(c);
  const long eventos = PsqlNumero(principal,
                                  "SELECT count(*) FROM EventosServRest WHERE "
                                  "id_evento > " +
                                      std::to_string(ultimoEvento));
  const long maxEventos = 11 * (static_cast<long>(duracao) + 3);
  long perdidos = 0;
  {
    const auto controle = Psql(
        kBancoTenant, "SELECT arquivo FROM POS_Controle WHERE arquivo LIKE '" + t.prefixo + "%'");
    std::set<std::string> registrados;
    std::istringstream in(controle.value_or(""));
    for (std::string l; std::getline(in, l);) registrados.insert(l);
    for (const auto& n : t.armazenados) perdidos += registrados.count(n) == 0 ? 1 : 0;
  }

  // The checks, each naming what failed.
  v.Exigir(ServidorVivo(), "the server died");
  v.Exigir(t.e.Fatais() == 0 && t.e.Ok() > 0,
           "well-behaved terminals not answered correctly: " + t.e.Resumo());
  v.Exigir(t.expiradas == 0, std::to_string(t.expiradas.load()) +
                                 " expired-session answer(s) to logged-in terminals");
  v.Exigir(t.semProtecao == 0, std::to_string(t.semProtecao.load()) +
                                   " REST answer(s) without Content-Security-Policy/nosniff");
  v.Exigir(perdidos == 0, std::to_string(perdidos) +
                              " terminal upload(s) answered Sucesso. "
                              "without a control row");
  v.Exigir(pico <= limite, "peak memory " + Mb(pico) + " MB over the bound " + Mb(limite) + " MB");
  v.Exigir(logs.total <= 6 * logMax + 64 * 1024 && !logs.foraDaConta,
           "log files take " + std::to_string(logs.total) + " bytes in " +
               std::to_string(logs.arquivos) + " file(s); at most 6 × " + std::to_string(logMax) +
               " + 64 KiB in log.txt..log.5.txt");
  v.Exigir(logs.arquivos >= 2,
           "log.txt never rotated (TamanhoMaximoLog " + std::to_string(logMax) + ")");
  v.Exigir(logs.maiorLinha <= 4 * 512 + 64,
           "a log line of " + std::to_string(logs.maiorLinha) + " bytes (caller text not cut)");
  v.Exigir(logs.forjadas == 0,
           std::to_string(logs.forjadas) + " forged log line(s) from a CR LF method name");
  v.Exigir(eventos >= 0 && eventos <= maxEventos,
           std::to_string(eventos) + " rows in EventosServRest in " +
               std::to_string(static_cast<long>(duracao)) + " s (at most 10 a second + summary)");
  v.Exigir(uploads <= quota, "uploaded files take " + std::to_string(uploads) +
                                 " bytes, over EspacoMaximoUploads " + std::to_string(quota));
  const long recusasCota =
      a.cota.Erros("upload recusado (cota)") + a.eco.Erros("eco recusado (cota)");
  v.Exigir(recusasCota > 0, "UploadFile never refused though twice the quota was sent");
  v.Exigir(a.eco.Ok() > 0, "no big echo came back");
  std::string listaNovos;
  for (const auto& n : novos) listaNovos += " " + n;
  v.Exigir(novos.empty(), "files written outside js/:" + listaNovos.substr(0, 300));
  v.Exigir(a.porIP503 >= a.porIPAbertas - porIP,
           std::to_string(a.porIP503) + " of " + std::to_string(a.porIPAbertas) +
               " connections from one address refused with 503 (cap " + std::to_string(porIP) +
               ")");
  v.Exigir(a.porIP503 == 0 || !a.textoPorIP.empty(), "503 over the per-address cap without text");
  const long long agenteKb = a.rssAgenteDepois - a.rssAgenteAntes;
  v.Exigir(agenteKb <= 1000 * 8 + 8 * 1024,
           "1,000 sessions opened with a 45 KB User-Agent grew the server by " +
               std::to_string(agenteKb / 1024) + " MB");
  const std::pair<const char*, const TEstatisticas*> familias[] = {
      {"big echoes", &a.eco},
      {"one-character-line sales file", &a.vendas},
      {"uploads against the quota", &a.cota},
      {"header floods", &a.cabecalhos},
      {"slow body/trailer", &a.lentos},
      {"connections over the per-address cap", &a.porIP},
      {"calls without session", &a.semSessao},
      {"long User-Agent sessions", &a.agente},
      {"odd method names", &a.nomes},
      {"serverfunctions.js elsewhere", &a.js}};
  TEstatisticas e;
  e.Juntar(t.e);
  for (const auto& [nome, x] : familias) {
    v.Exigir(x->Fatais() == 0, std::string(nome) + ": " + x->Resumo());
    for (const auto& s : x->Amostras()) std::printf("  sample (%s): %s\n", nome, s.c_str());
    e.Juntar(*x);
  }
  for (const auto& s : t.e.Amostras()) std::printf("  sample (terminals): %s\n", s.c_str());

  double lentoMin = 1e9, lentoMax = 0;
  for (double s : a.lentosFechados)
    lentoMin = std::min(lentoMin, s), lentoMax = std::max(lentoMax, s);
  char notas[1024];
  std::snprintf(
      notas, sizeof notas,
      "%.0f s; terminals %ld calls / %ld ok, expired sessions %ld; peak VmHWM %s MB <= bound %s MB "
      "(base %s + 2 echoes x (2 x (%s + %s) + 16) + sales 2 x %s + 16 + 4 uploads x (4 x %s + "
      "16) + %lld sessions x 4 KiB + 64); long-UA sessions +%lld KB; 503 over the cap %ld of "
      "%ld; slow requests closed after %.1f-%.1f s (TempoLeitura %d); logs %s MB in %d files "
      "(max line %zu); uploads %s MB of %s MB, %ld refused; events %ld (<= %ld)",
      duracao, t.e.Requisicoes(), t.e.Ok(), t.expiradas.load(), Mb(pico).c_str(),
      Mb(limite).c_str(), Mb(base).c_str(), Mb(corpoEco).c_str(), Mb(respostaEco).c_str(),
      Mb(corpoVendas).c_str(), Mb(corpoCota).c_str(), sessoes, agenteKb, a.porIP503, a.porIPAbertas,
      lentoMin, lentoMax, leitura, Mb(logs.total).c_str(), logs.arquivos, logs.maiorLinha,
      Mb(uploads).c_str(), Mb(quota).c_str(), recusasCota, eventos, maxEventos);
  v.Anotar(notas);
  if (!a.textoPorIP.empty()) std::printf("  503 text: %s\n", a.textoPorIP.c_str());
  return v.Imprimir("hostile", e);
}

}  // namespace tamrix::reliability

#include "web/uLogAcesso.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "diagnostics/uMetricas.h"
#include "diagnostics/uTextoLog.h"
#include "rest/uRestNomeMetodo.h"
#include "rest/uRestURL.h"
#include "util/uCaixaTexto.h"

namespace tamrix::web {

namespace {

// The path arguments a call carries that never reach the log, by position after the method
// (0-based): the password of the calls that log in or check a user, and the tenant's access
// token, a secret of its own.
struct TSegredos {
  std::string_view Metodo;
  std::array<bool, 3> Posicoes;
};
constexpr std::array<TSegredos, 4> kSegredos = {{
    {"login", {false, true, true}},
    {"loginpdv", {false, true, true}},
    {"consultardadosusuario", {false, true, false}},
    {"consultarconfiguracoes", {true, false, false}},
}};

// The secret positions of the call this segment names; nullptr for any other.
const std::array<bool, 3>* SegredosDoMetodo(std::string_view segmento) {
  static constexpr std::array<std::string_view, 3> kPrefixos = {"update", "accept", "cancel"};
  const std::string nome =
      util::MinusculasASCII(rest::RemoverAspasIdentificadores(rest::DecodificarSegmento(segmento)));
  std::string_view n = nome;
  for (std::string_view p : kPrefixos)
    if (n.size() > p.size() && n.substr(0, p.size()) == p) {
      const std::string_view resto = n.substr(p.size());
      for (const auto& s : kSegredos)
        if (resto == s.Metodo) return &s.Posicoes;
    }
  for (const auto& s : kSegredos)
    if (n == s.Metodo) return &s.Posicoes;
  return nullptr;
}

// One field of the line: "-" when empty, blanks as %20 (they separate the fields), control
// bytes escaped, at most limite bytes.
std::string Campo(std::string_view texto, std::size_t limite) {
  if (texto.empty()) return "-";
  // Blanks only make the text longer: what lies past limite is cut anyway.
  texto = texto.substr(0, limite + 1);
  std::string s;
  s.reserve(texto.size());
  for (char c : texto) {
    if (c == ' ')
      s += "%20";
    else
      s += c;
  }
  return diagnostics::TextoChamador(s, limite);
}

std::string MomentoUTC(std::chrono::system_clock::time_point momento) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(momento.time_since_epoch());
  const std::time_t t = static_cast<std::time_t>(ms.count() / 1000);
  std::tm u{};
  ::gmtime_r(&t, &u);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", u.tm_year + 1900,
                u.tm_mon + 1, u.tm_mday, u.tm_hour, u.tm_min, u.tm_sec,
                static_cast<int>(ms.count() % 1000));
  return buf;
}

}  // namespace

std::string MascararCaminho(std::string_view caminho) {
  caminho = caminho.substr(0, caminho.find('?'));
  std::vector<std::string_view> segs;
  for (;;) {
    const std::size_t barra = caminho.find('/');
    segs.push_back(caminho.substr(0, barra));
    if (barra == std::string_view::npos) break;
    caminho.remove_prefix(barra + 1);
  }
  for (std::size_t i = 0; i + 1 < segs.size(); ++i) {
    if (segs[i] == kMascaraSenha) continue;
    const auto* segredos = SegredosDoMetodo(segs[i]);
    if (segredos == nullptr) continue;
    for (std::size_t k = 0; k < segredos->size() && i + 1 + k < segs.size(); ++k)
      if ((*segredos)[k]) segs[i + 1 + k] = kMascaraSenha;
  }
  std::string r;
  for (std::size_t i = 0; i < segs.size(); ++i) {
    if (i > 0) r += '/';
    r += segs[i];
  }
  return r;
}

std::string LinhaAcesso(const TRegistroAcesso& r) {
  std::string linha = MomentoUTC(r.Momento);
  const auto juntar = [&linha](const std::string& campo) {
    linha += ' ';
    linha += campo;
  };
  juntar(Campo(r.Endereco, 64));
  juntar(Campo(r.Metodo, 32));
  juntar(Campo(MascararCaminho(r.Caminho), kTamanhoCaminhoAcesso));
  juntar(std::to_string(r.Status));
  juntar(std::to_string(r.Bytes));
  juntar(std::to_string(r.Duracao.count()));
  juntar(Campo(r.Sessao, 128));
  linha += '\n';
  return linha;
}

std::string SessaoAcesso(const util::TWebRequest& pedido, const util::TWebResponse& resposta) {
  for (const auto& h : resposta.CustomHeaders)
    if (util::TextoIgualSemCaixa(h.Name, "Pragma")) {
      std::string id = rest::ValorItemLista(h.Value, "dssession");
      if (!id.empty()) return id;
    }
  std::string id;
  if (!pedido.Query.empty())
    for (const auto& c : rest::LerCampos(pedido.Query))
      if (util::TextoIgualSemCaixa(c.Nome, "SESSIONID") || util::TextoIgualSemCaixa(c.Nome, "SID"))
        id = c.Valor;
  if (id.empty()) id = rest::ValorItemLista(pedido.GetFieldByName("Pragma"), "dssession");
  return id;
}

namespace {

// Lines wait here for a writer thread of their own, so a terminal, pipe or journald that
// stalls never holds a request thread; past the cap, lines are dropped and counted.
class TEscritorAcesso {
 public:
  static constexpr std::size_t kMaximoBytes = 8u << 20;

  TEscritorAcesso() : thread_([this] { Executar(); }) {}
  ~TEscritorAcesso() {
    {
      std::lock_guard<std::mutex> l(lock_);
      parar_ = true;
    }
    acordar_.notify_one();
    thread_.join();
  }

  void Enfileirar(std::string_view linha) {
    {
      std::lock_guard<std::mutex> l(lock_);
      if (bytes_ + linha.size() > kMaximoBytes) {
        diagnostics::metricas::LinhaAcessoDescartada();
        return;
      }
      fila_.append(linha);
      bytes_ += linha.size();
    }
    acordar_.notify_one();
  }

 private:
  void Executar() {
    std::string lote;
    std::unique_lock<std::mutex> l(lock_);
    for (;;) {
      acordar_.wait(l, [this] { return parar_ || !fila_.empty(); });
      if (fila_.empty()) return;  // stopping, and everything written
      lote.swap(fila_);
      l.unlock();
      Escrever(lote);
      lote.clear();
      l.lock();
      bytes_ = fila_.size();
    }
  }

  static void Escrever(std::string_view texto) {
    while (!texto.empty()) {
      const ssize_t n = ::write(STDOUT_FILENO, texto.data(), texto.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      texto.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  std::mutex lock_;
  std::condition_variable acordar_;
  std::string fila_;       // whole lines, in order
  std::size_t bytes_ = 0;  // queued plus being written: the cap counts both
  bool parar_ = false;
  std::thread thread_;
};

}  // namespace

void EscreverLinhaAcesso(std::string_view linha) noexcept {
  try {
    // Built at the first line; written out and joined at exit.
    static TEscritorAcesso escritor;
    escritor.Enfileirar(linha);
  } catch (...) {
    // No thread or no memory: the line is lost, the answer has already gone out.
  }
}

}  // namespace tamrix::web

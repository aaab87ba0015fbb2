#include "diagnostics/uMetricas.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

namespace tamrix::diagnostics::metricas {

namespace {

// Every family, in order of creation; the exposition follows it.
struct TRegistro {
  std::mutex Mutex;
  std::vector<const TFamilia*> Familias;
};

TRegistro& Registro() {
  static TRegistro r;
  return r;
}

std::uint64_t Hash(const std::vector<std::string>& valores) {
  std::uint64_t h = 1469598103934665603ULL;  // FNV-1a
  for (const std::string& v : valores) {
    for (unsigned char c : v) h = (h ^ c) * 1099511628211ULL;
    h = (h ^ 0xFFu) * 1099511628211ULL;  // 0xFF never occurs in UTF-8: a separator
  }
  return h;
}

// The text format's numbers: integers without a fraction, others in their shortest form.
void Numero(std::string& s, double v) {
  if (std::isnan(v)) {
    s += "NaN";
    return;
  }
  if (std::isinf(v)) {
    s += v > 0 ? "+Inf" : "-Inf";
    return;
  }
  char buf[64];
  std::to_chars_result r{};
  if (v == std::floor(v) && std::fabs(v) < 9.0e15)
    r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(v));
  else
    r = std::to_chars(buf, buf + sizeof buf, v);
  s.append(buf, r.ptr);
}

// {a="x",b="y"} with an extra pair at the end (the histogram's "le"); nothing when empty.
void Rotulos(std::string& s, const std::vector<std::string>& nomes,
             const std::vector<std::string>& valores, std::string_view extraNome = {},
             std::string_view extraValor = {}) {
  if (nomes.empty() && extraNome.empty()) return;
  s += '{';
  bool primeiro = true;
  for (std::size_t i = 0; i < nomes.size(); ++i) {
    if (!primeiro) s += ',';
    primeiro = false;
    s += nomes[i];
    s += "=\"";
    s += EscaparValorRotulo(valores[i]);
    s += '"';
  }
  if (!extraNome.empty()) {
    if (!primeiro) s += ',';
    s += extraNome;
    s += "=\"";
    s += extraValor;
    s += '"';
  }
  s += '}';
}

void Cabecalho(std::string& s, std::string_view nome, std::string_view ajuda,
               std::string_view tipo) {
  s += "# HELP ";
  s += nome;
  s += ' ';
  for (char c : ajuda) {
    if (c == '\\')
      s += "\\\\";
    else if (c == '\n')
      s += "\\n";
    else
      s += c;
  }
  s += "\n# TYPE ";
  s += nome;
  s += ' ';
  s += tipo;
  s += '\n';
}

void Amostra(std::string& s, std::string_view nome, std::string_view ajuda, std::string_view tipo,
             double valor) {
  Cabecalho(s, nome, ajuda, tipo);
  s += nome;
  s += ' ';
  Numero(s, valor);
  s += '\n';
}

// Length of the UTF-8 character starting at p (at most n bytes there); 0 when not valid.
std::size_t CaractereUTF8(const unsigned char* p, std::size_t n) {
  if (p[0] < 0x80) return 1;
  std::size_t len = 0;
  std::uint32_t cp = 0;
  if ((p[0] & 0xE0) == 0xC0) {
    len = 2;
    cp = p[0] & 0x1F;
  } else if ((p[0] & 0xF0) == 0xE0) {
    len = 3;
    cp = p[0] & 0x0F;
  } else if ((p[0] & 0xF8) == 0xF0) {
    len = 4;
    cp = p[0] & 0x07;
  } else {
    return 0;
  }
  if (len > n) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  static constexpr std::uint32_t kMinimo[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMinimo[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// The process_* figures from /proc/self, as the Prometheus clients expose them.
void RenderizarProcesso(std::string& s) {
  std::ifstream in("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name may hold blanks and parentheses: the fields start after the last ')'.
  const std::size_t fecha = stat.rfind(')');
  if (fecha != std::string::npos) {
    std::istringstream campos(stat.substr(fecha + 2));
    std::vector<std::string> f;
    for (std::string c; campos >> c;) f.push_back(std::move(c));
    // f[0] is field 3 (state): utime 14, stime 15, starttime 22, vsize 23, rss 24.
    if (f.size() >= 22) {
      const double tique = static_cast<double>(::sysconf(_SC_CLK_TCK));
      const double cpu = (std::stod(f[11]) + std::stod(f[12])) / tique;
      Amostra(s, "process_cpu_seconds_total", "Tempo de CPU do processo (usuário e sistema).",
              "counter", cpu);
      double boot = 0;
      std::ifstream st("/proc/stat");
      for (std::string linha; std::getline(st, linha);)
        if (linha.rfind("btime ", 0) == 0) boot = std::stod(linha.substr(6));
      Amostra(s, "process_start_time_seconds",
              "Início do processo, em segundos desde a época Unix.", "gauge",
              boot + std::stod(f[19]) / tique);
      Amostra(s, "process_virtual_memory_bytes", "Memória virtual do processo.", "gauge",
              std::stod(f[20]));
      Amostra(s, "process_resident_memory_bytes", "Memória residente do processo.", "gauge",
              std::stod(f[21]) * static_cast<double>(::sysconf(_SC_PAGESIZE)));
    }
  }
  double abertos = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++abertos;
    ::closedir(d);
    --abertos;  // the descriptor of the listing itself
  }
  Amostra(s, "process_open_fds", "Descritores de arquivo abertos.", "gauge", abertos);
  rlimit lim{};
  if (::getrlimit(RLIMIT_NOFILE, &lim) == 0)
    Amostra(s, "process_max_fds", "Limite de descritores de arquivo abertos.", "gauge",
            lim.rlim_cur == RLIM_INFINITY ? INFINITY : static_cast<double>(lim.rlim_cur));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Series and families

TSerie::TSerie(std::vector<std::string> valores, const std::vector<double>* limites)
    : valores_(std::move(valores)), limites_(limites) {
  if (limites_ != nullptr) {
    baldes_ = std::make_unique<std::atomic<std::uint64_t>[]>(limites_->size());
    for (std::size_t i = 0; i < limites_->size(); ++i) baldes_[i].store(0);
  }
}

void TSerie::Observar(double v) {
  if (limites_ == nullptr) return;
  const auto it = std::lower_bound(limites_->begin(), limites_->end(), v);
  if (it != limites_->end())
    baldes_[static_cast<std::size_t>(it - limites_->begin())].fetch_add(1,
                                                                        std::memory_order_relaxed);
  soma_.fetch_add(v, std::memory_order_relaxed);
  contagem_.fetch_add(1, std::memory_order_relaxed);
}

TFamilia::TFamilia(std::string nome, std::string ajuda, TTipoMetrica tipo,
                   std::vector<std::string> rotulos, std::vector<double> limites)
    : nome_(std::move(nome)),
      ajuda_(std::move(ajuda)),
      tipo_(tipo),
      rotulos_(std::move(rotulos)),
      limites_(std::move(limites)) {
  // A family without labels shows its zero from the start.
  if (rotulos_.empty()) Serie();
  auto& r = Registro();
  std::lock_guard lock(r.Mutex);
  r.Familias.push_back(this);
}

TFamilia::~TFamilia() {
  auto& r = Registro();
  std::lock_guard lock(r.Mutex);
  std::erase(r.Familias, this);
}

TSerie* TFamilia::Procurar(const std::vector<std::string>& valores, std::uint64_t hash) const {
  for (std::size_t i = hash & (kPosicoes - 1);; i = (i + 1) & (kPosicoes - 1)) {
    TSerie* s = posicoes_[i].load(std::memory_order_acquire);
    if (s == nullptr) return nullptr;
    if (s->valores_ == valores) return s;
  }
}

TSerie& TFamilia::Serie(std::initializer_list<std::string_view> valores) {
  std::vector<std::string> limpos;
  limpos.reserve(rotulos_.size());
  for (std::string_view v : valores) {
    if (limpos.size() == rotulos_.size()) break;
    limpos.push_back(LimparValorRotulo(v));
  }
  limpos.resize(rotulos_.size());
  const std::uint64_t hash = Hash(limpos);
  if (TSerie* s = Procurar(limpos, hash)) return *s;

  std::lock_guard lock(mutex_);
  if (TSerie* s = Procurar(limpos, hash)) return *s;
  const std::vector<double>* limites = tipo_ == TTipoMetrica::Histograma ? &limites_ : nullptr;
  if (series_.size() >= kMaximoSeries) {
    if (TSerie* o = outros_.load(std::memory_order_acquire)) return *o;
    std::vector<std::string> outros(rotulos_.size(), std::string(kValorOutros));
    series_.push_back(std::unique_ptr<TSerie>(new TSerie(std::move(outros), limites)));
    outros_.store(series_.back().get(), std::memory_order_release);
    return *series_.back();
  }
  series_.push_back(std::unique_ptr<TSerie>(new TSerie(std::move(limpos), limites)));
  TSerie* nova = series_.back().get();
  std::size_t i = hash & (kPosicoes - 1);
  while (posicoes_[i].load(std::memory_order_relaxed) != nullptr) i = (i + 1) & (kPosicoes - 1);
  posicoes_[i].store(nova, std::memory_order_release);
  return *nova;
}

void TFamilia::Renderizar(std::string& s) const {
  static constexpr std::string_view kTipos[] = {"counter", "gauge", "histogram"};
  Cabecalho(s, nome_, ajuda_, kTipos[static_cast<int>(tipo_)]);
  std::lock_guard lock(mutex_);
  for (const auto& serie : series_) {
    if (tipo_ != TTipoMetrica::Histograma) {
      s += nome_;
      Rotulos(s, rotulos_, serie->valores_);
      s += ' ';
      Numero(s, serie->Valor());
      s += '\n';
      continue;
    }
    // The count is read first: buckets filled meanwhile may pass it, never fall short.
    const std::uint64_t contagem = serie->contagem_.load(std::memory_order_relaxed);
    std::uint64_t acumulado = 0;
    for (std::size_t i = 0; i < limites_.size(); ++i) {
      acumulado += serie->baldes_[i].load(std::memory_order_relaxed);
      std::string le;
      Numero(le, limites_[i]);
      s += nome_;
      s += "_bucket";
      Rotulos(s, rotulos_, serie->valores_, "le", le);
      s += ' ';
      Numero(s, static_cast<double>(std::min(acumulado, contagem)));
      s += '\n';
    }
    s += nome_;
    s += "_bucket";
    Rotulos(s, rotulos_, serie->valores_, "le", "+Inf");
    s += ' ';
    Numero(s, static_cast<double>(contagem));
    s += '\n';
    s += nome_;
    s += "_sum";
    Rotulos(s, rotulos_, serie->valores_);
    s += ' ';
    Numero(s, serie->soma_.load(std::memory_order_relaxed));
    s += '\n';
    s += nome_;
    s += "_count";
    Rotulos(s, rotulos_, serie->valores_);
    s += ' ';
    Numero(s, static_cast<double>(contagem));
    s += '\n';
  }
}

std::string LimparValorRotulo(std::string_view valor) {
  std::string r;
  r.reserve(std::min(valor.size(), kMaximoValorRotulo));
  const auto* p = reinterpret_cast<const unsigned char*>(valor.data());
  for (std::size_t i = 0; i < valor.size();) {
    const std::size_t n = CaractereUTF8(p + i, valor.size() - i);
    const std::size_t ocupa = n == 0 ? 1 : n;
    if (r.size() + ocupa > kMaximoValorRotulo) break;
    if (n == 0)
      r += '?';
    else
      r.append(valor.data() + i, n);
    i += ocupa;
  }
  return r;
}

std::string EscaparValorRotulo(std::string_view valor) {
  std::string r;
  r.reserve(valor.size());
  for (char c : valor) {
    if (c == '\\')
      r += "\\\\";
    else if (c == '"')
      r += "\\\"";
    else if (c == '\n')
      r += "\\n";
    else
      r += c;
  }
  return r;
}

const std::vector<double>& LimitesDuracao() {
  static const std::vector<double> limites = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5,
                                              1,     2.5,  5,     10,   30,  60,   300};
  return limites;
}

// ---------------------------------------------------------------------------------------
// The server's families

namespace {

using enum TTipoMetrica;

struct TFamilias {
  TFamilia Chamadas{"tamrix_rest_requests_total",
                    "Chamadas REST e de cache respondidas, por classe, método e status HTTP.",
                    Contador,
                    {"class", "method", "status"}};
  TFamilia Duracao{"tamrix_rest_request_duration_seconds",
                   "Duração das chamadas REST e de cache, por classe e método.",
                   Histograma,
                   {"class", "method"},
                   LimitesDuracao()};
  TFamilia EmAndamento{"tamrix_rest_requests_in_progress", "Chamadas REST e de cache em andamento.",
                       Medidor};
  TFamilia PoolEmUso{"tamrix_pool_instances_in_use",
                     "Instâncias do módulo web em uso, por pool de requisições.",
                     Medidor,
                     {"pool"}};
  TFamilia PoolEsperas{"tamrix_pool_waits_total",
                       "Requisições que esperaram por uma instância livre.",
                       Contador,
                       {"pool"}};
  TFamilia PoolRecusas{"tamrix_pool_refusals_total",
                       "Requisições recusadas por falta de instância livre.",
                       Contador,
                       {"pool"}};
  TFamilia SessoesVivas{"tamrix_sessions_alive", "Sessões REST abertas.", Medidor};
  TFamilia SessoesFim{"tamrix_sessions_ended_total",
                      "Sessões REST encerradas, por motivo (closed: fechada pelo cliente; "
                      "expired: tempo esgotado; evicted: despejada no teto de sessões; stopped: "
                      "parada do servidor).",
                      Contador,
                      {"reason"}};
  TFamilia ConexoesAbertas{"tamrix_tenant_connections_opened_total",
                           "Conexões abertas com o banco do inquilino, por nome do banco.",
                           Contador,
                           {"database"}};
  TFamilia ConexoesFalhas{"tamrix_tenant_connections_failed_total",
                          "Conexões com o banco do inquilino que falharam ao abrir, por nome do "
                          "banco.",
                          Contador,
                          {"database"}};
  TFamilia ComandosBD{"tamrix_db_statement_duration_seconds",
                      "Duração dos comandos enviados ao banco de dados.",
                      Histograma,
                      {},
                      LimitesDuracao()};
  TFamilia ArquivosVendas{"tamrix_sales_files_total",
                          "Arquivos de vendas respondidos, por código da resposta.",
                          Contador,
                          {"code"}};
  TFamilia LinhasVendas{"tamrix_sales_file_lines_stored_total",
                        "Linhas de arquivos de vendas gravadas.", Contador};
  TFamilia FalhasLog{"tamrix_log_write_failures_total",
                     "Gravações do log.txt que falharam (a linha fica guardada em memória).",
                     Contador};
  TFamilia BloqueiosLogin{"tamrix_login_blocks_total",
                          "Bloqueios de login por tentativas sem sucesso que começaram.", Contador};
  TFamilia LoginsRecusados{"tamrix_login_refused_total",
                           "Tentativas de login recusadas durante um bloqueio, sem consultar o "
                           "banco.",
                           Contador};
  TFamilia AcessoDescartadas{"tamrix_access_log_lines_dropped_total",
                             "Linhas do log de acesso descartadas porque a saída padrão não "
                             "acompanhava.",
                             Contador};
};

TFamilias& Familias() {
  static TFamilias f;
  return f;
}

}  // namespace

std::string Texto() {
  Familias();
  std::string s;
  s.reserve(16384);
  {
    auto& r = Registro();
    std::lock_guard lock(r.Mutex);
    for (const TFamilia* f : r.Familias) f->Renderizar(s);
  }
  RenderizarProcesso(s);
  return s;
}

void ChamadaRestIniciada() {
  Familias().EmAndamento.Serie().Somar(1);
}

void ChamadaRestTerminada(std::string_view classe, std::string_view metodo, int status,
                          double segundos) {
  auto& f = Familias();
  f.EmAndamento.Serie().Somar(-1);
  f.Chamadas.Serie({classe, metodo, std::to_string(status)}).Somar(1);
  f.Duracao.Serie({classe, metodo}).Observar(segundos);
}

TMetricasPool MetricasPool(std::string_view pool) {
  auto& f = Familias();
  return {&f.PoolEmUso.Serie({pool}), &f.PoolEsperas.Serie({pool}), &f.PoolRecusas.Serie({pool})};
}

void SessoesAbertas(std::size_t n) {
  Familias().SessoesVivas.Serie().Somar(static_cast<double>(n));
}

void SessoesEncerradas(std::size_t n, TFimSessao motivo) {
  if (n == 0) return;
  static constexpr std::string_view kMotivos[] = {"closed", "expired", "evicted", "stopped"};
  auto& f = Familias();
  f.SessoesVivas.Serie().Somar(-static_cast<double>(n));
  f.SessoesFim.Serie({kMotivos[static_cast<int>(motivo)]}).Somar(static_cast<double>(n));
}

void ConexaoInquilino(std::string_view banco, bool aberta) {
  auto& f = Familias();
  (aberta ? f.ConexoesAbertas : f.ConexoesFalhas).Serie({banco}).Somar(1);
}

void ComandoBD(double segundos) {
  Familias().ComandosBD.Serie().Observar(segundos);
}

void ArquivoVendasRespondido(long long codigo) {
  Familias().ArquivosVendas.Serie({std::to_string(codigo)}).Somar(1);
}

void LinhasVendasGravadas(std::size_t linhas) {
  Familias().LinhasVendas.Serie().Somar(static_cast<double>(linhas));
}

void FalhaGravacaoLog() {
  Familias().FalhasLog.Serie().Somar(1);
}

void BloqueioLoginIniciado() {
  Familias().BloqueiosLogin.Serie().Somar(1);
}

void LoginRecusadoPorBloqueio() {
  Familias().LoginsRecusados.Serie().Somar(1);
}

void LinhaAcessoDescartada() {
  Familias().AcessoDescartadas.Serie().Somar(1);
}

}  // namespace tamrix::diagnostics::metricas

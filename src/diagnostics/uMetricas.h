// The process-wide metrics registry, served on the admin port in the Prometheus text format
// (version 0.0.4). Counting is cheap and lock-free: a series already seen is found through a
// table of atomic pointers; the registry's mutex is taken only the first time a label set
// appears, and while the text is rendered.
//
// Label values may come from clients or from the database: each is cut to
// kMaximoValorRotulo bytes, bytes that are not UTF-8 become '?', and a family keeps at most
// kMaximoSeries label sets; later new ones are all counted in one series whose values are
// kValorOutros, so no client can make the registry grow without bound.
#ifndef TAMRIX_DIAGNOSTICS_UMETRICAS_H
#define TAMRIX_DIAGNOSTICS_UMETRICAS_H

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tamrix::diagnostics::metricas {

inline constexpr std::size_t kMaximoSeries = 1000;
inline constexpr std::size_t kMaximoValorRotulo = 128;
inline constexpr std::string_view kValorOutros = "_outros";

enum class TTipoMetrica { Contador, Medidor, Histograma };

// One label set of a family: a counter or gauge value, or a histogram's buckets.
class TSerie {
 public:
  // Counter and gauge: adds v (a counter takes only v >= 0).
  void Somar(double v) { valor_.fetch_add(v, std::memory_order_relaxed); }
  // Gauge: replaces the value.
  void Definir(double v) { valor_.store(v, std::memory_order_relaxed); }
  double Valor() const { return valor_.load(std::memory_order_relaxed); }
  // Histogram: counts one observation in the buckets of its family.
  void Observar(double v);
  // Histogram: observations so far (the "+Inf" bucket).
  std::uint64_t Observacoes() const { return contagem_.load(std::memory_order_relaxed); }

 private:
  friend class TFamilia;
  TSerie(std::vector<std::string> valores, const std::vector<double>* limites);

  std::vector<std::string> valores_;  // one per label name, already cut and cleaned
  const std::vector<double>* limites_;
  std::atomic<double> valor_{0};
  std::unique_ptr<std::atomic<std::uint64_t>[]> baldes_;  // not cumulative, one per limit
  std::atomic<double> soma_{0};
  std::atomic<std::uint64_t> contagem_{0};
};

// A metric family: name, help text, type, label names, and its series. Families register
// themselves with the registry and live as long as the process (static objects).
class TFamilia {
 public:
  // nome must follow the Prometheus rules ([a-zA-Z_:][a-zA-Z0-9_:]*); limites (histograms
  // only) are the buckets' upper bounds in increasing order, "+Inf" implied.
  TFamilia(std::string nome, std::string ajuda, TTipoMetrica tipo,
           std::vector<std::string> rotulos = {}, std::vector<double> limites = {});
  TFamilia(const TFamilia&) = delete;
  TFamilia& operator=(const TFamilia&) = delete;
  ~TFamilia();

  // The series of these label values (as many as label names; missing ones are empty),
  // created on first use. The reference stays valid for the family's life.
  TSerie& Serie(std::initializer_list<std::string_view> valores = {});

  const std::string& Nome() const { return nome_; }
  // Appends the family's HELP, TYPE and sample lines.
  void Renderizar(std::string& saida) const;

 private:
  static constexpr std::size_t kPosicoes = 2048;  // power of two, over 2 * kMaximoSeries

  TSerie* Procurar(const std::vector<std::string>& valores, std::uint64_t hash) const;

  const std::string nome_;
  const std::string ajuda_;
  const TTipoMetrica tipo_;
  const std::vector<std::string> rotulos_;
  const std::vector<double> limites_;
  std::array<std::atomic<TSerie*>, kPosicoes> posicoes_{};  // open addressing, never emptied
  mutable std::mutex mutex_;                                // creation and rendering
  std::vector<std::unique_ptr<TSerie>> series_;             // in order of creation
  std::atomic<TSerie*> outros_{nullptr};                    // the series past the cap
};

// A label value as the registry keeps it: cut at kMaximoValorRotulo bytes (never inside a
// UTF-8 character), invalid UTF-8 bytes replaced by '?'.
std::string LimparValorRotulo(std::string_view valor);
// A label value escaped for the text format: backslash, double quote and line feed.
std::string EscaparValorRotulo(std::string_view valor);

// The whole exposition: every registered family, then the process_* figures of
// /proc/self. Safe from any thread.
std::string Texto();

// Upper bounds, in seconds, of the duration histograms.
const std::vector<double>& LimitesDuracao();

// --- The server's metrics ------------------------------------------------------------

// A REST or cache call began (calls in progress).
void ChamadaRestIniciada();
// A REST or cache call ended: counted by server class, method and HTTP status, and its
// duration observed by class and method; in progress goes down by one.
void ChamadaRestTerminada(std::string_view classe, std::string_view metodo, int status,
                          double segundos);

// The three series of one request pool (instances in use, requests that waited, requests
// refused); references valid for the life of the process.
struct TMetricasPool {
  TSerie* EmUso;
  TSerie* Esperas;
  TSerie* Recusas;
};
TMetricasPool MetricasPool(std::string_view pool);

// Why REST sessions left the registry.
enum class TFimSessao { Fechada, Expirada, Despejada, Parada };
// n sessions opened; n sessions ended for that reason (the alive gauge follows both).
void SessoesAbertas(std::size_t n);
void SessoesEncerradas(std::size_t n, TFimSessao motivo);

// A tenant connection was opened, or failed to open, on that tenant database (its name,
// never the token).
void ConexaoInquilino(std::string_view banco, bool aberta);
// One database statement ran for that long (successful or not).
void ComandoBD(double segundos);

// A sales file was answered with that code; a sales file's lines were stored.
void ArquivoVendasRespondido(long long codigo);
void LinhasVendasGravadas(std::size_t linhas);

// A write of log.txt failed (the line stays kept in memory).
void FalhaGravacaoLog();

// A login block began; a login attempt was refused by a block.
void BloqueioLoginIniciado();
void LoginRecusadoPorBloqueio();

// An access-log line was dropped: standard output did not keep up.
void LinhaAcessoDescartada();

}  // namespace tamrix::diagnostics::metricas

#endif  // TAMRIX_DIAGNOSTICS_UMETRICAS_H

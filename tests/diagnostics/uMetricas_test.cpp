// The metrics registry: the text format it renders, label values a client may have chosen
// (escaped, cut, cleaned, capped), and counting from many threads at once.
#include "diagnostics/uMetricas.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace tamrix::diagnostics::metricas {
namespace {

using enum TTipoMetrica;

std::string Render(const TFamilia& f) {
  std::string s;
  f.Renderizar(s);
  return s;
}

TEST(Metricas, RendersCounterGaugeAndCumulativeHistogram) {
  TFamilia contador("teste_chamadas_total", "Chamadas.\nSegunda linha \\ fim.", Contador,
                    {"class", "status"});
  contador.Serie({"TsmComum", "200"}).Somar(2);
  contador.Serie({"TsmComum", "200"}).Somar(1);
  contador.Serie({"TsmUsuario", "500"}).Somar(1);
  EXPECT_EQ(Render(contador),
            "# HELP teste_chamadas_total Chamadas.\\nSegunda linha \\\\ fim.\n"
            "# TYPE teste_chamadas_total counter\n"
            "teste_chamadas_total{class=\"TsmComum\",status=\"200\"} 3\n"
            "teste_chamadas_total{class=\"TsmUsuario\",status=\"500\"} 1\n");

  // Without labels the zero shows before anything is counted.
  TFamilia medidor("teste_em_uso", "Em uso.", Medidor);
  EXPECT_EQ(Render(medidor),
            "# HELP teste_em_uso Em uso.\n# TYPE teste_em_uso gauge\nteste_em_uso 0\n");
  medidor.Serie().Somar(3);
  medidor.Serie().Somar(-1);
  medidor.Serie().Definir(medidor.Serie().Valor() + 0.5);
  EXPECT_NE(Render(medidor).find("\nteste_em_uso 2.5\n"), std::string::npos);

  TFamilia histograma("teste_duracao_seconds", "Duração.", Histograma, {"method"}, {0.1, 1});
  auto& h = histograma.Serie({"Login"});
  for (double v : {0.05, 0.1, 0.5, 3.0}) h.Observar(v);
  EXPECT_EQ(Render(histograma),
            "# HELP teste_duracao_seconds Duração.\n"
            "# TYPE teste_duracao_seconds histogram\n"
            "teste_duracao_seconds_bucket{method=\"Login\",le=\"0.1\"} 2\n"
            "teste_duracao_seconds_bucket{method=\"Login\",le=\"1\"} 3\n"
            "teste_duracao_seconds_bucket{method=\"Login\",le=\"+Inf\"} 4\n"
            "teste_duracao_seconds_sum{method=\"Login\"} 3.65\n"
            "teste_duracao_seconds_count{method=\"Login\"} 4\n");
}

TEST(Metricas, LabelValuesAreEscapedCutAndCleaned) {
  struct TCaso {
    std::string Entrada, Renderizado;
  } casos[] = {
      {"a\\b", "a\\\\b"},
      {"di\"z\"", "di\\\"z\\\""},
      {"linha\nnova", "linha\\nnova"},
      {"São Paulo", "São Paulo"},
      {std::string("x\xff\xc3y"), "x??y"},                            // not UTF-8
      {std::string(200, 'm'), std::string(kMaximoValorRotulo, 'm')},  // cut
      {std::string(kMaximoValorRotulo - 1, 'm') + "ã", std::string(kMaximoValorRotulo - 1, 'm')},
  };
  TFamilia f("teste_rotulos_total", "Rótulos.", Contador, {"v"});
  for (const auto& c : casos) {
    f.Serie({c.Entrada}).Somar(1);
    EXPECT_NE(Render(f).find("teste_rotulos_total{v=\"" + c.Renderizado + "\"} 1\n"),
              std::string::npos)
        << c.Entrada;
  }
}

TEST(Metricas, NewLabelSetsPastTheCapAreFoldedIntoOne) {
  TFamilia f("teste_metodos_total", "Métodos.", Contador, {"class", "method"});
  for (std::size_t i = 0; i < kMaximoSeries + 500; ++i)
    f.Serie({"C", "m" + std::to_string(i)}).Somar(1);
  f.Serie({"C", "m0"}).Somar(1);  // one seen before the cap keeps its own series
  const std::string s = Render(f);
  EXPECT_NE(s.find("teste_metodos_total{class=\"_outros\",method=\"_outros\"} 500\n"),
            std::string::npos);
  EXPECT_NE(s.find("teste_metodos_total{class=\"C\",method=\"m0\"} 2\n"), std::string::npos);
  std::size_t linhas = 0;
  for (char c : s) linhas += c == '\n';
  EXPECT_EQ(linhas, 2 + kMaximoSeries + 1);
}

TEST(Metricas, ConcurrentCountingLosesNothing) {
  TFamilia f("teste_concorrencia_total", "Concorrência.", Contador, {"t"});
  TFamilia h("teste_concorrencia_seconds", "Concorrência.", Histograma, {"t"}, {1});
  constexpr int kThreads = 8, kVezes = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kVezes; ++i) {
        // Shared and new series at once: creation races with lock-free lookups.
        f.Serie({"comum"}).Somar(1);
        f.Serie({std::to_string(t * 100 + i % 100)}).Somar(1);
        h.Serie({"comum"}).Observar(0.5);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(f.Serie({"comum"}).Valor(), kThreads * kVezes);
  EXPECT_EQ(f.Serie({"0"}).Valor(), kVezes / 100);
  EXPECT_EQ(h.Serie({"comum"}).Observacoes(), static_cast<std::uint64_t>(kThreads * kVezes));
}

TEST(Metricas, ExpositionHasTheServerFamiliesAndProcessFigures) {
  ChamadaRestIniciada();
  ChamadaRestTerminada("TsmComum", "InverterString", 200, 0.002);
  ArquivoVendasRespondido(1);
  FalhaGravacaoLog();
  const std::string s = Texto();
  for (const char* trecho :
       {"# TYPE tamrix_rest_requests_total counter\n",
        "tamrix_rest_requests_total{class=\"TsmComum\",method=\"InverterString\",status=\"200\"}",
        "tamrix_rest_requests_in_progress 0\n", "tamrix_sales_files_total{code=\"1\"}",
        "# TYPE tamrix_db_statement_duration_seconds histogram\n",
        "tamrix_log_write_failures_total", "\nprocess_resident_memory_bytes ",
        "\nprocess_virtual_memory_bytes ", "\nprocess_open_fds ", "\nprocess_max_fds ",
        "\nprocess_cpu_seconds_total ", "\nprocess_start_time_seconds "})
    EXPECT_NE(s.find(trecho), std::string::npos) << trecho;
}

}  // namespace
}  // namespace tamrix::diagnostics::metricas

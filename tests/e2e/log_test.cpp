// log.txt and the events table of the dist/ server under hostile calls: a method name of
// 12 KB or with a line break gives one bounded, escaped line; the log rotates at its size.
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "e2e/e2e_servidor.h"

namespace tamrix::e2e {
namespace {

// Bytes of the log line with the largest size, and their sum.
std::pair<std::size_t, std::size_t> MaiorETotal(const std::vector<std::string>& linhas,
                                                std::size_t desde = 0) {
  std::size_t maior = 0, total = 0;
  for (std::size_t i = desde; i < linhas.size(); ++i) {
    maior = std::max(maior, linhas[i].size() + 2);
    total += linhas[i].size() + 2;
  }
  return {maior, total};
}

// A line of the log holds the translated error and the original message, each cut at 512
// bytes, after the "* ERRO <date> * " prefix.
constexpr std::size_t kMaiorLinha = 1100;

TEST(LogE2E, ThousandCallsNamingA12KBMethodGrowTheLogAndTheEventsByABoundedAmount) {
  TAMRIX_REQUIRE_DIST();
  pgtest::TPgScratchDatabase main(pgtest::Env()->mainTemplate);
  TServidorE2E s({.MainDb = main.Name()});
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  const std::string sessao = s.Get("/tamrix/rest/TsmComum/InverterString/x").Sessao();
  ASSERT_FALSE(sessao.empty());
  const std::size_t linhasAntes = s.Log().size();
  const long rssAntes = MemoriaKiB(s.Pid(), "VmRSS");

  const std::string nome(12 * 1024, 'M');
  const std::time_t inicio = std::time(nullptr);
  constexpr int kChamadas = 1000;
  for (int i = 0; i < kChamadas; ++i) {
    const auto r = s.Get("/tamrix/rest/TsmComum/" + nome, Pragma(sessao));
    ASSERT_EQ(r.Status, 500) << i;
    // The answer keeps the whole name: only the log and the events are cut.
    if (i == 0) {
      EXPECT_NE(r.Body.find(nome + " method not found"), std::string::npos) << r.Body.size();
    }
  }
  const long segundos = static_cast<long>(std::time(nullptr) - inicio) + 1;

  const auto log = s.Log();
  ASSERT_EQ(log.size(), linhasAntes + kChamadas);  // one line a call
  const auto [maior, total] = MaiorETotal(log, linhasAntes);
  EXPECT_LE(maior, kMaiorLinha);
  EXPECT_LE(total, kChamadas * kMaiorLinha);  // 23 MiB when nothing was cut
  EXPECT_NE(log.back().find("[...]"), std::string::npos) << log.back();
  // The lines are gone from the server's memory (28 MiB when it kept them).
  const long rssDepois = MemoriaKiB(s.Pid(), "VmRSS");
  if (kMemoriaComparavel) {
    EXPECT_LT(rssDepois - rssAntes, 10 * 1024) << rssAntes << " -> " << rssDepois << " KiB";
  }

  // At most 10 error rows a second, plus one a second telling how many were left out.
  EXPECT_EQ(s.Parar(), 0) << s.Erros();
  const auto eventos = Eventos(main.Name());
  EXPECT_LE(eventos.size(), static_cast<std::size_t>(2 + 11 * segundos));
  long omitidos = 0, erros = 0;
  const std::regex resumo(R"(\* ERRO \* (\d+) evento\(s\) omitido\(s\) em .*)");
  for (const auto& e : eventos) {
    EXPECT_LE(e.size(), 600u) << e.substr(0, 100);
    std::smatch m;
    if (std::regex_match(e, m, resumo))
      omitidos += std::stol(m[1]);
    else if (e.rfind("* ERRO * ", 0) == 0)
      ++erros;
  }
  EXPECT_EQ(erros + omitidos, kChamadas);  // every failure is a row or counted in one
}

TEST(LogE2E, LineBreakInAMethodNameGivesOneEscapedLineAndTheLogRotates) {
  TAMRIX_REQUIRE_DIST();
  pgtest::TPgScratchDatabase main(pgtest::Env()->mainTemplate);
  constexpr std::size_t kMaximo = 8000;
  TServidorE2E s({.MainDb = main.Name(),
                  .ExtraServidor = "TamanhoMaximoLog=" + std::to_string(kMaximo) + "\r\n"});
  // A previous run's rotated file stays until rotations push it out.
  std::ofstream(s.Pasta() + "log.1.txt") << "execução anterior\r\n";
  ASSERT_TRUE(s.Iniciar()) << s.Erros();
  const std::size_t antes = s.Log().size();

  const auto r = s.Get(
      "/tamrix/rest/TsmComum/Forjado%0D%0A*%20ERRO%2001%2F01%2F2000%2000:00:00%20*%20x%09%00");
  EXPECT_EQ(r.Status, 500);
  EXPECT_NE(r.Body.find(R"(Forjado\r\n* ERRO)"), std::string::npos) << r.Body;  // JSON-escaped
  const auto log = s.Log();
  ASSERT_EQ(log.size(), antes + 1) << ::testing::PrintToString(log);
  EXPECT_TRUE(std::regex_match(
      log.back(),
      std::regex(R"(\* ERRO \d\d/\d\d/\d{4} \d\d:\d\d:\d\d \* .*TsmComum\.Forjado\\r\\n\* ERRO )"
                 R"(01/01/2000 00:00:00 \* x\\t\\x00 method not found.*)")))
      << log.back();
  EXPECT_EQ(testes::LerArquivo(s.Pasta() + "log.2.txt"), "");
  EXPECT_EQ(testes::LerArquivo(s.Pasta() + "log.1.txt"), "execução anterior\r\n");

  // Past TamanhoMaximoLog the log rotates: log.1.txt ... log.5.txt, the oldest dropped.
  const std::string nome(2 * 1024, 'R');
  for (int i = 0; i < 100; ++i)
    ASSERT_EQ(s.Get("/tamrix/rest/TsmComum/" + nome + std::to_string(i)).Status, 500);
  std::uintmax_t total = 0;
  for (const std::string n :
       {"log.txt", "log.1.txt", "log.2.txt", "log.3.txt", "log.4.txt", "log.5.txt"}) {
    const std::string caminho = s.Pasta() + n;
    ASSERT_TRUE(std::filesystem::exists(caminho)) << n;
    EXPECT_LE(std::filesystem::file_size(caminho), kMaximo) << n;
    total += std::filesystem::file_size(caminho);
  }
  EXPECT_FALSE(std::filesystem::exists(s.Pasta() + "log.6.txt"));
  EXPECT_LE(total, 6 * kMaximo);
  const auto atual = s.Log();
  ASSERT_FALSE(atual.empty());
  EXPECT_NE(atual.back().find(nome.substr(0, 100)), std::string::npos);
  for (int n = 1; n <= 5; ++n)
    EXPECT_EQ(testes::LerArquivo(s.Pasta() + "log." + std::to_string(n) + ".txt")
                  .find("execução anterior"),
              std::string::npos);
}

}  // namespace
}  // namespace tamrix::e2e

#include "diagnostics/uLogServidor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/pastatemp.h"

namespace tamrix::diagnostics {
namespace {

using namespace std::string_literals;

using testes::LerArquivo;
using testes::TPastaTemp;

std::string Juntar(const std::vector<std::string>& linhas) {
  std::string r;
  for (const auto& l : linhas) r += l + "\r\n";
  return r;
}

// The lines of a file (CR LF removed).
std::vector<std::string> LinhasArquivo(const std::string& arq) {
  std::vector<std::string> r;
  std::istringstream in(LerArquivo(arq));
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    r.push_back(l);
  }
  return r;
}

TEST(LogServidor, PrimeiraLinhaDaExecucaoApagaAAnterior) {
  TPastaTemp tmp;
  const std::string arq = tmp.Gravar("log.txt", "linha velha 1\r\nlinha velha 2\r\n");
  TLogServidor log(arq);
  EXPECT_EQ(LerArquivo(arq), "linha velha 1\r\nlinha velha 2\r\n");  // untouched until Log
  EXPECT_TRUE(log.Linhas().empty());
  log.Log("nova", tlNormal);
  EXPECT_EQ(LerArquivo(arq), "nova\r\n");
  log.Log("outra", tlNormal);
  EXPECT_EQ(LerArquivo(arq), "nova\r\noutra\r\n");
  EXPECT_EQ(log.Linhas(), (std::vector<std::string>{"nova", "outra"}));

  log.LimparLog();
  EXPECT_EQ(LerArquivo(arq), "nova\r\noutra\r\n");  // only the next Log starts it afresh
  EXPECT_TRUE(log.Linhas().empty());
  log.Log("depois de limpar", tlNormal);
  EXPECT_EQ(LerArquivo(arq), "depois de limpar\r\n");
}

// One call, one line: whatever the text holds, it cannot start another line.
TEST(LogServidor, CadaChamadaUmaLinhaEscapadaELimitada) {
  TPastaTemp tmp;
  const std::string arq = tmp.Caminho("log.txt");
  TLogServidor log(arq);
  log.Log("Falha ão", tlErro);
  log.Log("", tlErro);
  log.Log("", tlNormal);
  log.Log("a\r\nb", tlNormal);
  log.Log("x\r\n* ERRO 01/01/2000 00:00:00 * forjado\n\0\t\x7f"s, tlErro);
  log.Log(std::string(100000, 'z'), tlErro);

  const auto linhas = log.Linhas();
  ASSERT_EQ(linhas.size(), 6u);
  const std::string data = R"(\* ERRO \d\d/\d\d/\d{4} \d\d:\d\d:\d\d \* )";
  EXPECT_TRUE(std::regex_match(linhas[0], std::regex(data + "Falha ão"))) << linhas[0];
  EXPECT_TRUE(std::regex_match(linhas[1], std::regex(data))) << linhas[1];  // ends with a blank
  EXPECT_EQ(linhas[2], "");
  EXPECT_EQ(linhas[3], "a\\r\\nb");
  EXPECT_TRUE(std::regex_match(
      linhas[4],
      std::regex(data + R"(x\\r\\n\* ERRO 01/01/2000 00:00:00 \* forjado\\n\\x00\\t\\x7f)")))
      << linhas[4];
  EXPECT_LE(linhas[5].size(), TLogServidor::kTamanhoMaximoLinha + 40);
  EXPECT_EQ(linhas[5].substr(linhas[5].size() - 5), "[...]");
  EXPECT_EQ(LerArquivo(arq), Juntar(linhas));
}

TEST(LogServidor, ArquivoInacessivelNaoLevantaEDepoisRecupera) {
  TPastaTemp tmp;
  TLogServidor log(tmp.Caminho("nao-existe/log.txt"));
  // Told once per failure streak; it may log itself (as the events writer does on error).
  std::vector<std::string> avisos;
  log.SetAoFalhar([&](const std::string& texto) {
    avisos.push_back(texto);
    log.Log("aviso registrado", tlNormal);
  });
  EXPECT_NO_THROW(log.Log("um", tlNormal));
  EXPECT_NO_THROW(log.Log("dois", tlErro));
  EXPECT_FALSE(log.ArquivoEmDia());
  EXPECT_EQ(log.LinhasGuardadas(), 3u);
  EXPECT_EQ(log.Linhas().size(), 3u);
  ASSERT_EQ(avisos.size(), 1u);
  EXPECT_EQ(avisos[0], tmp.Caminho("nao-existe/log.txt") +
                           ": não foi possível gravar o log (No such file or directory); a "
                           "linha fica guardada.");

  // The kept lines reach the next file that can be written, in order.
  const std::string arq = tmp.Caminho("log.txt");
  log.DefinirArquivo(arq);
  log.Log("tres", tlNormal);
  EXPECT_TRUE(log.ArquivoEmDia());
  EXPECT_EQ(log.LinhasGuardadas(), 0u);
  auto linhas = LinhasArquivo(arq);
  ASSERT_EQ(linhas.size(), 4u);
  EXPECT_EQ(linhas[0], "um");
  EXPECT_EQ(linhas[1], "aviso registrado");
  EXPECT_EQ(linhas[3], "tres");

  // A directory in the file's place cannot be written, not even by root.
  std::remove(arq.c_str());
  ASSERT_EQ(mkdir(arq.c_str(), 0755), 0);
  EXPECT_NO_THROW(log.Log("quatro", tlNormal));
  EXPECT_FALSE(log.ArquivoEmDia());
  EXPECT_EQ(avisos.size(), 2u);  // a new streak
  ASSERT_EQ(rmdir(arq.c_str()), 0);
  log.SetAoFalhar({});
  log.Log("cinco", tlNormal);
  EXPECT_TRUE(log.ArquivoEmDia());
  EXPECT_EQ(LinhasArquivo(arq), (std::vector<std::string>{"quatro", "aviso registrado", "cinco"}));
  EXPECT_EQ(log.Linhas(), LinhasArquivo(arq));
}

// While the file cannot be written the kept lines stay within their caps, the oldest going
// first; the file then gets one line saying how many were lost, and the rest in order.
TEST(LogServidor, LinhasGuardadasTemLimiteEAsPerdidasSaoContadas) {
  struct TCaso {
    const char* Nome;
    std::size_t Tamanho;  // of each line
    std::size_t Escritas;
    std::size_t Guardadas;  // expected
  };
  const std::size_t porBytes = TLogServidor::kMaximoBytesGuardados / (1000 + 2);
  for (const TCaso& c : {TCaso{"by count", 10, TLogServidor::kMaximoLinhasGuardadas + 50,
                               TLogServidor::kMaximoLinhasGuardadas},
                         TCaso{"by bytes", 1000, porBytes + 30, porBytes}}) {
    SCOPED_TRACE(c.Nome);
    TPastaTemp tmp;
    TLogServidor log(tmp.Caminho("nao-existe/log.txt"));
    const auto linha = [&](std::size_t i) {
      std::string s = std::to_string(i);
      return s + std::string(c.Tamanho - s.size(), '.');
    };
    for (std::size_t i = 0; i < c.Escritas; ++i) log.Log(linha(i), tlNormal);
    EXPECT_EQ(log.LinhasGuardadas(), c.Guardadas);

    const std::string arq = tmp.Caminho("log.txt");
    log.DefinirArquivo(arq);
    log.Log(linha(c.Escritas), tlNormal);
    const auto linhas = LinhasArquivo(arq);
    ASSERT_EQ(linhas.size(), c.Guardadas + 1);
    const std::size_t perdidas = c.Escritas + 1 - c.Guardadas;
    EXPECT_TRUE(std::regex_match(
        linhas[0],
        std::regex(R"(\* ERRO .* \* )" + std::to_string(perdidas) +
                   R"( linha\(s\) do log perdida\(s\) enquanto o arquivo não pôde ser gravado\.)")))
        << linhas[0];
    EXPECT_EQ(linhas[1], linha(perdidas));
    EXPECT_EQ(linhas.back(), linha(c.Escritas));
    log.Log("seguinte", tlNormal);  // told once
    EXPECT_EQ(LinhasArquivo(arq).size(), c.Guardadas + 2);
  }
}

// The object keeps no line once the file took it, however many were written.
TEST(LogServidor, CemMilLinhasNaoFicamNaMemoria) {
  TPastaTemp tmp;
  const std::string arq = tmp.Caminho("log.txt");
  TLogServidor log(arq);
  for (int i = 0; i < 100000; ++i) {
    log.Log("linha " + std::to_string(i), tlNormal);
    if (log.LinhasGuardadas() != 0) FAIL() << "line " << i << " kept";
  }
  const auto linhas = log.Linhas();  // read back from the file
  ASSERT_EQ(linhas.size(), 100000u);
  EXPECT_EQ(linhas.back(), "linha 99999");
}

TEST(LogServidor, NomesRotacionados) {
  EXPECT_EQ(TLogServidor::NomeRotacionado("/srv/tamrix/log.txt", 1), "/srv/tamrix/log.1.txt");
  EXPECT_EQ(TLogServidor::NomeRotacionado("log.txt", 5), "log.5.txt");
  EXPECT_EQ(TLogServidor::NomeRotacionado("/a.b/log", 2), "/a.b/log.2");
  EXPECT_EQ(TLogServidor::NomeRotacionado("/a/.log", 3), "/a/.log.3");
}

// At the size limit log.txt becomes log.1.txt, log.1 becomes log.2 ... up to log.5.txt; the
// oldest is dropped, every file stays within the limit and together they hold the newest
// lines, in order, none split.
TEST(LogServidor, RotacaoNoTamanhoMaximo) {
  TPastaTemp tmp;
  const std::string arq = tmp.Caminho("log.txt");
  // A previous run's rotated file is kept and shifted like the others.
  tmp.Gravar("log.1.txt", "execução anterior\r\n");
  tmp.Gravar("log.txt", "log.txt anterior\r\n");
  TLogServidor log(arq);
  constexpr std::uint64_t kMaximo = 1000;
  log.DefinirTamanhoMaximo(kMaximo);
  const auto linha = [](int i) {
    std::string s = "linha " + std::to_string(i);
    return s + std::string(98 - s.size(), '.');  // 100 bytes with CR LF
  };
  log.Log(linha(0), tlNormal);
  EXPECT_EQ(LerArquivo(arq), linha(0) + "\r\n");  // truncated, not rotated, at start
  for (int i = 1; i < 10; ++i) log.Log(linha(i), tlNormal);
  EXPECT_EQ(LerArquivo(arq).size(), kMaximo);  // exactly full: not rotated yet
  EXPECT_EQ(LerArquivo(tmp.Caminho("log.1.txt")), "execução anterior\r\n");
  log.Log(linha(10), tlNormal);
  EXPECT_EQ(LerArquivo(arq), linha(10) + "\r\n");
  EXPECT_EQ(LinhasArquivo(tmp.Caminho("log.1.txt")).front(), linha(0));
  EXPECT_EQ(LerArquivo(tmp.Caminho("log.2.txt")), "execução anterior\r\n");
  EXPECT_EQ(log.Linhas(), std::vector<std::string>{linha(10)});  // the current file's lines

  constexpr int kTotal = 200;
  for (int i = 11; i < kTotal; ++i) log.Log(linha(i), tlNormal);
  std::vector<std::string> todas;
  std::uintmax_t total = 0;
  for (int n = TLogServidor::kArquivosRotacionados; n >= 0; --n) {
    const std::string nome = n == 0 ? arq : TLogServidor::NomeRotacionado(arq, n);
    ASSERT_TRUE(std::filesystem::exists(nome)) << nome;
    const auto tamanho = std::filesystem::file_size(nome);
    EXPECT_LE(tamanho, kMaximo) << nome;
    total += tamanho;
    for (const auto& l : LinhasArquivo(nome)) todas.push_back(l);
  }
  EXPECT_FALSE(std::filesystem::exists(TLogServidor::NomeRotacionado(arq, 6)));
  EXPECT_LE(total, kMaximo * (TLogServidor::kArquivosRotacionados + 1));
  ASSERT_FALSE(todas.empty());
  EXPECT_EQ(todas.back(), linha(kTotal - 1));
  const int primeira = kTotal - static_cast<int>(todas.size());
  EXPECT_GE(todas.size(), 50u);
  for (std::size_t i = 0; i < todas.size(); ++i)
    EXPECT_EQ(todas[i], linha(primeira + static_cast<int>(i)));

  // 0 switches rotation off.
  log.DefinirTamanhoMaximo(0);
  for (int i = 0; i < 20; ++i) log.Log(linha(i), tlNormal);
  EXPECT_GT(std::filesystem::file_size(arq), kMaximo);
}

TEST(LogServidor, ArquivoMexidoPorForaRecebeAsLinhasSeguintes) {
  TPastaTemp tmp;
  const std::string arq = tmp.Caminho("log.txt");
  TLogServidor log(arq);
  log.Log("um", tlNormal);
  tmp.Gravar("log.txt", "lixo de outro programa\r\n");
  log.Log("dois", tlNormal);
  EXPECT_EQ(LerArquivo(arq), "lixo de outro programa\r\ndois\r\n");
  std::remove(arq.c_str());
  log.Log("tres", tlNormal);
  EXPECT_EQ(LerArquivo(arq), "tres\r\n");
  EXPECT_TRUE(log.ArquivoEmDia());
}

TEST(LogServidor, OitoThreadsMilLinhasCada) {
  TPastaTemp tmp;
  const std::string arq = tmp.Caminho("log.txt");
  TLogServidor log(arq);
  log.DefinirTamanhoMaximo(64 * 1024);  // rotating meanwhile
  constexpr int kThreads = 8, kLinhas = 1000;
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; ++t) {
    ts.emplace_back([&log, t] {
      for (int i = 0; i < kLinhas; ++i) {
        log.Log("t" + std::to_string(t) + " l" + std::to_string(i), i % 2 ? tlErro : tlNormal);
      }
    });
  }
  for (auto& t : ts) t.join();

  std::vector<std::string> linhas;
  for (int n = TLogServidor::kArquivosRotacionados; n >= 0; --n)
    for (const auto& l : LinhasArquivo(n == 0 ? arq : TLogServidor::NomeRotacionado(arq, n)))
      linhas.push_back(l);
  ASSERT_EQ(linhas.size(), static_cast<std::size_t>(kThreads * kLinhas));
  std::set<std::string> vistos;
  for (const auto& l : linhas) {
    const auto p = l.rfind(" t");
    vistos.insert(l.rfind("* ERRO", 0) == 0 ? l.substr(p + 1) : l);
  }
  EXPECT_EQ(vistos.size(), linhas.size());  // each line present exactly once
}

TEST(LogServidor, SingletonELiberacao) {
  TPastaTemp tmp;
  TLogServidorSingleton::ReleaseInstance();  // empty holder: nothing happens
  EXPECT_FALSE(TLogServidorSingleton::HasInstance());

  TLogServidorSingleton::GetInstance().DefinirArquivo(tmp.Caminho("log.txt"));
  GravarLog("pelo procedimento", tlNormal);
  EXPECT_EQ(LerArquivo(tmp.Caminho("log.txt")), "pelo procedimento\r\n");

  TLogServidorSingleton::ReleaseInstance();
  TLogServidor& novo = TLogServidorSingleton::GetInstance();
  EXPECT_TRUE(novo.Linhas().empty());
  EXPECT_NE(novo.Arquivo(), tmp.Caminho("log.txt"));  // back to the executable's directory
  TLogServidorSingleton::ReleaseInstance();
}

}  // namespace
}  // namespace tamrix::diagnostics

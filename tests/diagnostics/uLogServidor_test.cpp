#include "diagnostics/uLogServidor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/pastatemp.h"

namespace tamrix::diagnostics {
namespace {

using testes::LerArquivo;
using testes::TPastaTemp;

std::string Juntar(const std::vector<std::string>& linhas) {
  std::string r;
  for (const auto& l : linhas) r += l + "\r\n";
  return r;
}

TEST(LogServidor, PrimeiraLinhaDaExecucaoApagaAAnterior) {
  TPastaTemp tmp;
  const std::string arq = tmp.Gravar("log.txt", "linha velha 1\r\nlinha velha 2\r\n");
  TLogServidor log(arq);
  EXPECT_EQ(LerArquivo(arq), "linha velha 1\r\nlinha velha 2\r\n");  // untouched until Log
  log.Log("nova", tlNormal);
  EXPECT_EQ(LerArquivo(arq), "nova\r\n");
  log.Log("outra", tlNormal);
  EXPECT_EQ(LerArquivo(arq), "nova\r\noutra\r\n");

  log.LimparLog();
  EXPECT_EQ(LerArquivo(arq), "nova\r\noutra\r\n");  // only the next Log rewrites
  log.Log("depois de limpar", tlNormal);
  EXPECT_EQ(LerArquivo(arq), "depois de limpar\r\n");
}

TEST(LogServidor, FormatoDasLinhas) {
  TPastaTemp tmp;
  const std::string arq = tmp.Caminho("log.txt");
  TLogServidor log(arq);
  log.Log("Falha ão", tlErro);
  log.Log("", tlErro);
  log.Log("", tlNormal);
  log.Log("a\r\nb", tlNormal);

  const auto linhas = log.Linhas();
  ASSERT_EQ(linhas.size(), 4u);
  const std::regex erro(R"(\* ERRO \d\d/\d\d/\d{4} \d\d:\d\d:\d\d \* )");
  EXPECT_TRUE(std::regex_match(linhas[0],
                               std::regex(R"(\* ERRO \d\d/\d\d/\d{4} \d\d:\d\d:\d\d \* Falha ão)")))
      << linhas[0];
  EXPECT_TRUE(std::regex_match(linhas[1], erro)) << linhas[1];  // ends with a blank
  EXPECT_EQ(linhas[2], "");
  EXPECT_EQ(LerArquivo(arq), Juntar(linhas));
  EXPECT_NE(LerArquivo(arq).find("\r\n\r\na\r\nb\r\n"), std::string::npos);
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
  EXPECT_EQ(log.Linhas().size(), 3u);
  ASSERT_EQ(avisos.size(), 1u);
  EXPECT_EQ(avisos[0], tmp.Caminho("nao-existe/log.txt") +
                           ": não foi possível gravar o log (No such file or directory); a "
                           "linha fica guardada.");

  const std::string arq = tmp.Caminho("log.txt");
  log.DefinirArquivo(arq);
  log.Log("tres", tlNormal);
  EXPECT_TRUE(log.ArquivoEmDia());
  EXPECT_EQ(LerArquivo(arq), Juntar(log.Linhas()));

  // A directory in the file's place cannot be written, not even by root.
  std::remove(arq.c_str());
  ASSERT_EQ(mkdir(arq.c_str(), 0755), 0);
  EXPECT_NO_THROW(log.Log("quatro", tlNormal));
  EXPECT_FALSE(log.ArquivoEmDia());
  EXPECT_EQ(avisos.size(), 2u);  // a new streak
  ASSERT_EQ(rmdir(arq.c_str()), 0);
  log.SetAoFalhar({});
  log.Log("cinco", tlNormal);
  EXPECT_EQ(log.Linhas().size(), 7u);
  EXPECT_EQ(LerArquivo(arq), Juntar(log.Linhas()));
}

TEST(LogServidor, ArquivoMexidoPorForaVoltaAIgualALista) {
  TPastaTemp tmp;
  const std::string arq = tmp.Caminho("log.txt");
  TLogServidor log(arq);
  log.Log("um", tlNormal);
  tmp.Gravar("log.txt", "lixo de outro programa\r\n");
  log.Log("dois", tlNormal);
  EXPECT_EQ(LerArquivo(arq), "um\r\ndois\r\n");
  std::remove(arq.c_str());
  log.Log("tres", tlNormal);
  EXPECT_EQ(LerArquivo(arq), "um\r\ndois\r\ntres\r\n");
}

TEST(LogServidor, OitoThreadsMilLinhasCada) {
  TPastaTemp tmp;
  const std::string arq = tmp.Caminho("log.txt");
  TLogServidor log(arq);
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

  const auto linhas = log.Linhas();
  ASSERT_EQ(linhas.size(), static_cast<std::size_t>(kThreads * kLinhas));
  std::set<std::string> vistos;
  for (const auto& l : linhas) {
    const auto p = l.rfind(" t");
    vistos.insert(l.rfind("* ERRO", 0) == 0 ? l.substr(p + 1) : l);
  }
  EXPECT_EQ(vistos.size(), linhas.size());  // each line present exactly once
  EXPECT_EQ(LerArquivo(arq), Juntar(linhas));
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

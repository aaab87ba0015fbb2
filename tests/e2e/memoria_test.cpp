// Memory one big request costs the real server: its peak resident size while it reads,
// handles and answers the request may grow by at most twice the body and the answer together,
// plus 16 MiB. One request per fresh server process, as the kernel's peak is per process.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "e2e/e2e_servidor.h"
#include "e2e/integracao_e2e.h"
#include "rest/uJSONWriter.h"

namespace tamrix::e2e {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

// A field of /proc/<pid>/status in bytes ("VmRSS", "VmHWM"); 0 when it cannot be read.
std::size_t Memoria(pid_t pid, const std::string& campo) {
  return static_cast<std::size_t>(std::max(MemoriaKiB(pid, campo), 0L)) * 1024;
}

// Measures the growth of the server's peak over its resident size of now, across pedir().
// The peak is reset first (clear_refs), so what start-up and the warm-up took does not count.
// The figure is also recorded as the test property "crescimento_KiB_<nome>".
template <class F>
std::size_t Crescimento(pid_t pid, const std::string& nome, F pedir) {
  std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5";
  const std::size_t antes = Memoria(pid, "VmRSS");
  pedir();
  const std::size_t pico = Memoria(pid, "VmHWM");
  EXPECT_GT(antes, 0u);
  const std::size_t crescimento = pico > antes ? pico - antes : 0;
  ::testing::Test::RecordProperty("crescimento_KiB_" + nome, std::to_string(crescimento / 1024));
  return crescimento;
}

std::size_t Limite(std::size_t corpo, std::size_t resposta) {
  return 2 * (corpo + resposta) + 16 * kMiB;
}

// Whole text lines ended by CR LF (the file as stored), with what the answer has to escape:
// 8-bit bytes, quotes, slashes, TAB.
std::string TextoComAcentos(std::size_t tamanho) {
  const std::string linha =
      "Venda \"12\" de a\xE7\xFA"
      "car/caf\xE9 \\ total 1.234,56 \t 0123456789 ABCDEFGHIJKLMNOP\r\n";
  std::string t;
  t.reserve(tamanho);
  while (t.size() + linha.size() <= tamanho) t += linha;
  return t;
}

// Bytes of every value, lone CR and LF among them: most of the answer is \u00XX escapes.
std::string BytesQuaisquer(std::size_t tamanho) {
  std::string t(tamanho, '\0');
  for (std::size_t i = 0; i < tamanho; ++i) t[i] = static_cast<char>((i * 7919) >> 3);
  return t;
}

TEST(MemoriaE2E, UploadFileOf60MiBEchoedBack) {
  if (!kMemoriaComparavel) GTEST_SKIP() << "memory is not measured under AddressSanitizer";
  TAMRIX_REQUIRE_DIST();
  const struct {
    const char* Nome;
    std::string (*Arquivo)(std::size_t);
  } casos[] = {{"texto", TextoComAcentos}, {"bytes", BytesQuaisquer}};
  for (const auto& c : casos) {
    SCOPED_TRACE(c.Nome);
    // 60 MiB of body: the Base64 of 45 MiB.
    const std::string arquivo = c.Arquivo(45 * kMiB - 16);
    const std::string corpo = upload::Corpo(arquivo);
    ASSERT_LE(corpo.size(), 60 * kMiB);
    std::string esperado;  // the file lines with CR LF, as the answer carries them
    for (std::size_t i = 0; i < arquivo.size(); ++i) {
      const char b = arquivo[i];
      if (b == '\r' || b == '\n') {
        esperado += "\r\n";
        if (b == '\r' && i + 1 < arquivo.size() && arquivo[i + 1] == '\n') ++i;
      } else {
        esperado += b;
      }
    }
    if (!esperado.ends_with("\r\n")) esperado += "\r\n";
    std::string resposta = R"({"result":["#Sucesso#)";
    rest::EscreverBytesJSON(resposta, esperado);
    resposta += "\"]}";

    TServidorE2E s;
    ASSERT_TRUE(s.Iniciar()) << s.Erros();
    // The first call sets up what every call shares (threads, session table, connections).
    ASSERT_EQ(
        Pedir(s.Porta(), "POST", "/tamrix/rest/TsmComum/UploadFile/a/b/c", "", R"({"a":"QQ=="})")
            .Status,
        200);
    TRespostaHTTP r;
    const std::size_t crescimento = Crescimento(s.Pid(), c.Nome, [&] {
      r = Pedir(s.Porta(), "POST", "/tamrix/rest/TsmComum/UploadFile/a/b/c", "", corpo);
    });
    ASSERT_EQ(r.Status, 200) << r.Body.substr(0, 200);
    EXPECT_TRUE(r.Body == resposta)
        << "answer of " << r.Body.size() << " bytes, expected " << resposta.size();
    EXPECT_LE(crescimento, Limite(corpo.size(), r.Body.size()))
        << "body " << corpo.size() / kMiB << " MiB, answer " << r.Body.size() / kMiB
        << " MiB, growth " << crescimento / kMiB << " MiB";
    // The stored file is the text with its lines ended by CR LF.
    std::size_t maior = 0;
    for (const auto& e : std::filesystem::directory_iterator(s.Pasta()))
      if (e.path().extension() == ".txt" && e.path().filename().string().front() == '2')
        maior = std::max<std::size_t>(maior, e.file_size());
    EXPECT_EQ(maior, esperado.size());
  }
}

using MemoriaVendasE2E = upload::TUploadE2E;

TEST_F(MemoriaVendasE2E, SalesFileOfThreeMillionOneCharacterLines) {
  if (!kMemoriaComparavel) GTEST_SKIP() << "memory is not measured under AddressSanitizer";
  // Decoded, split into lines and searched for the company; without it, nothing is stored.
  std::string arquivo;
  for (int i = 0; i < 3'000'000; ++i) arquivo += "a\r\n";
  const std::string corpo = upload::Corpo(arquivo);
  ASSERT_EQ(EnviarArquivo("AQUECER.TXT", "a\r\nb\r\n").Codigo, 10);

  upload::TRespostaUpload r;
  const std::size_t crescimento = Crescimento(
      Servidor().Pid(), "vendas", [&] { r = Enviar(upload::kCnpj, "2016-10-09", "V.TXT", corpo); });
  ASSERT_EQ(r.Status, 201) << r.Body;
  EXPECT_EQ(r.Codigo, 10);
  EXPECT_LE(crescimento, Limite(corpo.size(), r.Body.size()))
      << "body " << corpo.size() / kMiB << " MiB, growth " << crescimento / kMiB << " MiB";
}

}  // namespace
}  // namespace tamrix::e2e

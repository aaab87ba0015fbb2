// Trimming, case-folded compare, UTF-16, date-time text, executable directory, station
// name and the message-box seam.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "util/uAparar.h"
#include "util/uCaixaTexto.h"
#include "util/uDataHora.h"
#include "util/uMensagem.h"
#include "util/uSistema.h"
#include "util/uUTF16.h"

namespace tamrix::util {
namespace {

TEST(Aparar, CortaCodigosAte32) {
  EXPECT_EQ(Aparar("\x01 \t a b \r\n\x1f"), "a b");
  EXPECT_EQ(Aparar(" ação "), "ação");  // UTF-8 bytes are all above 127
  EXPECT_EQ(Aparar(""), "");
  EXPECT_TRUE(EstaVazio(" \t\r\n  \n"));
  EXPECT_TRUE(EstaVazio(""));
  EXPECT_FALSE(EstaVazio("  x "));
}

TEST(CaixaTexto, DobraSoLetrasASCII) {
  EXPECT_TRUE(TextoIgualSemCaixa("Servidor", "sERVIDOR"));
  EXPECT_FALSE(TextoIgualSemCaixa("Servidor", "Servido"));
  EXPECT_FALSE(TextoIgualSemCaixa("AÇÃO", "ação"));  // accented letters must match exactly
  EXPECT_LT(CompararSemCaixa("abc", "ABD"), 0);
  EXPECT_GT(CompararSemCaixa("abcd", "ABC"), 0);
  EXPECT_EQ(MinusculasASCII("The Allowed RANGE É"), "the allowed range É");
  EXPECT_EQ(MaiusculasASCII("get ç"), "GET ç");
}

TEST(UTF16, IdaEVolta) {
  const std::string texto = "Açúcar € \xF0\x9F\x98\x80";  // 2-, 3- and 4-byte sequences
  const std::u16string u = ConverterParaUTF16(texto);
  EXPECT_EQ(u.size(), 11u);  // the emoji takes two units
  EXPECT_EQ(ConverterParaUTF8(u), texto);
  // Bad bytes: lone continuation, truncated lead, overlong, encoded surrogate.
  EXPECT_EQ(ConverterParaUTF16("a\x80"
                               "b\xC3"),
            u"a\uFFFDb\uFFFD");
  EXPECT_EQ(ConverterParaUTF16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(ConverterParaUTF16("\xED\xA0\x80").front(), u'\uFFFD');
  EXPECT_EQ(ConverterParaUTF8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(DataHora, PadroesEmHoraLocal) {
  const char* tz = std::getenv("TZ");
  const std::string tzSalvo = tz != nullptr ? tz : "";
  setenv("TZ", "America/Sao_Paulo", 1);
  tzset();
  // 2016-12-08 14:05:09.042 UTC is 12:05:09 in São Paulo (UTC-2 in that summer time).
  const auto momento =
      std::chrono::system_clock::from_time_t(1481205909) + std::chrono::milliseconds(42);
  const std::string normal = FormatarDataHora(kPadraoDataHora, momento);
  const std::string arquivo = FormatarDataHora("yyyy-MM-dd hhnnss.zzz", momento);
  if (tz != nullptr) {
    setenv("TZ", tzSalvo.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  if (normal.find("14:05:09") != std::string::npos) GTEST_SKIP() << "no time-zone data";
  EXPECT_EQ(normal, "08/12/2016 12:05:09");
  EXPECT_EQ(arquivo, "2016-12-08 120509.042");
}

TEST(PastaExecutavel, IndependeDaPastaAtual) {
  const std::string antes = PastaExecutavel();
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path("/");
  const std::string depois = PastaExecutavel();
  std::filesystem::current_path(cwd);
  EXPECT_EQ(antes, depois);
  ASSERT_FALSE(antes.empty());
  EXPECT_EQ(antes.back(), '/');
  const auto esperado = std::filesystem::canonical(TAMRIX_BINARY_DIR "/tests/util").string() + "/";
  EXPECT_EQ(antes, esperado);
}

TEST(PegarNomeEstacao, NomeDoHost) {
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  EXPECT_EQ(PegarNomeEstacao(), std::string(host));
}

TEST(MostrarMensagem, SemJanelaNadaAparece) {
  DefinirJanelaPrincipal({});
  EXPECT_FALSE(TemJanelaPrincipal());
  EXPECT_NO_THROW(MostrarMensagem("nada", false));
  EXPECT_THROW(MostrarMensagem("nada", true), EAbort);

  std::string mostrado;
  DefinirJanelaPrincipal([&mostrado](const std::string& t) { mostrado += t + ";"; });
  EXPECT_TRUE(TemJanelaPrincipal());
  MostrarMensagem("Atenção 1", false);
  EXPECT_THROW(MostrarMensagem("Atenção 2", true), EAbort);  // shown, then aborted
  EXPECT_EQ(mostrado, "Atenção 1;Atenção 2;");
  DefinirJanelaPrincipal({});
  EXPECT_FALSE(TemJanelaPrincipal());
}

}  // namespace
}  // namespace tamrix::util

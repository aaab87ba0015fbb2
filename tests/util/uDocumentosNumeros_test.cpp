// CNPJ, Base64 and the lenient number conversions.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "util/uBase64.h"
#include "util/uCnpj.h"
#include "util/uConversaoNumero.h"

namespace tamrix::util {
namespace {

TEST(ValidarCnpj, Casos) {
  const struct {
    const char* texto;
    bool valido;
  } casos[] = {
      {"11.222.333/0001-81", true},
      {"11222333000181", true},
      {"1 1 2 2 2 3 3 3 0 0 0 1 8 1", true},
      {" \t11222333000181\r\n", true},
      {"11222333000182", false},   // wrong second digit
      {"11222333000171", false},   // wrong first digit
      {"00000000000000", false},   // base not above zero
      {"112223330001810", false},  // a 15th character
      {"", false},
      {"1122233300018", false},   // 13 characters
      {"1122233300A181", false},  // base not a number
      // Numbers that are not twelve digits: sign and exponent would pass a number test.
      {"000000001E1063", false},
      {"+12223330001", false},
  };
  for (const auto& c : casos) EXPECT_EQ(ValidarCnpj(c.texto), c.valido) << c.texto;
}

TEST(Base64, CodificarQuebraLinhas) {
  EXPECT_EQ(CodificarBase64(""), "");
  EXPECT_EQ(CodificarBase64("abc"), "YWJj");
  EXPECT_EQ(CodificarBase64("a"), "YQ==");
  EXPECT_EQ(CodificarBase64("ab"), "YWI=");

  const std::string b57(57, 'x'), b58(58, 'x'), b114(114, 'x');
  const std::string e57 = CodificarBase64(b57);
  EXPECT_EQ(e57.size(), 76u);
  EXPECT_EQ(e57.find('\r'), std::string::npos);
  const std::string e58 = CodificarBase64(b58);
  ASSERT_EQ(e58.size(), 82u);
  EXPECT_EQ(e58.substr(0, 76), e57);
  EXPECT_EQ(e58.substr(76, 2), "\r\n");
  EXPECT_EQ(e58.substr(80), "==");
  const std::string e114 = CodificarBase64(b114);
  EXPECT_EQ(e114, e57 + "\r\n" + e57);

  // Length formula and round trip over every length up to four lines, all byte values.
  for (std::size_t n = 1; n <= 240; ++n) {
    std::string bytes;
    for (std::size_t i = 0; i < n; ++i) bytes += static_cast<char>((i * 37 + n) & 0xFF);
    const std::string e = CodificarBase64(bytes);
    EXPECT_EQ(e.size(), 4 * ((n + 2) / 3) + 2 * ((n - 1) / 57)) << n;
    EXPECT_EQ(DecodificarBase64(e), bytes) << n;
  }
}

TEST(Base64, DecodificarPulaForaDoAlfabeto) {
  EXPECT_EQ(DecodificarBase64("YW Jj\r\n"), "abc");
  EXPECT_EQ(DecodificarBase64("YQ"), "a");
  EXPECT_EQ(DecodificarBase64("Y"), "");
  EXPECT_EQ(DecodificarBase64(""), "");
  EXPECT_EQ(DecodificarBase64("YQ==YQ=="), DecodificarBase64("YQYQ"));
  EXPECT_EQ(DecodificarBase64("YQYQ").size(), 3u);
  EXPECT_EQ(DecodificarBase64("\xC3\xA9YWJj\xFF"), "abc");
}

TEST(TextoParaInteiro, Casos) {
  const struct {
    const char* texto;
    int valor;
  } casos[] = {
      {"", 0},
      {"abc", 0},
      {"12abc", 0},
      {"-5", -5},
      {"+7", 7},
      {" 42 ", 42},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", 0},
      {"+-5", 0},
      {"-", 0},
      {"1.0", 0},
      {"0x10", 0},
  };
  for (const auto& c : casos) EXPECT_EQ(TextoParaInteiro(c.texto), c.valor) << c.texto;
}

TEST(TextoParaFloat, Casos) {
  const struct {
    const char* texto;
    const char* separador;
    double valor;
  } casos[] = {
      {"1,5", ",", 1.5}, {"-1,25E2", ",", -125},
      {"1.5", ",", 0},   {"1.000,5", ",", 0},
      {"1.5", ".", 1.5}, {" 3 ", ".", 3},
      {".5", ".", 0.5},  {"-.5", ".", -0.5},
      {"2.", ".", 2},    {"1e3", ".", 1000},
      {"1e", ".", 0},    {"e3", ".", 0},
      {"abc", ".", 0},   {"inf", ".", 0},
      {"nan", ".", 0},   {"0x1p3", ".", 0},
      {"1e999", ".", 0}, {"", ".", 0},
      {".", ".", 0},     {"112223330001", ".", 112223330001.0},
  };
  for (const auto& c : casos) {
    EXPECT_DOUBLE_EQ(TextoParaFloat(c.texto, c.separador), c.valor) << c.texto;
  }
  EXPECT_DOUBLE_EQ(TextoParaFloat("2.5"), 2.5);  // C locale of the test process
}

TEST(TextoParaFloat, SeparadorDaLocale) {
  const char* antes = std::setlocale(LC_NUMERIC, nullptr);
  const std::string salvo = antes != nullptr ? antes : "C";
  if (std::setlocale(LC_NUMERIC, "pt_BR.UTF-8") == nullptr) {
    GTEST_SKIP() << "locale pt_BR.UTF-8 not installed";
  }
  const double v = TextoParaFloat("1,5");
  std::setlocale(LC_NUMERIC, salvo.c_str());
  EXPECT_DOUBLE_EQ(v, 1.5);
}

}  // namespace
}  // namespace tamrix::util

#include "config/uEmbaralharTexto.h"

#include <gtest/gtest.h>

#include <string>

#include "util/uBase64.h"

namespace tamrix::config {
namespace {

std::string IdaEVolta(const std::string& s) {
  return EmbaralharTexto(EmbaralharTexto(s, true), false);
}

// Position (1-based) whose key character is a digit: 4 to 7 of every 7.
bool ChaveDigito(int pos) {
  return (pos - 1) % 7 >= 3;
}
int CodigoChave(int pos) {
  return std::string("QXW5813")[(pos - 1) % 7];
}

TEST(EmbaralharTexto, VazioEFormaGuardada) {
  EXPECT_EQ(EmbaralharTexto("", true), "");
  EXPECT_EQ(EmbaralharTexto("", false), "");
  // Every key character once, the eighth position with the first again.
  EXPECT_EQ(EmbaralharTexto("AAAAAAAA", true), "U1pZNzozNVM=");
  EXPECT_EQ(EmbaralharTexto("U1pZNzozNVM=", false), "AAAAAAAA");
}

TEST(EmbaralharTexto, IdaEVoltaPorPosicao) {
  for (int pos = 1; pos <= 14; ++pos) {
    const std::string antes(pos - 1, 'X');
    for (int c = 32; c <= 126; ++c) {
      const std::string texto = antes + static_cast<char>(c);
      const bool maiuscula = c >= 'A' && c <= 'Z', digito = c >= '0' && c <= '9';
      const bool minuscula = c >= 'a' && c <= 'z';
      std::string esperado = texto;
      // Printable 33..95-k at a digit-key position comes back one code lower.
      if (ChaveDigito(pos) && c >= 33 && c < 96 - CodigoChave(pos)) {
        esperado.back() = static_cast<char>(c - 1);
      }
      if (maiuscula || digito || c == ' ' || minuscula) {
        EXPECT_EQ(esperado, texto) << "pos " << pos << " char " << c;  // claimed unchanged
      }
      EXPECT_EQ(IdaEVolta(texto), esperado) << "pos " << pos << " char " << c;
    }
  }
}

TEST(EmbaralharTexto, AcentosEAlemDe255) {
  EXPECT_EQ(IdaEVolta("ção"), "ção");  // 231 + 81 - 63 = 249 still fits a byte
  // A shifted code above 255 has no byte: stored as "?".
  EXPECT_EQ(util::DecodificarBase64(EmbaralharTexto("€", true)), "?");
}

TEST(EmbaralharTexto, QuebrasEBrancosNaoImportamAoDesembaralhar) {
  const std::string claro(70, 'S');  // more than 57 characters: two lines
  const std::string guardado = EmbaralharTexto(claro, true);
  ASSERT_NE(guardado.find("\r\n"), std::string::npos);
  EXPECT_EQ(guardado.find("\r\n"), 76u);
  EXPECT_EQ(EmbaralharTexto(guardado, false), claro);

  std::string semQuebras, comBrancos;
  for (char c : guardado) {
    if (c != '\r' && c != '\n') semQuebras += c;
  }
  for (std::size_t i = 0; i < semQuebras.size(); ++i) {
    comBrancos += semQuebras[i];
    if (i % 5 == 0) comBrancos += ' ';
  }
  EXPECT_EQ(EmbaralharTexto(semQuebras, false), claro);
  EXPECT_EQ(EmbaralharTexto(comBrancos, false), claro);
}

}  // namespace
}  // namespace tamrix::config

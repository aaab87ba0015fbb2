#include "diagnostics/uTextoLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamrix::diagnostics {
namespace {

using namespace std::string_literals;

TEST(TextoLog, EscapesControlBytesAndBrokenUtf8) {
  struct TCaso {
    std::string Entrada, Saida;
  };
  const std::vector<TCaso> casos = {
      {"TsmComum.InverterString", "TsmComum.InverterString"},
      {"a\r\n* ERRO 01/01/2000 00:00:00 * forjado", "a\\r\\n* ERRO 01/01/2000 00:00:00 * forjado"},
      {"\t", "\\t"},
      {"a\0b"s, "a\\x00b"},
      {"\x1b[31m", "\\x1b[31m"},
      {"\x7f", "\\x7f"},
      {"\x0b\x0c\x1f", "\\x0b\\x0c\\x1f"},
      {"ação €  😀", "ação €  😀"},  // 2-, 3- and 4-byte characters stay
      {"\xff", "\\xff"},
      {"fim cortado \xc3", "fim cortado \\xc3"},
      {"\xc0\xaf", "\\xc0\\xaf"},                    // overlong '/'
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // a surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // past U+10FFFF
      {"\xe2\x82", "\\xe2\\x82"},                    // cut inside a character
      {"C:\\pasta\\r", "C:\\pasta\\r"},              // a backslash stays
      // Characters other readers take for a line break or a reversal of the line.
      {"a\xc2\x85* ERRO", "a\\u{0085}* ERRO"},
      {"\xe2\x80\xa8\xe2\x80\xa9", "\\u{2028}\\u{2029}"},
      {"x\xe2\x80\xaey", "x\\u{202e}y"},
      {"\xe2\x81\xa6", "\\u{2066}"},
  };
  for (const auto& c : casos) {
    EXPECT_EQ(EscaparControles(c.Entrada), c.Saida) << c.Entrada;
    EXPECT_EQ(EscaparControles(c.Saida), c.Saida) << "escaping twice changes nothing";
    EXPECT_EQ(TextoChamador(c.Entrada), c.Saida) << "short texts are not cut";
  }
}

// Whether s is a run of whole units u (then the mark).
bool RepeticaoCortada(const std::string& s, const std::string& u, std::size_t limite) {
  if (s.size() > limite || s.size() < kMarcaCorte.size() ||
      s.substr(s.size() - kMarcaCorte.size()) != kMarcaCorte)
    return false;
  const std::string corpo = s.substr(0, s.size() - kMarcaCorte.size());
  if (corpo.size() % u.size() != 0 || corpo.size() + u.size() + kMarcaCorte.size() <= limite)
    return false;  // split a unit, or cut more than needed
  for (std::size_t i = 0; i < corpo.size(); i += u.size())
    if (corpo.compare(i, u.size(), u) != 0) return false;
  return true;
}

TEST(TextoLog, CutsAtCharacterAndEscapeBoundariesWithinTheLimit) {
  struct TCaso {
    std::string Unidade, Escapada;
  };
  // Each unit repeated 12 KB worth: the result is whole units, then the mark, within 512.
  for (const TCaso& c : std::vector<TCaso>{{"x", "x"},
                                           {"é", "é"},
                                           {"€", "€"},
                                           {"😀", "😀"},
                                           {"\r", "\\r"},
                                           {"\x01", "\\x01"},
                                           {"\xff", "\\xff"}}) {
    std::string entrada;
    while (entrada.size() < 12 * 1024) entrada += c.Unidade;
    const std::string r = TextoChamador(entrada);
    EXPECT_TRUE(RepeticaoCortada(r, c.Escapada, kTamanhoTextoChamador)) << r.size() << " " << r;
    EXPECT_TRUE(RepeticaoCortada(TextoChamador(entrada, 37), c.Escapada, 37))
        << TextoChamador(entrada, 37);
  }
  // Exactly at the limit is whole; one byte more is cut.
  EXPECT_EQ(TextoChamador(std::string(512, 'y')), std::string(512, 'y'));
  EXPECT_EQ(TextoChamador(std::string(513, 'y')), std::string(507, 'y') + "[...]");
  // A limit below the mark's size still holds.
  EXPECT_EQ(TextoChamador("abcdef", 3), "[..");
}

}  // namespace
}  // namespace tamrix::diagnostics

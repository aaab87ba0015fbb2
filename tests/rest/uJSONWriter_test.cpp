#include "rest/uJSONWriter.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include "rest/uUTF8.h"

namespace tamrix::rest {
namespace {

std::string Texto(std::string_view s) {
  std::string out;
  EscreverTextoJSON(out, s);
  return out;
}

TEST(EscreverTextoJSON, EscapesEverythingOutsidePrintableAscii) {
  struct Caso {
    std::string_view entrada, saida;
  } casos[] = {
      {"abc", R"("abc")"},
      {"a/b", R"("a\/b")"},
      {"\"\\", R"("\"\\")"},
      {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {std::string_view("\x00\x01\x1f\x7f", 4), R"("\u0000\u0001\u001F\u007F")"},
      {"ação", R"("a\u00E7\u00E3o")"},
      {"€", R"("\u20AC")"},
      {"\xF0\x9F\x98\x80", R"("\uD83D\uDE00")"},  // above U+FFFF: two UTF-16 units
      {"a\xFF"
       "b",
       R"("a\uFFFDb")"},                            // not UTF-8
      {"\xC3", R"("\uFFFD")"},                      // truncated sequence
      {"\xC0\xAF", R"("\uFFFD\uFFFD")"},            // overlong '/'
      {"\xED\xA0\x80", R"("\uFFFD\uFFFD\uFFFD")"},  // encoded surrogate
  };
  for (const auto& c : casos) EXPECT_EQ(Texto(c.entrada), c.saida) << c.saida;
}

TEST(EscreverBytesJSON, EachByteIsTheCharacterOfItsCode) {
  // Every byte value, against the text writer fed their UTF-8 form.
  std::string bytes, utf8;
  for (int b = 0; b < 256; ++b) {
    bytes += static_cast<char>(b);
    if (b < 0x80) {
      utf8 += static_cast<char>(b);
    } else {
      utf8 += static_cast<char>(0xC0 | (b >> 6));
      utf8 += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  std::string out = "x";
  EscreverBytesJSON(out, bytes);
  EXPECT_EQ('"' + out.substr(1) + '"', Texto(utf8));
  EXPECT_EQ(TamanhoBytesJSON(bytes), out.size() - 1);
  EXPECT_EQ(TamanhoBytesJSON(""), 0u);
}

TEST(EscreverValorJSON, KeepsPairOrderAndWritesNoWhiteSpace) {
  auto v = boost::json::parse(R"( { "z" : [1, -2, 1.5, true, null], "a" : {"x/y":"é"} } )");
  EXPECT_EQ(ValorParaJSON(v), R"({"z":[1,-2,1.5,true,null],"a":{"x\/y":"\u00E9"}})");
  EXPECT_EQ(ValorParaJSON(boost::json::value(18446744073709551615ULL)), "18446744073709551615");
  EXPECT_EQ(ValorParaJSON(boost::json::value(1e300 * 1e300)), "null");
}

TEST(UTF8, CountsUtf16Units) {
  EXPECT_EQ(ContarUnidadesUTF16("abc"), 3u);
  EXPECT_EQ(ContarUnidadesUTF16("ç€"), 2u);
  EXPECT_EQ(ContarUnidadesUTF16("\xF0\x9F\x98\x80"), 2u);
  EXPECT_EQ(UTF8Valido("a\xF0\x9F\x98\x80\xFF"), "a\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

}  // namespace
}  // namespace tamrix::rest

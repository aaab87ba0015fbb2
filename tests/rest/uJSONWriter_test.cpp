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

// The wire text rules of the listener that a socket test would only reach indirectly.
#include <gtest/gtest.h>

#include "web/uHTTPCodec.h"

namespace tamrix::web {
namespace {

TEST(HTTPCodec, PathDecoding) {
  const struct {
    const char* entrada;
    const char* esperado;
  } casos[] = {
      {"/plain+x", "/plain+x"},
      {"/%41%62", "/Ab"},
      {"/%C3%A9", "/\xC3\xA9"},                 // bytes read as UTF-8
      {"/%u00E9%U00e7", "/\xC3\xA9\xC3\xA7"},   // UTF-16 units
      {"/%uD83D%uDE00", "/\xF0\x9F\x98\x80"},   // a surrogate pair is one character
      {"/%uD83Dx", "/\xEF\xBF\xBDx"},           // a lone surrogate
      {"/%C3%u00e9", "/\xEF\xBF\xBD\xC3\xA9"},  // a UTF-8 sequence cut by %u
      {"/%FF", "/\xEF\xBF\xBD"},                // not UTF-8
      {"/%zz%4%u12", "/%zz%4%u12"},             // not escapes: kept
      {"/%", "/%"},
      {"*", "*"},
  };
  for (const auto& c : casos) EXPECT_EQ(DecodificarCaminho(c.entrada), c.esperado) << c.entrada;
}

TEST(HTTPCodec, ContentCharsets) {
  EXPECT_EQ(CharsetDoTipo("text/html; charset=ISO-8859-1"), "iso-8859-1");
  EXPECT_EQ(CharsetDoTipo("text/plain;foo=1; Charset=\"UTF-8\""), "utf-8");
  EXPECT_EQ(CharsetDoTipo("application/json"), "");
  EXPECT_EQ(CodificarTexto("Olá €😀", "iso-8859-1"), "Ol\xe1 ??");
  EXPECT_EQ(CodificarTexto("Olá €", "utf-8"), "Olá €");
  EXPECT_EQ(CodificarTexto("Olá", "us-ascii"), "Ol?");
  EXPECT_EQ(CodificarURL("a b;c=é"), "a%20b%3Bc%3D%C3%A9");
}

TEST(HTTPCodec, ReasonTextsAndDates) {
  EXPECT_EQ(TextoStatus(302), "Moved Temporarily");
  EXPECT_EQ(TextoStatus(411), "Length Required");
  EXPECT_EQ(TextoStatus(501), "Not Implemented");
  EXPECT_EQ(TextoStatus(401), "Unauthorized");
  EXPECT_EQ(TextoStatus(299), "Unknown");
  EXPECT_EQ(DataHTTP(std::chrono::system_clock::time_point(std::chrono::seconds(784111777))),
            "Sun, 06 Nov 1994 08:49:37 GMT");
}

}  // namespace
}  // namespace tamrix::web

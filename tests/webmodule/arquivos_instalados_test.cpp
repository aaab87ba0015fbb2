// The files installed in js/ are served so that a browser reads them as UTF-8 whatever the
// page's own charset (the pages go out as ISO-8859-1): each text file must name its charset.
#include <gtest/gtest.h>

#include <string>

#include "rest/uUTF8.h"
#include "web/uWebFileDispatcher.h"
#include "webmodule_fixture.h"

namespace tamrix::web::teste {
namespace {

TEST_F(WebModuleTest, InstalledScriptsAndStylesAreServedAsUtf8) {
  const fs::path origem = fs::path(TAMRIX_SOURCE_DIR) / "share" / "js";
  int textos = 0;
  for (const auto& entrada : fs::directory_iterator(origem)) {
    const std::string nome = entrada.path().filename().string();
    const auto tipo = TipoPorExtensao(entrada.path().extension().string().substr(1));
    if (!tipo || !tipo->starts_with("text/")) continue;
    SCOPED_TRACE(nome);
    const std::string conteudo = Ler(entrada.path());
    fs::copy_file(entrada.path(), raiz / "js" / nome);
    const auto r = Pedir("GET", "/js/" + nome);
    ASSERT_EQ(r.StatusCode, 200);
    // The mark at the head of the file is what makes the server name the charset.
    EXPECT_EQ(r.ContentType, std::string(*tipo) + "; charset=utf-8")
        << "the file must start with the UTF-8 byte-order mark";
    EXPECT_FALSE(Corpo(r).starts_with("\xEF\xBB\xBF"));
    EXPECT_EQ(rest::UTF8Valido(Corpo(r)), Corpo(r));
    EXPECT_EQ("\xEF\xBB\xBF" + Corpo(r), conteudo);
    ++textos;
  }
  EXPECT_GE(textos, 4);  // tamrixrest.js, tamrixdataset.js, tamrixinvoker.js, tamrix.css
}

}  // namespace
}  // namespace tamrix::web::teste

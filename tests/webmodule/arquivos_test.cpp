// Static files: staying inside the root, If-Modified-Since, the UTF-8 mark, and the
// regeneration of js/serverfunctions.js.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "web/uHTTPCodec.h"
#include "web/uWebFileDispatcher.h"
#include "webmodule_fixture.h"

namespace tamrix::web::teste {
namespace {

using std::chrono::seconds;
using std::chrono::system_clock;

TEST_F(WebModuleTest, PathsThatLeaveTheRootEndInTheRedirect) {
  fs::create_symlink(base / "fora" / "secret.css", raiz / "js" / "fora.css");
  fs::create_directory_symlink(base / "fora", raiz / "pasta");
  fs::create_symlink(raiz / "site.css", raiz / "js" / "dentro.css");
  Gravar(base / "raizirma" / "secret.css", "SEGREDO");  // shares the root's name as a prefix
  fs::create_symlink(base / "raizirma" / "secret.css", raiz / "js" / "irma.css");
  fs::create_symlink(raiz / "templates" / "ReverseString.html", raiz / "js" / "modelo.html");
  const char* recusados[] = {
      "/../fora/secret.css",
      "/js/../../fora/secret.css",
      "/%2e%2e/fora/secret.css",
      "/%2E%2E/fora/secret.css",
      "/.%2e/fora/secret.css",
      "/%u002E%u002E/fora/secret.css",
      "/js/%2e%2e%2f%2e%2e%2ffora/secret.css",
      "/..%5cfora%5csecret.css",
      "/./site.css",
      "//site.css",
      "/js//../site.css",
      "/%2Fetc/fora/secret.css",
      "/js/fora.css",
      "/js/irma.css",
      "/pasta/secret.css",
      "/js/modelo.html",
      "/site%00.css",
  };
  for (bool comBarra : {false, true}) {
    raizComBarra = comBarra;
    for (const char* alvo : recusados) {
      auto r = Pedir("GET", alvo);
      EXPECT_EQ(r.StatusCode, 302) << alvo << " root with slash: " << comBarra;
      EXPECT_EQ(r.Location, "/") << alvo;
      EXPECT_EQ(Corpo(r).find("SEGREDO"), std::string::npos) << alvo;
    }
    auto dentro = Pedir("GET", "/js/dentro.css");
    EXPECT_EQ(dentro.StatusCode, 200);
    EXPECT_EQ(Corpo(dentro), "body{}");
  }
}

TEST_F(WebModuleTest, IfModifiedSinceWithinOneSecondAnswers304) {
  const auto momento = system_clock::time_point(seconds(1700000000));  // 14 Nov 2023 22:13:20
  fs::last_write_time(raiz / "site.css",
                      std::chrono::file_clock::from_sys(momento + std::chrono::milliseconds(400)));
  const std::pair<std::string, int> casos[] = {
      {DataHTTP(momento), 304},
      {"Tuesday, 14-Nov-23 22:13:20 GMT", 304},
      {"Tue Nov 14 22:13:20 2023", 304},
      {DataHTTP(momento) + "; length=6", 304},
      {DataHTTP(momento + seconds(1)), 304},  // 0.6 s after the file
      {DataHTTP(momento + seconds(2)), 200},  // later than the file: only equal times count
      {DataHTTP(momento - seconds(1)), 200},
      {"ontem", 200},
      {"", 200},
  };
  for (const auto& [data, status] : casos) {
    auto r = Pedir("GET", "/site.css", "127.0.0.1", {{"If-Modified-Since", data}});
    EXPECT_EQ(r.StatusCode, status) << data;
    EXPECT_EQ(r.ContentType, "text/css") << data;
    EXPECT_EQ(r.HasContent(), status == 200) << data;
  }
  auto r = Pedir("GET", "/site.css");
  ASSERT_TRUE(r.LastModified.has_value());
  EXPECT_EQ(std::chrono::floor<seconds>(*r.LastModified), momento);
}

TEST_F(WebModuleTest, Utf8MarkNamesTheCharsetOfTextFilesOnly) {
  const std::string marca = "\xEF\xBB\xBF";
  Gravar(raiz / "js" / "marca.js", marca + "var a = '\xC3\xA7';");
  Gravar(raiz / "js" / "simples.js", "var a = 1;");
  Gravar(raiz / "img.png", marca + "PNG");
  auto r = Pedir("GET", "/js/marca.js");
  EXPECT_EQ(r.ContentType, "text/javascript; charset=utf-8");
  EXPECT_EQ(Corpo(r), "var a = '\xC3\xA7';");
  r = Pedir("HEAD", "/js/marca.js");
  EXPECT_EQ(Corpo(r).size(), 13u);  // the length the listener announces
  r = Pedir("GET", "/js/simples.js");
  EXPECT_EQ(r.ContentType, "text/javascript");
  EXPECT_EQ(Corpo(r), "var a = 1;");
  r = Pedir("GET", "/img.png");
  EXPECT_EQ(r.ContentType, "image/x-png");
  EXPECT_EQ(Corpo(r), marca + "PNG");
}

TEST_F(WebModuleTest, ServerFunctionsJsIsRegeneratedWhenOlderThanTheExecutable) {
  classes = {{"TsmComum", {{"InverterString", {{"pspTexto"}}, TProxyParamType::ptString}}},
             {"RestMetadata", {{"GetClasses", {}, TProxyParamType::ptString}}}};
  const auto arquivo = raiz / "js" / "serverfunctions.js";

  auto r = Pedir("GET", "/js/serverfunctions.js");  // missing: generated
  ASSERT_EQ(r.StatusCode, 200);
  EXPECT_EQ(r.ContentType, "text/javascript");
  EXPECT_NE(Corpo(r).find("var JSProxyClassList"), std::string::npos);
  EXPECT_NE(Corpo(r).find("function TsmComum(connectionInfo)"), std::string::npos);
  EXPECT_EQ(Corpo(r).find("RestMetadata"), std::string::npos);
  EXPECT_EQ(Ler(arquivo), Corpo(r));
  EXPECT_EQ(chamadasMetadados, 1);

  EXPECT_EQ(Pedir("GET", "/js/serverfunctions.js").StatusCode, 200);  // newer: kept
  EXPECT_EQ(chamadasMetadados, 1);

  // A new executable: the file is now older and the registry has another method.
  Gravar(arquivo, "// antigo");
  fs::last_write_time(arquivo, exeTime - std::chrono::hours(1));
  classes[0].Metodos.push_back({"updateUploadFile", {}, TProxyParamType::ptString});
  r = Pedir("GET", "/JS/../js/ServerFunctions.js");  // refused before any generation
  EXPECT_EQ(r.StatusCode, 302);
  r = Pedir("HEAD", "/js/serverfunctions.js");
  EXPECT_EQ(chamadasMetadados, 2);
  EXPECT_NE(Corpo(r).find("updateUploadFile"), std::string::npos);
  EXPECT_EQ(Ler(arquivo), Corpo(r));

  // A failed regeneration fails the request and keeps the old file.
  fs::last_write_time(arquivo, exeTime - std::chrono::hours(1));
  falharMetadados = true;
  r = Pedir("GET", "/js/serverfunctions.js");
  EXPECT_EQ(r.StatusCode, 500);
  EXPECT_NE(Ler(arquivo).find("updateUploadFile"), std::string::npos);
  for (const auto& e : fs::directory_iterator(raiz / "js"))
    EXPECT_EQ(e.path().filename(), "serverfunctions.js");  // no temporary left behind

  // No folder is created for a request: a missing one answers 404.
  falharMetadados = false;
  EXPECT_EQ(Pedir("GET", "/novo/serverfunctions.js").StatusCode, 404);
  EXPECT_FALSE(fs::exists(raiz / "novo"));
  // Nor is the library written into any folder but js/.
  for (const char* pasta : {"", "proxy/", "templates/"}) {
    const std::string alvo = std::string("/") + pasta + "serverfunctions.js";
    EXPECT_NE(Pedir("GET", alvo).StatusCode, 200) << alvo;
    EXPECT_FALSE(fs::exists(raiz / pasta / "serverfunctions.js")) << alvo;
  }
  EXPECT_EQ(chamadasMetadados, 3);
}

TEST(LerDataHTTP, RejectsWhatIsNotADate) {
  for (const char* texto : {"", "Tue, 31 Feb 2023 10:00:00 GMT", "Tue, 14 Nov 2023 25:00:00 GMT",
                            "Tue, 14 Xyz 2023 10:00:00 GMT", "14 Nov 2023", "1700000000"})
    EXPECT_FALSE(LerDataHTTP(texto).has_value()) << texto;
  EXPECT_EQ(LerDataHTTP("Sun, 06 Nov 1994 08:49:37 GMT"),
            system_clock::time_point(seconds(784111777)));
}

}  // namespace
}  // namespace tamrix::web::teste

// Routing of TwmServidor: pages, redirects, files, proxy archives, REST hand-over, errors.
#include <gtest/gtest.h>

#include <string>

#include "webmodule_fixture.h"

namespace tamrix::web::teste {
namespace {

std::string Cabecalho(const util::TWebResponse& r, std::string_view nome) {
  for (const auto& c : r.CustomHeaders)
    if (c.Name == nome) return c.Value;
  return {};
}

struct TCasoRota {
  const char* Metodo;
  const char* Alvo;
  const char* Remoto;
  int Status;
  const char* Location;  // expected Location, "" when none
  const char* Inicio;    // what the body starts with, "" for no body
};

TEST_F(WebModuleTest, RoutesAnswerInOrder) {
  const TCasoRota casos[] = {
      {"GET", "/", "127.0.0.1", 200, "", "REV["},
      {"GET", "", "10.1.2.3", 200, "", "REV["},
      {"HEAD", "/", "127.0.0.1", 200, "", "REV["},
      {"POST", "/", "10.1.2.3", 200, "", "REV["},
      {"GET", "/reversestring", "10.1.2.3", 200, "", "REV["},
      {"GET", "/ReverseString/", "127.0.0.1", 302, "/", ""},
      {"GET", "/abc", "127.0.0.1", 302, "/", ""},
      {"GET", "/ServerFunctionInvoker", "127.0.0.1", 200, "", "INVOKER localhost"},
      {"GET", "/serverfunctioninvoker", "::1", 200, "", "INVOKER"},
      {"GET", "/ServerFunctionInvoker", "0:0:0:0:0:0:0:1", 200, "", "INVOKER"},
      {"GET", "/ServerFunctionInvoker", "192.168.0.5", 302, "/", ""},
      {"GET", "/ServerFunctionInvoker", "::ffff:127.0.0.1", 302, "/", ""},
      {"GET", "/site.css", "10.1.2.3", 200, "", "body{}"},
      {"GET", "/SITE.CSS", "127.0.0.1", 404, "", ""},  // the extension has no case, names do
      {"HEAD", "/site.css", "127.0.0.1", 200, "", "body{}"},
      {"POST", "/site.css", "127.0.0.1", 302, "/", ""},
      {"PUT", "/site.css", "127.0.0.1", 302, "/", ""},
      {"GET", "/missing.css", "127.0.0.1", 404, "", ""},
      {"GET", "/js/", "127.0.0.1", 302, "/", ""},
      {"GET", "/log.txt", "127.0.0.1", 302, "/", ""},
      {"GET", "/config.ini", "127.0.0.1", 302, "/", ""},
      {"GET", "/templates/ReverseString.html", "127.0.0.1", 302, "/", ""},
      {"GET", "/Templates/ReverseString.html", "127.0.0.1", 302, "/", ""},
      {"GET", "/proxy/javascript.zip", "10.1.2.3", 200, "", "PK"},
      {"HEAD", "/PROXY/javascript.zip", "10.1.2.3", 404, "", ""},
      {"GET", "/proxy/csharp.zip", "10.1.2.3", 404, "", ""},
      {"GET", "/proxy/sub/javascript.zip", "10.1.2.3", 302, "/", ""},
      {"POST", "/proxy/javascript.zip", "10.1.2.3", 302, "/", ""},
      {"GET", "/tamrix/rest/TsmComum/InverterString/abc", "10.1.2.3", 302, "/", ""},  // no REST
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(std::string(c.Metodo) + " " + c.Alvo + " from " + c.Remoto);
    auto r = Pedir(c.Metodo, c.Alvo, c.Remoto);
    EXPECT_EQ(r.StatusCode, c.Status);
    EXPECT_EQ(r.Location, c.Location);
    if (*c.Inicio)
      EXPECT_TRUE(Corpo(r).starts_with(c.Inicio)) << Corpo(r);
    else
      EXPECT_FALSE(r.HasContent()) << Corpo(r);
  }
}

TEST_F(WebModuleTest, ContentTypesFollowTheExtensionTable) {
  const std::pair<const char*, const char*> casos[] = {
      {"a.css", "text/css"},    {"a.js", "text/javascript"}, {"a.png", "image/x-png"},
      {"a.htm", "text/html"},   {"a.HTML", "text/html"},     {"a.jpg", "image/jpeg"},
      {"a.jpeg", "image/jpeg"}, {"a.jpe", "image/jpeg"},     {"a.gif", "image/gif"},
  };
  for (auto [nome, tipo] : casos) {
    Gravar(raiz / "js" / nome, "x");
    auto r = Pedir("GET", std::string("/js/") + nome);
    EXPECT_EQ(r.StatusCode, 200) << nome;
    EXPECT_EQ(r.ContentType, tipo) << nome;
  }
  auto zip = Pedir("GET", "/proxy/javascript.zip");
  EXPECT_EQ(zip.ContentType, "application/x-zip-compressed");
  // Pages keep the listener's default content type.
  EXPECT_EQ(Pedir("GET", "/").ContentType, "");
}

TEST_F(WebModuleTest, TagsDependOnWhereTheRequestComesFrom) {
  const std::string link =
      "<div><a href=\"/ServerFunctionInvoker\" target=\"_blank\">Server Functions</a></div>";
  EXPECT_EQ(Pedir("GET", "/", "127.0.0.1").Content,
            "REV[|8080|localhost|TsmBase|true|/js/serverfunctions.js|" + link + "|]");
  EXPECT_EQ(Pedir("GET", "/", "10.0.0.9").Content,
            "REV[|8080|localhost|TsmBase|true|/js/serverfunctions.js||]");
}

TEST_F(WebModuleTest, TagValuesFromTheClientCannotInjectMarkup) {
  Gravar(raiz / "templates" / "ReverseString.html", "<#host>|<#port>|<#servertime>|<#x");
  util::TWebRequest req;
  req.Method = "GET";
  req.MethodType = util::TMethodType::mtGet;
  req.PathInfo = req.RawPathInfo = "/";
  req.Host = "<script>alert(1)</script>";
  req.ServerPort = "80\"onload=";
  TwmServidor modulo(Config());
  util::TWebResponse resp;
  modulo.HandleRequest(req, resp);
  auto partes = resp.Content.substr(0, resp.Content.rfind('|'));
  EXPECT_TRUE(resp.Content.starts_with("&lt;script&gt;alert(1)&lt;/script&gt;|80&quot;onload=|"))
      << resp.Content;
  // The server time is dd/MM/yyyy hh:nn:ss; an unclosed tag stays as text.
  EXPECT_TRUE(resp.Content.ends_with("|<#x"));
  auto hora = partes.substr(partes.rfind('|') + 1);
  EXPECT_EQ(hora.size(), 19u) << hora;
  EXPECT_EQ(hora[2], '/');
  EXPECT_EQ(hora[13], ':');
}

TEST_F(WebModuleTest, MissingTemplateGivesTheInternalErrorPage) {
  fs::remove(raiz / "templates" / "ReverseString.html");
  for (const char* alvo : {"/", "/ReverseString"}) {
    auto r = Pedir("GET", alvo);
    EXPECT_EQ(r.StatusCode, 500);
    EXPECT_TRUE(r.Content.starts_with("<html><body><h1>Internal Application Error</h1>\r\n<p>"))
        << r.Content;
    EXPECT_NE(r.Content.find("ReverseString.html"), std::string::npos) << r.Content;
    // Non-ASCII text of the message travels as character references.
    EXPECT_NE(r.Content.find("N&#227;o"), std::string::npos) << r.Content;
    EXPECT_TRUE(r.Content.ends_with("\r\n<p><hr width=\"100%\"><i>" + std::string(alvo) +
                                    "</i></body></html>"))
        << r.Content;
  }
  fs::remove(raiz / "templates" / "ServerFunctionInvoker.html");
  EXPECT_EQ(Pedir("GET", "/ServerFunctionInvoker").StatusCode, 500);
  EXPECT_EQ(Pedir("GET", "/ServerFunctionInvoker", "10.0.0.1").StatusCode, 302);
}

TEST_F(WebModuleTest, ErrorPageEscapesTheRequestPath) {
  falharMetadados = true;
  // Another name of the js folder: the library's own file, generated (and failing) there.
  fs::create_directory_symlink(raiz / "js", raiz / "<b>");
  auto r = Pedir("GET", "/%3Cb%3E/serverfunctions.js");
  EXPECT_EQ(r.StatusCode, 500);
  EXPECT_NE(r.Content.find("registro indispon&#237;vel"), std::string::npos) << r.Content;
  EXPECT_NE(r.Content.find("<i>/&lt;b&gt;/serverfunctions.js</i>"), std::string::npos) << r.Content;
}

TEST_F(WebModuleTest, TamrixPathsGoToTheRestDispatcher) {
  std::vector<std::string> vistos;
  rest = [&](util::TWebRequest& req, util::TWebResponse& resp) {
    vistos.push_back(req.RawPathInfo);
    if (req.RawPathInfo == "/tamrix/lanca") throw std::runtime_error("falhou");
    resp.StatusCode = 201;
    resp.Content = "{\"result\":[\"cba\"]}";
    resp.SetCustomHeader("Pragma", "dssession=1.2.3,dssessionexpires=1200000");
    return true;
  };
  for (const char* alvo :
       {"/tamrix/rest/TsmComum/InverterString/abc", "/TAMRIX/x", "/tamrixx", "/tamrix.css"}) {
    auto r = Pedir("PUT", alvo, "10.0.0.1");
    EXPECT_EQ(r.StatusCode, 201) << alvo;
    EXPECT_EQ(r.Content, "{\"result\":[\"cba\"]}");
    // What the answer echoes is never run or sniffed by a browser.
    EXPECT_EQ(Cabecalho(r, "Content-Security-Policy"), "default-src 'none'");
    EXPECT_EQ(Cabecalho(r, "X-Content-Type-Options"), "nosniff");
  }
  EXPECT_EQ(vistos.size(), 4u);

  auto r = Pedir("GET", "/tamrix/lanca");
  EXPECT_EQ(r.StatusCode, 500);
  EXPECT_FALSE(r.HasContent());
  EXPECT_EQ(Cabecalho(r, "X-Content-Type-Options"), "nosniff");

  // A dispatcher that declines leaves the request to the later routes.
  rest = [](util::TWebRequest&, util::TWebResponse&) { return false; };
  Gravar(raiz / "tamrix.css", "t");
  EXPECT_EQ(Pedir("GET", "/tamrix.css").StatusCode, 200);
  EXPECT_EQ(Pedir("GET", "/tamrix/rest/x").StatusCode, 302);
}

TEST_F(WebModuleTest, AnAnswerAlreadySentIsLeftAlone) {
  util::TWebRequest req;
  req.PathInfo = "/abc";
  req.MethodType = util::TMethodType::mtGet;
  util::TWebResponse resp;
  resp.Sent = true;
  TwmServidor modulo(Config());
  EXPECT_TRUE(modulo.HandleRequest(req, resp));
  EXPECT_EQ(resp.StatusCode, 200);
  EXPECT_EQ(resp.Location, "");
}

}  // namespace
}  // namespace tamrix::web::teste

// A web module over a temporary root folder, and requests built the way the listener
// builds them (path decoded from the raw target).
#ifndef TAMRIX_TESTS_WEBMODULE_FIXTURE_H
#define TAMRIX_TESTS_WEBMODULE_FIXTURE_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "util/uWebMessages.h"
#include "web/uHTTPCodec.h"
#include "web/uwmServidor.h"

namespace tamrix::web::teste {

namespace fs = std::filesystem;

inline void Gravar(const fs::path& arquivo, const std::string& conteudo) {
  fs::create_directories(arquivo.parent_path());
  std::ofstream f(arquivo, std::ios::binary);
  f << conteudo;
}

inline std::string Ler(const fs::path& arquivo) {
  std::ifstream f(arquivo, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class WebModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string modelo = (fs::temp_directory_path() / "webmodule-XXXXXX").string();
    ASSERT_NE(mkdtemp(modelo.data()), nullptr);
    base = modelo;
    raiz = base / "raiz";
    fs::create_directories(raiz / "js");
    Gravar(raiz / "templates" / "ReverseString.html",
           "REV[<#urlpath>|<#port>|<#HOST>|<#classname>|<#loginrequired x=\"a>b\">|"
           "<#serverfunctionsjs>|<#serverfunctioninvoker>|<#desconhecida>]");
    Gravar(raiz / "templates" / "ServerFunctionInvoker.html", "INVOKER <#host>");
    Gravar(raiz / "site.css", "body{}");
    Gravar(raiz / "log.txt", "log");
    Gravar(raiz / "config.ini", "[BD]");
    Gravar(raiz / "proxy" / "javascript.zip", "PK\x03\x04");
    Gravar(base / "fora" / "secret.css", "SEGREDO");
    exeTime = fs::file_time_type::clock::now() - std::chrono::hours(24);
  }

  void TearDown() override {
    std::error_code ignorado;
    fs::remove_all(base, ignorado);
  }

  TwmServidorConfig Config() {
    TwmServidorConfig c;
    c.PastaRaiz = raizComBarra ? fs::path(raiz.string() + "/") : raiz;
    c.RestHTTPWebDispatcher = rest;
    c.RestServerMetaDataProvider = [this] {
      ++chamadasMetadados;
      if (falharMetadados) throw std::runtime_error("registro indisponível");
      return classes;
    };
    c.DataExecutavel = [this] { return exeTime; };
    return c;
  }

  util::TWebResponse Pedir(const std::string& metodo, const std::string& alvo,
                           const std::string& remoto = "127.0.0.1",
                           std::vector<util::THeaderField> cabecalhos = {}) {
    util::TWebRequest req;
    req.Method = metodo;
    req.MethodType = util::ClassificarMetodo(metodo);
    req.ProtocolVersion = "HTTP/1.1";
    auto q = alvo.find('?');
    req.RawPathInfo = alvo.substr(0, q);
    req.Query = q == std::string::npos ? "" : alvo.substr(q + 1);
    req.PathInfo = DecodificarCaminho(req.RawPathInfo);
    req.Host = "localhost";
    req.ServerPort = "8080";
    req.RemoteAddr = remoto;
    req.Headers = std::move(cabecalhos);
    req.Headers.push_back({"Host", "localhost:8080"});
    TwmServidor modulo(Config());
    util::TWebResponse resp;
    EXPECT_TRUE(modulo.HandleRequest(req, resp));
    return resp;
  }

  static std::string Corpo(const util::TWebResponse& r) {
    return r.ContentStream ? *r.ContentStream : r.Content;
  }

  fs::path base, raiz;
  fs::file_time_type exeTime;
  TDespachanteRest rest;
  std::vector<TProxyClass> classes;
  int chamadasMetadados = 0;
  bool falharMetadados = false;
  bool raizComBarra = false;  // as the executable's folder comes, ending in "/"
};

}  // namespace tamrix::web::teste

#endif  // TAMRIX_TESTS_WEBMODULE_FIXTURE_H

// The access line: its fields, the masking of passwords in login paths, and what a client's
// text can and cannot do to it.
#include <gtest/gtest.h>

#include "web/uLogAcesso.h"

namespace tamrix::web {
namespace {

using namespace std::chrono_literals;

TEST(LogAcesso, MasksPasswordsAndTokensOfEveryLoginFormAndDropsTheQuery) {
  struct TCaso {
    const char* caminho;
    const char* esperado;
  } casos[] = {
      {"/tamrix/rest/TsmUsuario/Login/ADMIN/s3nha/Tk1",
       "/tamrix/rest/TsmUsuario/Login/ADMIN/***/***"},
      {"/tamrix/rest/TsmUsuario/LoginPDV/MARIA/caixa01/Tk1",
       "/tamrix/rest/TsmUsuario/LoginPDV/MARIA/***/***"},
      {"/tamrix/rest/TsmUsuario/ConsultarDadosUsuario/ADMIN/s3nha",
       "/tamrix/rest/TsmUsuario/ConsultarDadosUsuario/ADMIN/***"},
      // As the dispatcher reads the method: any case, quoted, percent-encoded, verb prefix.
      {"/TAMRIX/REST/tsmusuario/LOGINPDV/u/s3nha/t", "/TAMRIX/REST/tsmusuario/LOGINPDV/u/***/***"},
      {"/tamrix/rest/TsmUsuario/%22LoginPDV%22/u/s3nha/t",
       "/tamrix/rest/TsmUsuario/%22LoginPDV%22/u/***/***"},
      {"/tamrix/rest/TsmUsuario/'Login'/u/s3nha/t", "/tamrix/rest/TsmUsuario/'Login'/u/***/***"},
      {"/tamrix/rest/TsmUsuario/Log%69n/u/s3nha/t", "/tamrix/rest/TsmUsuario/Log%69n/u/***/***"},
      {"/tamrix/rest/TsmUsuario/updateLogin/u/s3nha/t",
       "/tamrix/rest/TsmUsuario/updateLogin/u/***/***"},
      // An encoded slash stays inside its segment, as for the dispatcher.
      {"/tamrix/rest/TsmUsuario/Login/u/a%2Fb/t", "/tamrix/rest/TsmUsuario/Login/u/***/***"},
      {"/tamrix/rest/TsmUsuario/Login/u//t", "/tamrix/rest/TsmUsuario/Login/u/***/***"},
      {"http://h/tamrix/rest/TsmUsuario/Login/u/s3nha",
       "http://h/tamrix/rest/TsmUsuario/Login/u/***"},
      // Too short to hold a password, or not a login: as it came.
      {"/tamrix/rest/TsmUsuario/Login/u", "/tamrix/rest/TsmUsuario/Login/u"},
      {"/tamrix/rest/TsmUsuario/Logins/u/x/t", "/tamrix/rest/TsmUsuario/Logins/u/x/t"},
      {"/tamrix/rest/TsmComum/InverterString/abc", "/tamrix/rest/TsmComum/InverterString/abc"},
      // The tenant's access token is a secret too.
      {"/tamrix/rest/TsmConfigBD/ConsultarConfiguracoes/Tk1",
       "/tamrix/rest/TsmConfigBD/ConsultarConfiguracoes/***"},
      // The query string never shows.
      {"/tamrix/rest/TsmUsuario/Login?_parameters=[\"u\",\"s3nha\"]",
       "/tamrix/rest/TsmUsuario/Login"},
      {"/", "/"},
      {"", ""},
  };
  for (const auto& c : casos) EXPECT_EQ(MascararCaminho(c.caminho), c.esperado) << c.caminho;
}

TRegistroAcesso Registro() {
  TRegistroAcesso r;
  r.Momento = std::chrono::system_clock::time_point(1714657507123ms);
  r.Endereco = "10.0.0.7";
  r.Metodo = "GET";
  r.Caminho = "/tamrix/rest/TsmUsuario/LoginPDV/MARIA/caixa01/Tk1";
  r.Status = 200;
  r.Bytes = 182;
  r.Duracao = 12ms;
  r.Sessao = "AbC123";
  return r;
}

TEST(LogAcesso, LineHasEightFieldsInUtc) {
  EXPECT_EQ(LinhaAcesso(Registro()),
            "2024-05-02T13:45:07.123Z 10.0.0.7 GET /tamrix/rest/TsmUsuario/LoginPDV/MARIA/***/*** "
            "200 182 12 AbC123\n");
  TRegistroAcesso vazio = Registro();
  vazio.Metodo = "";
  vazio.Caminho = "";
  vazio.Sessao = "";
  EXPECT_EQ(LinhaAcesso(vazio), "2024-05-02T13:45:07.123Z 10.0.0.7 - - 200 182 12 -\n");
}

TEST(LogAcesso, ClientTextStaysOneLineOfEightFields) {
  TRegistroAcesso r = Registro();
  r.Metodo = "G T\r\n";
  const std::string caminho = "/a b\r\nFALSO 1 2\x01/" + std::string(4096, 'x');
  r.Caminho = caminho;
  r.Sessao = "s s\n";
  const std::string linha = LinhaAcesso(r);
  EXPECT_EQ(linha.find('\n'), linha.size() - 1) << linha;
  EXPECT_EQ(linha.find('\r'), std::string::npos);
  EXPECT_NE(linha.find(" G%20T\\r\\n /a%20b\\r\\nFALSO%201%202\\x01/xxx"), std::string::npos)
      << linha;
  EXPECT_NE(linha.find("[...] 200 182 12 s%20s\\n\n"), std::string::npos) << linha;
  EXPECT_LT(linha.size(), kTamanhoCaminhoAcesso + 200);
}

TEST(LogAcesso, SessionFromTheAnswerElseFromTheRequest) {
  util::TWebRequest pedido;
  util::TWebResponse resposta;
  EXPECT_EQ(SessaoAcesso(pedido, resposta), "");
  pedido.Headers.push_back({"Pragma", "dssession=DoPedido"});
  EXPECT_EQ(SessaoAcesso(pedido, resposta), "DoPedido");
  pedido.Query = "a=1&sid=DaQuery";
  EXPECT_EQ(SessaoAcesso(pedido, resposta), "DaQuery");
  resposta.SetCustomHeader("Pragma", "dssession=DaResposta,dssessionexpires=1200000");
  EXPECT_EQ(SessaoAcesso(pedido, resposta), "DaResposta");
}

}  // namespace
}  // namespace tamrix::web

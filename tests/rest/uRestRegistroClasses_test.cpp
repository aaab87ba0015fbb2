// The class registry: what a table publishes, lookup rules, life cycles, registration rules.
#include "rest/uRestRegistroClasses.h"

#include <gtest/gtest.h>

#include "RestTeste.h"
#include "rest/uRestExcecoes.h"
#include "rest/uRestNomeMetodo.h"

namespace tamrix::rest::teste {
namespace {

TEST(RestRegistro, TableDescribesParametersAndResultsForClientGenerators) {
  TRestServer s;
  s.RegistrarClasse(TabelaTeste());
  const auto registro = s.Registro();
  ASSERT_EQ(registro->Classes().size(), 1u);
  const auto& c = registro->Classes()[0];
  EXPECT_EQ(c.Nome, "TsmTeste");
  EXPECT_EQ(c.LifeCycle, TLifeCycle::lcSession);
  auto descrever = [&](const std::string& nome) {
    const auto e = registro->Procurar("TsmTeste." + nome);
    if (!e) return std::string("?");
    std::string out;
    for (const auto& p : e->Metodo->Parametros)
      out += std::string(NomeDirecao(p.Direcao)) + " " + p.Nome + ":" + NomeTipoRest(p.Tipo) + "; ";
    return out + "-> " + NomeTipoRest(e->Metodo->TipoResultado);
  };
  EXPECT_EQ(descrever("Login"),
            "in pspUsuario:string; in pspSenha:string; in pspToken:string; out pspMsg:string; "
            "-> Boolean");
  EXPECT_EQ(descrever("Somar"), "in piA:Integer; in piB:Int64; -> Int64");
  EXPECT_EQ(descrever("Dobrar"), "var piValor:Integer; out psTexto:string; -> void");
  EXPECT_EQ(
      descrever("acceptEnviarArquivoVendas"),
      "in psToken:string; in psCNPJ:string; in psDt_Movimento:string; in psNomeArquivo:string; "
      "in pjoArquivo:TJSONValue; -> TJSONObject");
  EXPECT_EQ(descrever("Dados"), "in pbFalhar:Boolean; -> TJSONDataSets");
  EXPECT_EQ(descrever("UmDiaDepois"), "in pdData:TDateTime; -> TDateTime");
  EXPECT_EQ(descrever("Metade"), "in pValor:Double; -> Double");
}

TEST(RestRegistro, LookupIgnoresCaseAndUnquotesIdentifiers) {
  TRegistroClasses r({TabelaTeste()});
  EXPECT_TRUE(r.Procurar("tsmteste.LOGIN"));
  EXPECT_TRUE(r.Procurar("TsmTeste.\"Login\""));
  EXPECT_TRUE(r.Procurar("\"TsmTeste\".'Login'"));
  EXPECT_FALSE(r.Procurar("TsmTeste.\"Log\"in"));
  EXPECT_FALSE(r.Procurar("TsmTeste"));
  EXPECT_EQ(RemoverAspasIdentificadores("A.\"it\"\"s\".'b'"), "A.it\"s.b");
  EXPECT_EQ(RemoverAspasIdentificadores("A.\"aberto"), "A.\"aberto");
}

TEST(RestRegistro, VerbPrefixAndItsInverse) {
  EXPECT_EQ(MontarNomeMetodo(TComandoRest::crGet, "C", "M"), "C.M");
  EXPECT_EQ(MontarNomeMetodo(TComandoRest::crPost, "C", "M"), "C.updateM");
  EXPECT_EQ(MontarNomeMetodo(TComandoRest::crPut, "C", "M"), "C.acceptM");
  EXPECT_EQ(MontarNomeMetodo(TComandoRest::crDelete, "C", "M"), "C.cancelM");
  EXPECT_EQ(MontarNomeMetodo(TComandoRest::crPost, "C", "'M'"), "C.'M'");
  EXPECT_EQ(MontarNomeMetodo(TComandoRest::crPost, "RestAdmin", "M"), "RestAdmin.M");
  EXPECT_EQ(MontarNomeMetodo(TComandoRest::crPost, "restadmin", "M"), "restadmin.updateM");
  const auto post = ChamadaDoMetodo("updateUploadFile");
  EXPECT_STREQ(post.Verbo, "POST");
  EXPECT_EQ(post.NomeNaURL, "UploadFile");
  EXPECT_STREQ(ChamadaDoMetodo("acceptEnviarArquivoVendas").Verbo, "PUT");
  EXPECT_STREQ(ChamadaDoMetodo("cancelApagar").Verbo, "DELETE");
  EXPECT_STREQ(ChamadaDoMetodo("CancelarPedido").Verbo, "GET");
  EXPECT_STREQ(ChamadaDoMetodo("update").Verbo, "GET");
}

TEST(RestRegistro, RegistrationRules) {
  TRestServer s;
  s.RegistrarClasse(TabelaTeste());
  s.RegistrarClasse(TTabelaClasse<TsmTeste>("TSMTESTE"));
  EXPECT_THROW(s.Iniciar(), ERestException);
  EXPECT_FALSE(s.Iniciado());

  TRestServer ok;
  ok.RegistrarClasse(TabelaTeste());
  ok.Iniciar();
  EXPECT_THROW(ok.RegistrarClasse(TTabelaClasse<TsmTeste>("Outra")), ERestException);
  EXPECT_THROW(ok.DefinirOnDisconnect([] {}), ERestException);
  ok.Parar();
  ok.RegistrarClasse(TTabelaClasse<TsmTeste>("Outra").Metodo("Contar", &TsmTeste::Contar));
  ok.Iniciar();
  EXPECT_TRUE(ok.Registro()->Procurar("Outra.Contar"));

  EXPECT_THROW(TRegistroClasses({TTabelaClasse<TsmTeste>("X")
                                     .Metodo("Contar", &TsmTeste::Contar)
                                     .Metodo("contar", &TsmTeste::Contar)}),
               ERestException);
  EXPECT_EQ(LifeCycleDeTexto("session"), TLifeCycle::lcSession);
  EXPECT_THROW(LifeCycleDeTexto("Sempre"), ERestException);
}

TEST(RestRegistro, LifeCyclesDecideWhichInstanceRuns) {
  TRestServer s;
  s.RegistrarClasse(TTabelaClasse<TsmTeste>("PorChamada", LifeCycleDeTexto("Invocation"))
                        .Metodo("Contar", &TsmTeste::Contar));
  s.RegistrarClasse(
      TTabelaClasse<TsmTeste>("Unica", TLifeCycle::lcServer).Metodo("Contar", &TsmTeste::Contar));
  s.Iniciar();
  TRestHTTPWebDispatcher d(s);
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(Chamar(d, {"GET", "/tamrix/rest/PorChamada/Contar"}).R.Content, R"({"result":[1]})");
  EXPECT_EQ(Chamar(d, {"GET", "/tamrix/rest/Unica/Contar"}).R.Content, R"({"result":[1]})");
  EXPECT_EQ(Chamar(d, {"GET", "/tamrix/rest/Unica/Contar"}).R.Content, R"({"result":[2]})");
}

}  // namespace
}  // namespace tamrix::rest::teste

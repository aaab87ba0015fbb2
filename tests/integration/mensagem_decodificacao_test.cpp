// Message objects, the decoding of the sent file into lines, and the checks that need no
// database (movement date, CNPJ inside the file).
#include <gtest/gtest.h>

#include <boost/json/serialize.hpp>
#include <stdexcept>

#include "diagnostics/uExcecoes.h"
#include "integration/uDecodificacaoArquivo.h"
#include "integration/uIntegracaoArquivo.h"
#include "integration/uMensagemIntegracao.h"
#include "util/uBase64.h"

namespace tamrix::integration {
namespace {

using Linhas = std::vector<std::string>;
using namespace std::string_literals;

std::string Json(const boost::json::object& o) {
  return boost::json::serialize(o);
}

TEST(MensagemIntegracao, TextosDosCodigos) {
  EXPECT_EQ(TextoMensagem(0), "");
  EXPECT_EQ(TextoMensagem(2), "Token inválido.");
  EXPECT_EQ(TextoMensagem(10), "Arquivo vazio ou não pertence ao CNPJ informado");
  EXPECT_EQ(TextoMensagem(11),
            "Ocorreu algum problema ao tentar gravar o arquivo no banco de dados.");
  EXPECT_EQ(TextoMensagem(12), "Mensagem indefinida.");
  EXPECT_EQ(TextoMensagem(-1), "Mensagem indefinida.");
}

TEST(MensagemIntegracao, ParesNaOrdemComONomeAcentuado) {
  boost::json::object o;
  AdicionarMensagem(2, &o);
  EXPECT_EQ(Json(o), R"({"Código":2,"Mensagem":"Token inválido."})");

  boost::json::object vazio;
  AdicionarMensagem(0, "", &vazio);
  EXPECT_EQ(Json(vazio), R"({"Código":0,"Mensagem":""})");

  boost::json::object proprio;
  AdicionarMensagem(1, "outro texto", &proprio);
  EXPECT_EQ(Json(proprio), R"({"Código":1,"Mensagem":"outro texto"})");

  boost::json::object fmt;
  AdicionarMensagemFmt(7, {"VENDAS.TXT"}, &fmt);
  EXPECT_EQ(Json(fmt), R"({"Código":7,"Mensagem":"Arquivo VENDAS.TXT já importado."})");
  boost::json::object semMarca;
  AdicionarMensagemFmt(3, {"ignorado"}, &semMarca);
  EXPECT_EQ(Json(semMarca), R"({"Código":3,"Mensagem":"CNPJ inválido."})");

  boost::json::object erro;
  AdicionarMensagemErro(std::runtime_error("falhou"), &erro);
  EXPECT_EQ(erro.at("Código").as_int64(), 0);
  EXPECT_NE(std::string(erro.at("Mensagem").as_string()).find("falhou"), std::string::npos);

  // Nothing happens without an object.
  AdicionarMensagem(2, nullptr);
  AdicionarMensagemFmt(7, {"X"}, nullptr);
  AdicionarMensagemErro(std::runtime_error("x"), nullptr);
}

TEST(MensagemIntegracao, ParesExistentesFicamAntesEUmaSegundaMensagemSubstitui) {
  boost::json::object o{{"outro", 1}};
  AdicionarMensagem(9, &o);
  EXPECT_EQ(Json(o), R"({"outro":1,"Código":9,"Mensagem":"Arquivo vazio."})");
  AdicionarMensagem(0, "depois", &o);
  EXPECT_EQ(Json(o), R"({"outro":1,"Código":0,"Mensagem":"depois"})");
}

Linhas Decodificar(const std::string& bytes, TTipoArquivo tipo = taVendas) {
  TLinhasArquivo l;
  DecodificarArquivo(tipo, util::CodificarBase64(bytes), l);
  EXPECT_EQ(l.Quantidade(), l.ComoVetor().size());
  return l.ComoVetor();
}

TEST(DecodificacaoArquivo, NormalizacaoDoArquivoDeVendas) {
  struct Caso {
    std::string bytes;
    Linhas linhas;
  };
  const Caso casos[] = {
      {"|V|11222333000181|100,00|", {"|V|11222333000181|100,00|"}},
      {"a\tb\tc", {"A|B|C"}},                                // TAB to "|", a-z up
      {"\xe1\xe7\xe3o x", {"\xc3\xa1\xc3\xa7\xc3\xa3O X"}},  // accents keep case (Latin-1)
      {"L1\r\nL2\nL3\rL4", {"L1", "L2", "L3", "L4"}},        // CR LF, LF, CR
      {"L1\r\n\r\nL3", {"L1", "", "L3"}},                    // an inner blank line stays
      {"  \r\n\tL1 \r\nL2\t \r\n \r\n", {"L1 ", "L2"}},      // the whole text trimmed
      {"AB\0CD\r\nEF"s, {"AB"}},                             // NUL ends the text
      {"AB \0 CD"s, {"AB "}},                                // cut, no trim before NUL
      {"AB\t\0  \r\n"s, {"AB"}},                             // NUL inside trailing blanks
      {"\0\0AB"s, {"AB"}},                                   // leading NULs are trimmed
      {" \r\n\t\r\n  ", {}},                                 // blanks only: no line
      {"", {}},
  };
  for (const auto& c : casos) EXPECT_EQ(Decodificar(c.bytes), c.linhas) << c.bytes;
  // Other kinds: lines cut, nothing changed.
  EXPECT_EQ(Decodificar(" a\tb\r\n", taNenhum), (Linhas{" a\tb"}));
}

TEST(DecodificacaoArquivo, UmSegundoArquivoSeJuntaAsLinhasQueJaHavia) {
  // The trim and the TAB rule stop at the lines the list already had.
  TLinhasArquivo l{"X\t", " ", ""};
  DecodificarArquivo(taVendas, util::CodificarBase64("  \r\na\tb \r\n\r\n  "), l);
  EXPECT_EQ(l.ComoVetor(), (Linhas{"X\t", " ", "", "A|B"}));
  EXPECT_EQ(l.Quantidade(), 4u);
  DecodificarArquivo(taVendas, util::CodificarBase64(" \r\n "), l);
  EXPECT_EQ(l.Quantidade(), 4u);
  EXPECT_EQ(l.Texto(), "X\t\n \n\nA|B\n");
}

TEST(DecodificacaoArquivo, GruposDeBase64) {
  auto linhas = [](std::string_view b64) {
    TLinhasArquivo l;
    DecodificarArquivo(taNenhum, b64, l);
    return l.ComoVetor();
  };
  EXPECT_EQ(linhas("QUJD"), (Linhas{"ABC"}));
  EXPECT_EQ(linhas("QUI="), (Linhas{"AB"}));
  EXPECT_EQ(linhas("QQ=="), (Linhas{"A"}));
  EXPECT_EQ(linhas("QUJDRA"), (Linhas{"ABC"}));           // an incomplete last group is ignored
  EXPECT_EQ(linhas("QUJD\r\nREVG"), (Linhas{"ABCDEF"}));  // breaks and blanks skipped
  EXPECT_EQ(linhas("QQ==QUJD"), (Linhas{"AABC"}));
  EXPECT_EQ(linhas("123"), Linhas{});  // a short number gives nothing
}

TEST(DecodificacaoArquivo, TextoDoValor) {
  EXPECT_EQ(TextoValorJSON(boost::json::value("QUJD")), "QUJD");
  EXPECT_EQ(TextoValorJSON(boost::json::value(123)), "123");
  EXPECT_EQ(TextoValorJSON(boost::json::value(true)), "true");
  EXPECT_EQ(TextoValorJSON(boost::json::value(nullptr)), "");
  EXPECT_EQ(TextoValorJSON(boost::json::value(boost::json::object{{"a", 1}})), "");
}

TEST(IntegracaoArquivo, DataDeMovimento) {
  for (const char* valida : {"2016-10-09", "2016/10/09", "2016-10-09T12:00", " 2016-10-09 ",
                             "2016-02-29", "0001-01-01", "9999-12-31"})
    EXPECT_TRUE(TIntegracaoArquivo::TestarDataMovimento(valida)) << valida;
  for (const char* invalida : {"2016-02-30", "09-10-2016", "20161009", "", "   ", "2015-02-29",
                               "2016-13-01", "0000-01-01", "2016-10", "abcd-10-09"})
    EXPECT_FALSE(TIntegracaoArquivo::TestarDataMovimento(invalida)) << invalida;
  // Characters are counted as the text holds them, not as UTF-8 bytes.
  EXPECT_TRUE(
      TIntegracaoArquivo::TestarDataMovimento("2016\xc3\xa9"
                                              "10-09"));

  const db::TDBTimeStamp d = TIntegracaoArquivo::DataMovimento("2016-10-09T12:00");
  EXPECT_EQ(d, (db::TDBTimeStamp{2016, 10, 9, 0, 0, 0, 0}));
  EXPECT_EQ(TIntegracaoArquivo::DataMovimento("2016-02-30"), db::TDBTimeStamp{});
}

TEST(IntegracaoArquivo, CnpjNoArquivo) {
  const TLinhasArquivo l{"|H|CABECALHO|", "|V|11222333000181|100,00|"};
  EXPECT_TRUE(TIntegracaoArquivo::TestarCnpjArquivo(taVendas, "11222333000181", &l));
  EXPECT_FALSE(TIntegracaoArquivo::TestarCnpjArquivo(taVendas, "11.222.333/0001-81", &l));
  EXPECT_FALSE(TIntegracaoArquivo::TestarCnpjArquivo(taNenhum, "11222333000181", &l));
  EXPECT_FALSE(TIntegracaoArquivo::TestarCnpjArquivo(taVendas, "11222333000181", nullptr));
  EXPECT_FALSE(TIntegracaoArquivo::TestarCnpjArquivo(taVendas, "", &l));
  EXPECT_FALSE(TIntegracaoArquivo::TestarCnpjArquivo(taVendas, "cabecalho", &l));  // case
  // The lines are searched as one text joined by CR LF.
  const TLinhasArquivo partido{"|V|1122233", "3000181|"};
  EXPECT_TRUE(TIntegracaoArquivo::TestarCnpjArquivo(taVendas, "1122233\r\n3000181", &partido));
  EXPECT_FALSE(TIntegracaoArquivo::TestarCnpjArquivo(taVendas, "11222333000181", &partido));
}

}  // namespace
}  // namespace tamrix::integration

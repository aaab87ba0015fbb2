// TIntegracaoArquivo against the tenant database: the validation of a request in order, the
// duplicate check, the storage of the lines with their import and registration in one
// transaction, its failures leaving nothing behind, and the log row.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "db/uDBQuery.h"
#include "integration/IntegracaoTeste.h"
#include "integration/uIntegracaoArquivo.h"
#include "integration/uMensagemIntegracao.h"

namespace tamrix::integration::teste {
namespace {

using Linhas = TLinhasArquivo;

class GravacaoTest : public IntegracaoTest {
 protected:
  void SetUp() override {
    IntegracaoTest::SetUp();
    if (HasFatalFailure() || IsSkipped()) return;
    o.SetConexaoBD(&S().Conexao());
  }
  // The code TestarDadosIntegracao adds, -1 when the request passes.
  int Validar(const std::string& token, const std::string& cnpj, const std::string& data,
              const std::string& nome, const boost::json::value& arquivo) {
    boost::json::object msg;
    const bool ok = o.TestarDadosIntegracao(token, cnpj, data, nome, arquivo, msg);
    EXPECT_EQ(ok, msg.empty());
    if (ok) return -1;
    EXPECT_EQ(msg.size(), 2u);
    return static_cast<int>(msg.at("Código").as_int64());
  }
  void Registrar(const std::string& cnpj, const std::string& arquivo) {
    pgtest::Exec(S().Tenant(),
                 "INSERT INTO POS_Controle (cnpj_empresa, dt_execucao, servico, controle, "
                 "arquivo, transfere, enviado, dt_movimento) VALUES ('" +
                     cnpj + "', now(), 'V', 1, '" + arquivo + "', 'N', 0, '2016-10-09')");
  }
  bool Gravar(const Linhas& linhas, std::string& msg, const std::string& arquivo = "VENDAS.TXT",
              const std::string& data = "2016-10-09", TTipoArquivo tipo = taVendas) {
    return o.GravarArquivo(tipo, linhas, kCnpj, data, arquivo, msg);
  }
  void EsperarNadaGravado() {
    EXPECT_EQ(S().Contar("Pos_Arquivo"), 0);
    EXPECT_EQ(S().Contar("Pos_Venda"), 0);
    EXPECT_FALSE(S().Conexao().InTransaction());
  }

  TIntegracaoArquivo o;
  const boost::json::value arquivo{{"arquivo", "QUJD"}};
};

TEST_F(GravacaoTest, ValidacaoNaOrdemDosPassos) {
  struct Caso {
    const char *token, *cnpj, *data, *nome;
    int codigo;
  };
  const Caso casos[] = {
      {kToken, kCnpj, "2016-10-09", "VENDAS.TXT", -1},
      {"", "x", "x", "", 2},  // blank token: nothing else is looked at
      {"TkNaoExiste", kCnpj, "2016-10-09", "VENDAS.TXT", 2},
      {kToken, "11.222.333/0001-81", "2016-10-09", "VENDAS.TXT", -1},
      {kToken, "11.222.333/0001-82", "2016-10-09", "VENDAS.TXT", 3},
      {kToken, kCnpj, "2016/10/09", "VENDAS.TXT", -1},
      {kToken, kCnpj, "2016-10-09T12:00", "VENDAS.TXT", -1},
      {kToken, kCnpj, "2016-02-30", "VENDAS.TXT", 4},
      {kToken, kCnpj, "09-10-2016", "VENDAS.TXT", 4},
      {kToken, kCnpj, "20161009", "VENDAS.TXT", 4},
      {kToken, kCnpj, " ", "", 4},
      {kToken, kCnpj, "2016-10-09", "   ", 5},
      {kToken, kCnpj, "2016-10-09", "VENDAS.", -1},
      {kToken, kCnpj, "2016-10-09", "VENDAS", 6},
      {kToken, kCnpj, "2016-10-09", "PASTA.X\\VENDAS", 6},
      {kToken, kCnpj, "2016-10-09", "C:VENDAS", 6},
  };
  for (const auto& c : casos)
    EXPECT_EQ(Validar(c.token, c.cnpj, c.data, c.nome, arquivo), c.codigo)
        << c.token << " " << c.cnpj << " " << c.data << " " << c.nome;

  // The file object: a first pair with a name, whatever its value.
  EXPECT_EQ(Validar(kToken, kCnpj, "2016-10-09", "V.TXT", boost::json::value{{"   ", "QUJD"}}), 8);
  EXPECT_EQ(Validar(kToken, kCnpj, "2016-10-09", "V.TXT", boost::json::object{}), 8);
  EXPECT_EQ(Validar(kToken, kCnpj, "2016-10-09", "V.TXT", nullptr), 8);
  EXPECT_EQ(Validar(kToken, kCnpj, "2016-10-09", "V.TXT", "QUJD"), 8);
  EXPECT_EQ(Validar(kToken, kCnpj, "2016-10-09", "V.TXT", boost::json::value{{"x", 5}}), -1);
}

TEST_F(GravacaoTest, ArquivoJaImportadoPeloNomeEPeloCnpjComoEscrito) {
  Registrar(kCnpj, "VENDAS.TXT");
  boost::json::object msg;
  EXPECT_FALSE(o.TestarDadosIntegracao(kToken, kCnpj, "2016-10-09", "VENDAS.TXT", arquivo, msg));
  EXPECT_EQ(boost::json::serialize(msg),
            R"({"Código":7,"Mensagem":"Arquivo VENDAS.TXT já importado."})");
  // The same company written with punctuation, or another file name, is not a duplicate.
  EXPECT_EQ(Validar(kToken, "11.222.333/0001-81", "2016-10-09", "VENDAS.TXT", arquivo), -1);
  EXPECT_EQ(Validar(kToken, kCnpj, "2016-10-09", "VENDAS2.TXT", arquivo), -1);
}

// Both ways of sending the lines: arrays (PostgreSQL) and cached rows (what SQL Server gets).
TEST_F(GravacaoTest, GravaLinhasImportaERegistra) {
  for (const auto& [arrays, porEnvio] :
       {std::pair{true, 5000}, {true, 2}, {false, 5000}, {false, 2}}) {
    SCOPED_TRACE(std::to_string(arrays) + " " + std::to_string(porEnvio));
    S().Limpar();
    o.SetLinhasEmArrays(arrays);
    o.SetLinhasPorEnvio(static_cast<std::size_t>(porEnvio));
    // Texts an array literal must quote arrive as they are.
    Linhas linhas{"|V|A|1,50|", "V|B|2", "",        "V|C|3|",
                  "|V|D|4",     "   ",   "  V|E|5", "V|\"{X,Y}\"|\\|NULL"};
    std::string msg = "x";
    ASSERT_TRUE(o.GravarArquivo(taVendas, linhas, kCnpj, "2016-10-09T12:00", "VENDAS.TXT", msg))
        << msg;
    EXPECT_EQ(msg, "");
    // In the table's order of arrival, as the procedure reads them.
    EXPECT_EQ(S().Tenant("SELECT string_agg(nr_ordem || '=' || linha, ' ' ORDER BY "
                         "id_pos_arquivo) FROM Pos_Arquivo"),
              "1=|V|A|1,50| 2=|V|B|2| 4=|V|C|3| 5=|V|D|4| 7=|  V|E|5| 8=|V|\"{X,Y}\"|\\|NULL|");
    EXPECT_EQ(S().Tenant("SELECT count(DISTINCT (cnpj_cpf, dt_movimento, tp_arquivo, arquivo, "
                         "dt_arquivo)) || ' ' || min(cnpj_cpf) || ' ' || min(dt_movimento) || "
                         "' ' || min(tp_arquivo) || ' ' || min(arquivo) FROM Pos_Arquivo"),
              "1 11222333000181 2016-10-09 00:00:00 V VENDAS.TXT");
    EXPECT_EQ(S().Tenant("SELECT count(*) FROM Pos_Arquivo WHERE arquivo_xml IS NULL"), "6");
    // The procedure saw every stored row.
    EXPECT_EQ(S().Contar("Pos_Venda"), 6);
    EXPECT_EQ(S().Tenant("SELECT cnpj_empresa || ' ' || servico || ' ' || controle || ' ' || "
                         "arquivo || ' ' || transfere || ' ' || enviado || ' ' || dt_movimento "
                         "FROM POS_Controle"),
              "11222333000181 V 1 VENDAS.TXT N 0 2016-10-09 00:00:00");
    EXPECT_FALSE(S().Conexao().InTransaction());
  }
}

TEST_F(GravacaoTest, GravacaoRecusadaSemTocarOBanco) {
  std::string msg = "x";
  EXPECT_FALSE(Gravar({"|V|A|"}, msg, "VENDAS.TXT", "2016-10-09", taNenhum));
  EXPECT_EQ(msg, "");
  // Checks the endpoint makes first; a caller that skipped them gets their message.
  EXPECT_FALSE(Gravar({"|V|A|"}, msg, "VENDAS.TXT", "2016-02-30"));
  EXPECT_EQ(msg, TextoMensagem(4));
  EXPECT_FALSE(Gravar({"", "  ", "\t"}, msg));
  EXPECT_EQ(msg, TextoMensagem(9));
  EsperarNadaGravado();
  EXPECT_EQ(S().Contar("POS_Controle"), 0);
}

TEST_F(GravacaoTest, FalhaDoProcedimentoNaoDeixaNada) {
  std::string msg;
  EXPECT_FALSE(Gravar({"|V|A|1|", "|V|ERRO|2|"}, msg));
  EXPECT_NE(msg.find("Linha 2 do arquivo VENDAS.TXT rejeitada"), std::string::npos) << msg;
  EXPECT_EQ(msg.find("[unixODBC]"), std::string::npos) << msg;
  EsperarNadaGravado();
  EXPECT_EQ(S().Contar("POS_Controle"), 0);
}

TEST_F(GravacaoTest, FalhaDeUmaLinhaEmEnvioPosteriorDesfazOsAnteriores) {
  std::vector<std::string> respostas;
  for (bool arrays : {true, false}) {
    SCOPED_TRACE(arrays);
    o.SetLinhasEmArrays(arrays);
    o.SetLinhasPorEnvio(2);
    std::string msg;
    // linha is varchar(4000): the fifth row fails after two parts were sent, its own error
    // the answer.
    EXPECT_FALSE(Gravar(
        {"|V|A|", "|V|B|", "|V|C|", "|V|D|", "|V|" + std::string(5000, 'X') + "|", "|V|F|"}, msg));
    EXPECT_NE(msg.find("4000"), std::string::npos) << msg;
    EXPECT_EQ(msg, o.UpdateError());
    EsperarNadaGravado();
    EXPECT_EQ(S().Contar("POS_Controle"), 0);
    respostas.push_back(msg);
  }
  EXPECT_EQ(respostas[0], respostas[1]);  // the same answer either way
}

TEST_F(GravacaoTest, FalhaDoRegistroDesfazLinhasEImportacao) {
  // Registered meanwhile (the duplicate check was passed before): the constraint refuses.
  Registrar(kCnpj, "VENDAS.TXT");
  std::string msg;
  EXPECT_FALSE(Gravar({"|V|A|1|"}, msg));
  EXPECT_NE(msg.find("uq_pos_controle_arquivo"), std::string::npos) << msg;
  EsperarNadaGravado();
  EXPECT_EQ(S().Contar("POS_Controle"), 1);
}

TEST_F(GravacaoTest, DoisEnviosSimultaneosDoMesmoArquivo) {
  // The first terminal's import is still open when the second one registers the same file.
  db::TDBConnection primeira;
  pgtest::Configure(primeira, S().Tenant());
  primeira.Open();
  primeira.StartTransaction();
  {
    db::TDBQuery q(&primeira);
    q.SetSQL(
        "INSERT INTO POS_Controle (cnpj_empresa, dt_execucao, servico, controle, arquivo, "
        "transfere, enviado, dt_movimento) VALUES ('11222333000181', now(), 'V', 1, "
        "'VENDAS.TXT', 'N', 0, '2016-10-09')");
    q.ExecSQL();
  }
  std::string msg;
  auto segunda = std::async(std::launch::async, [&] { return Gravar({"|V|A|1|"}, msg); });
  // The second waits on the constraint until the first ends.
  for (int i = 0; i < 600 && S().Tenant("SELECT count(*) FROM pg_stat_activity WHERE datname = "
                                        "current_database() AND wait_event_type = 'Lock'") == "0";
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  primeira.Commit();
  EXPECT_FALSE(segunda.get());
  EXPECT_NE(msg.find("uq_pos_controle_arquivo"), std::string::npos) << msg;
  EsperarNadaGravado();
  EXPECT_EQ(S().Contar("POS_Controle"), 1);
}

TEST_F(GravacaoTest, LogDaMensagem) {
  boost::json::object msg;
  AdicionarMensagemFmt(7, {"VENDAS.TXT"}, &msg);
  o.Log(kToken, kCnpj, &msg);
  o.Log(kToken, kCnpj, nullptr);
  EXPECT_EQ(S().Tenant("SELECT string_agg(token || ' ' || cnpj || ' ' || cd_mensagem || ' ' || "
                       "ds_log, ';') FROM LogIntegracaoArquivo WHERE dt_log IS NOT NULL"),
            std::string(kToken) + " 11222333000181 7 Arquivo VENDAS.TXT já importado.");
}

}  // namespace
}  // namespace tamrix::integration::teste

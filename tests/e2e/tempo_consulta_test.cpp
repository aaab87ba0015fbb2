// Database time limits through the real server: a call whose statement waits past
// TempoConsulta, and a sales-file import past TempoImportacao, answer the translated text at
// the limit, keep nothing, and leave the tenant connection fit for the next call.
#include <algorithm>

#include "e2e/integracao_e2e.h"

namespace tamrix::e2e::upload {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kAssinatura =
    "(cnpj_cpf varchar, dt_movimento timestamp, tp_arquivo varchar, arquivo varchar)";

double Segundos(Clock::time_point desde) {
  return std::chrono::duration<double>(Clock::now() - desde).count();
}

// A private main database and tenant copy, and the server on them with these [BD] lines.
class TTempoLimiteE2E : public ::testing::Test {
 protected:
  void Iniciar(const std::string& extraBD) {
    main_.emplace(pgtest::Env()->mainTemplate);
    tenant_.emplace(pgtest::Env()->tenant1Template);
    pgtest::Exec(main_->Name(), "UPDATE ConfigBD SET nome_bd = '" + tenant_->Name() +
                                    "' WHERE token = '" + kToken + "'");
    servidor_.emplace(TConfigE2E{.MainDb = main_->Name(), .ExtraBD = extraBD});
    ASSERT_TRUE(servidor_->Iniciar()) << servidor_->Erros();
  }

  // Puts a wait of `segundos` in front of the tenant's import procedure (again: changes it).
  void RetardarImportacao(double segundos) {
    if (!retardada_) {
      pgtest::Exec(Tenant(), std::string("ALTER FUNCTION POS_spcImportaArquivo") + kAssinatura +
                                 " RENAME TO pos_importa_original");
      retardada_ = true;
    }
    pgtest::Exec(Tenant(), std::string("CREATE OR REPLACE FUNCTION POS_spcImportaArquivo") +
                               kAssinatura +
                               " RETURNS void LANGUAGE plpgsql AS $$ BEGIN PERFORM pg_sleep(" +
                               std::to_string(segundos) +
                               "); PERFORM pos_importa_original($1, $2, $3, $4); END $$");
  }

  TRespostaUpload EnviarArquivo(const std::string& nome, const std::string& arquivo) {
    return upload::Enviar(servidor_->Porta(), kToken, kCnpj, "2016-10-09", nome, Corpo(arquivo));
  }

  // Statements of the tenant database still running (not idle) for other backends.
  int ConsultasAtivas() const {
    return std::stoi(pgtest::QueryText(
        "postgres", "SELECT count(*) FROM pg_stat_activity WHERE datname = '" + Tenant() +
                        "' AND state = 'active' AND pid <> pg_backend_pid()"));
  }

  std::vector<std::vector<std::string>> LogIntegracao() const {
    return Linhas(Tenant(),
                  "SELECT token, cnpj, cd_mensagem, ds_log FROM LogIntegracaoArquivo "
                  "ORDER BY id_log");
  }
  std::vector<std::vector<std::string>> LinhasArquivo(const std::string& arquivo) const {
    return Linhas(Tenant(), "SELECT nr_ordem, linha FROM Pos_Arquivo WHERE arquivo = '" + arquivo +
                                "' ORDER BY nr_ordem");
  }
  // Rows of Pos_Arquivo, POS_Controle and Pos_Venda together: what imports leave.
  int LinhasImportadas() const {
    return Contar(Tenant(), "Pos_Arquivo") + Contar(Tenant(), "POS_Controle") +
           Contar(Tenant(), "Pos_Venda");
  }

  const std::string& Tenant() const { return tenant_->Name(); }
  TServidorE2E& Servidor() { return *servidor_; }

 private:
  std::optional<pgtest::TPgScratchDatabase> main_, tenant_;
  std::optional<TServidorE2E> servidor_;
  bool retardada_ = false;
};

TEST_F(TTempoLimiteE2E, ImportPastTempoImportacaoAnswersTheLimitAndKeepsNothing) {
  TAMRIX_REQUIRE_DIST();
  Iniciar("TempoConsulta=1\r\nTempoImportacao=3\r\n");
  const std::string arquivo = "|V|11222333000181|1,00|\r\n|V|11222333000181|2,00|";

  // The import has its own limit: two seconds pass TempoConsulta but not TempoImportacao.
  RetardarImportacao(2);
  const auto ok = EnviarArquivo("LENTO.TXT", arquivo);
  EXPECT_EQ(ok.Codigo, 1) << ok.Body;
  const int importadas = LinhasImportadas();

  RetardarImportacao(60);
  const auto inicio = Clock::now();
  const auto u = EnviarArquivo("PARADO.TXT", arquivo);
  const double levou = Segundos(inicio);
  EXPECT_EQ(u.Status, 201) << u.Body;
  EXPECT_EQ(u.Codigo, 0) << u.Body;
  EXPECT_EQ(u.Mensagem, "Tempo limite da consulta ao banco de dados excedido (3 s).");
  EXPECT_GE(levou, 2.5);
  EXPECT_LT(levou, 30.0) << "answered at the limit, not after the procedure's 60 s";
  // Cancelled in the database too, not left running behind the answer.
  EXPECT_EQ(ConsultasAtivas(), 0);

  EXPECT_TRUE(LinhasArquivo("PARADO.TXT").empty());
  EXPECT_EQ(LinhasImportadas(), importadas) << "Pos_Arquivo, POS_Controle and Pos_Venda as before";
  const auto log = LogIntegracao();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), (std::vector<std::string>{kToken, kCnpj, "0", u.Mensagem}));

  // Nothing of the cancelled attempt stands in the way of sending the file again.
  RetardarImportacao(0);
  const auto de_novo = EnviarArquivo("PARADO.TXT", arquivo);
  EXPECT_EQ(de_novo.Codigo, 1) << de_novo.Body;
  EXPECT_EQ(LinhasArquivo("PARADO.TXT").size(), 2u);
}

TEST_F(TTempoLimiteE2E, CallWaitingPastTempoConsultaAnswersTheLimitAndTheNextCallWorks) {
  TAMRIX_REQUIRE_DIST();
  Iniciar("TempoConsulta=1\r\n");
  const std::string sessao = Servidor().Get("/tamrix/rest/TsmComum/InverterString/a").Sessao();
  ASSERT_EQ(Servidor()
                .Get("/tamrix/rest/TsmUsuario/Login/ADMIN/admin123/" + std::string(kToken),
                     Pragma(sessao))
                .Body,
            R"({"result":["Sucesso",true]})");
  const std::string consulta = "/tamrix/rest/TsmUsuario/ConsultarDadosUsuario/ADMIN/admin123";

  {
    // Another client holds the table: the call's SELECT waits on the lock.
    db::TDBConnection bloqueio;
    pgtest::Configure(bloqueio, Tenant());
    bloqueio.Open();
    db::TDBQuery lock(&bloqueio);
    // Should the call wait on, the lock goes after 10 s and the test fails, not hangs.
    lock.SetSQL("SET idle_in_transaction_session_timeout = '10s'");
    lock.ExecSQL();
    bloqueio.StartTransaction();
    lock.SetSQL("LOCK TABLE Usuario IN ACCESS EXCLUSIVE MODE");
    lock.ExecSQL();

    const auto inicio = Clock::now();
    const auto r = Servidor().Get(consulta, Pragma(sessao));
    const double levou = Segundos(inicio);
    EXPECT_EQ(r.Body, R"({"error":"Tempo limite da consulta ao banco de dados excedido (1 s)."})");
    EXPECT_GE(levou, 0.9);
    EXPECT_LT(levou, 20.0);
    bloqueio.Rollback();
  }

  const auto linhas = Servidor().Log();
  EXPECT_TRUE(std::any_of(linhas.begin(), linhas.end(), [](const std::string& l) {
    return l.find("Tempo limite da consulta ao banco de dados excedido (1 s).") !=
           std::string::npos;
  })) << ::testing::PrintToString(linhas);

  const auto r = Servidor().Get(consulta, Pragma(sessao));
  EXPECT_EQ(r.Status, 200) << r.Body;
  EXPECT_NE(r.Body.find(R"("result")"), std::string::npos) << r.Body;
}

}  // namespace
}  // namespace tamrix::e2e::upload

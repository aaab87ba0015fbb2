// The sales-file upload over HTTP against the dist/ executable: the answer for each outcome,
// its exact bytes on the wire, and the rows it leaves in Pos_Arquivo, POS_Controle, Pos_Venda
// and LogIntegracaoArquivo.
#include <ctime>

#include "e2e/integracao_e2e.h"

namespace tamrix::e2e::upload {
namespace {

// The test's local time, shifted by some seconds, as the database writes timestamps.
std::string HoraLocal(int desvioSegundos) {
  const std::time_t t = std::time(nullptr) + desvioSegundos;
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

TEST_F(TUploadE2E, StoredImportedRegisteredThenCode7OnResend) {
  const std::string arquivo = "|V|11222333000181|100,00|";
  const std::string antes = HoraLocal(-2);
  const auto u = EnviarArquivo("VENDAS.TXT", arquivo);
  const std::string depois = HoraLocal(2);

  // As the REST layer writes it: PUT answers 201, non-ASCII escaped with upper-case digits.
  EXPECT_EQ(u.Status, 201);
  EXPECT_EQ(u.Body, R"({"result":[{"C\u00F3digo":1,"Mensagem":"Sucesso."}]})");

  using L = std::vector<std::vector<std::string>>;
  EXPECT_EQ(Linhas(Tenant(),
                   "SELECT cnpj_cpf, to_char(dt_movimento, 'YYYY-MM-DD HH24:MI:SS.MS'), "
                   "tp_arquivo, nr_ordem, linha, processado, arquivo, "
                   "coalesce(arquivo_xml, '<null>'), "
                   "(dt_arquivo BETWEEN '" +
                       antes + "' AND '" + depois +
                       "')::text "
                       "FROM Pos_Arquivo"),
            (L{{kCnpj, "2016-10-09 00:00:00.000", "V", "1", arquivo, "S", "VENDAS.TXT", "<null>",
                "true"}}))
      << "processado is S once POS_spcImportaArquivo has run; dt_arquivo between " << antes
      << " and " << depois;
  EXPECT_EQ(Linhas(Tenant(),
                   "SELECT cnpj_empresa, servico, controle, arquivo, transfere, enviado, "
                   "to_char(dt_movimento, 'YYYY-MM-DD HH24:MI:SS'), "
                   "(dt_execucao IS NOT NULL)::text FROM POS_Controle"),
            (L{{kCnpj, "V", "1", "VENDAS.TXT", "N", "0", "2016-10-09 00:00:00", "true"}}));
  EXPECT_EQ(Linhas(Tenant(),
                   "SELECT cnpj_cpf, nr_ordem, tp_registro, vl_venda::text, arquivo "
                   "FROM Pos_Venda"),
            (L{{kCnpj, "1", "V", "100.00", "VENDAS.TXT"}}));
  EXPECT_EQ(LogIntegracao(), (L{{kToken, kCnpj, "1", "Sucesso."}}));

  // The same file again: refused with its name, logged, nothing added.
  const auto de_novo = EnviarArquivo("VENDAS.TXT", arquivo);
  EXPECT_EQ(de_novo.Status, 201);
  EXPECT_EQ(de_novo.Body,
            R"({"result":[{"C\u00F3digo":7,"Mensagem":"Arquivo VENDAS.TXT j\u00E1 importado."}]})");
  EXPECT_EQ(LogIntegracao().back(),
            (std::vector<std::string>{kToken, kCnpj, "7", "Arquivo VENDAS.TXT já importado."}));
  EXPECT_EQ(Contar(Tenant(), "POS_Controle"), 1);
  EXPECT_EQ(Contar(Tenant(), "Pos_Arquivo"), 1);

  // The duplicate check compares the CNPJ text as sent: written with punctuation, the same
  // name is a file of another CNPJ text and is imported.
  const auto pontuado =
      Enviar(kCnpjPontuadoURL, "2016-10-09", "VENDAS.TXT", Corpo("|V|11.222.333/0001-81|100,00|"));
  EXPECT_EQ(pontuado.Codigo, 1) << pontuado.Body;
  EXPECT_EQ(Linhas(Tenant(), "SELECT cnpj_empresa FROM POS_Controle ORDER BY id_controle"),
            (L{{kCnpj}, {kCnpjPontuado}}));
  EXPECT_EQ(LogIntegracao().back(),
            (std::vector<std::string>{kToken, kCnpjPontuado, "1", "Sucesso."}));
}

TEST_F(TUploadE2E, EveryOutcomeAnswersItsCodeAndLogsWhenTheTokenIsKnown) {
  const std::string bom = Corpo("|V|11222333000181|1,00|");
  struct TCaso {
    const char* Caso;
    std::string Token, Cnpj, Data, Nome, Corpo;
    long long Codigo;
    std::string Mensagem;  // exact, or the start of it when Prefixo
    bool Prefixo = false;
    bool Log = true;
  };
  const std::string sC = "2016-10-09";
  const std::string data4 = "Data de movimento inválida. A data deve estar no padrão YYYY-MM-DD.";
  const std::string nome6 = "Arquivo não possui extensão em seu nome.";
  const std::string json8 =
      "Objeto JSON que corresponde ao arquivo está inválido. Verifique o formato JSON que deve "
      "ser gerado.";
  const std::vector<TCaso> casos = {
      {"unknown token", "TkNaoExiste-1", kCnpj, sC, "A1.TXT", bom, 2, "Token inválido.", false,
       false},
      {"blank token", "", kCnpj, sC, "A2.TXT", bom, 2, "Token inválido.", false, false},
      {"blank token, spaces", "%20%20", kCnpj, sC, "A3.TXT", bom, 2, "Token inválido.", false,
       false},
      {"tenant database missing", pgtest::kTokenSemBanco, kCnpj, sC, "A4.TXT", bom, 0,
       "Ocorreu um erro inesperado. Detalhes: Não foi possível conectar ao banco de dados "
       "tamrix_inexistente em 127.0.0.1.",
       true, false},
      {"check digit wrong", kToken, "11222333000182", sC, "B1.TXT", bom, 3, "CNPJ inválido."},
      {"CNPJ blank", kToken, "", sC, "B2.TXT", bom, 3, "CNPJ inválido."},
      {"30 February", kToken, kCnpj, "2016-02-30", "C1.TXT", bom, 4, data4},
      {"day first", kToken, kCnpj, "09-10-2016", "C2.TXT", bom, 4, data4},
      {"no separators", kToken, kCnpj, "20161009", "C3.TXT", bom, 4, data4},
      {"date blank", kToken, kCnpj, "", "C4.TXT", bom, 4, data4},
      {"slashes in date pass", kToken, kCnpj, "2016%2F10%2F09", "C5.TXT", bom, 1, "Sucesso."},
      {"name of blanks", kToken, kCnpj, sC, "%20%20%20", bom, 5, "Nome do arquivo não informado."},
      {"no extension", kToken, kCnpj, sC, "VENDAS", bom, 6, nome6},
      {"dot before backslash", kToken, kCnpj, sC, "PASTA.X%5CVENDAS", bom, 6, nome6},
      {"drive letter", kToken, kCnpj, sC, "C:VENDAS", bom, 6, nome6},
      {"name ending in a dot passes", kToken, kCnpj, sC, "VENDAS.", bom, 1, "Sucesso."},
      {"empty object", kToken, kCnpj, sC, "D1.TXT", "{}", 8, json8},
      {"null object", kToken, kCnpj, sC, "D2.TXT", "null", 8, json8},
      {"first pair named with blanks", kToken, kCnpj, sC, "D3.TXT",
       R"({"   ":")" + Base64("|V|11222333000181|") + R"("})", 8, json8},
      {"first pair of any name passes", kToken, kCnpj, sC, "D4.TXT",
       R"({"x":")" + Base64("|V|11222333000181|") + R"(","y":1})", 1, "Sucesso."},
      {"blanks and line breaks", kToken, kCnpj, sC, "E1.TXT", Corpo("  \r\n\t\r\n \n\r "), 9,
       "Arquivo vazio."},
      {"empty file", kToken, kCnpj, sC, "E2.TXT", R"({"arquivo":""})", 9, "Arquivo vazio."},
      {"short number as value", kToken, kCnpj, sC, "E3.TXT", R"({"arquivo":12})", 9,
       "Arquivo vazio."},
      {"file holds the CNPJ in another form", kToken, kCnpjPontuadoURL, sC, "F1.TXT", bom, 10,
       "Arquivo vazio ou não pertence ao CNPJ informado"},
      {"file of another company", kToken, kCnpj, sC, "F2.TXT", Corpo("|V|99888777000161|1,00|"), 10,
       "Arquivo vazio ou não pertence ao CNPJ informado"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.Caso);
    const std::size_t logs = LogIntegracao().size();
    const auto u = Enviar(c.Cnpj, c.Data, c.Nome, c.Corpo, c.Token);
    EXPECT_EQ(u.Status, 201) << u.Body;
    EXPECT_EQ(u.Codigo, c.Codigo) << u.Body;
    if (c.Prefixo)
      EXPECT_EQ(u.Mensagem.substr(0, c.Mensagem.size()), c.Mensagem) << u.Mensagem;
    else
      EXPECT_EQ(u.Mensagem, c.Mensagem);
    const auto log = LogIntegracao();
    ASSERT_EQ(log.size(), logs + (c.Log ? 1 : 0));
    if (c.Log) {
      EXPECT_EQ(log.back()[2], std::to_string(c.Codigo));
      EXPECT_EQ(log.back()[3], u.Mensagem);
    }
  }
  // Only the three accepted files were stored and registered.
  EXPECT_EQ(Linhas(Tenant(), "SELECT arquivo FROM POS_Controle ORDER BY arquivo"),
            (std::vector<std::vector<std::string>>{{"C5.TXT"}, {"D4.TXT"}, {"VENDAS."}}));
  EXPECT_EQ(Contar(Tenant(), "Pos_Arquivo"), 3);
  // A token check that failed never reached the tenant's log, whatever the token was.
  EXPECT_EQ(pgtest::QueryText(Tenant(),
                              "SELECT count(*) FROM LogIntegracaoArquivo "
                              "WHERE cd_mensagem IN (0, 2)"),
            "0");
}

TEST_F(TUploadE2E, FileIsTrimmedPipedUpperCasedAndCutAtNul) {
  // Latin-1 bytes: each byte is one character; only a to z change case.
  const std::string arquivo = std::string("|V|11222333000181|10,00|\r\n") +  // 1
                              "\r\n" +                                       // 2 blank
                              "v\t11222333000181\t20,00\n" +                 // 3 TAB, lower
                              "   \r" +                                      // 4 blanks only
                              "  a\xe7\xe3o|b\r\n" +                         // 5 leading blanks
                              "A|B\n" + "A|B|\n" + "|A|B\r\n" +              // 6 7 8
                              "|V|" + std::string(1, '\0') + "|LIXO|\r\n" +  // 9, cut at NUL
                              "|V|11222333000181|30,00|\r\n";
  const auto u = EnviarArquivo("NORMAL.TXT", "\t \r\n" + arquivo + " \t", "2016-10-09T12:00");
  EXPECT_EQ(u.Codigo, 1) << u.Body;

  using L = std::vector<std::vector<std::string>>;
  EXPECT_EQ(LinhasArquivo("NORMAL.TXT"), (L{{"1", "|V|11222333000181|10,00|"},
                                            {"3", "|V|11222333000181|20,00|"},
                                            {"5", "|  AçãO|B|"},
                                            {"6", "|A|B|"},
                                            {"7", "|A|B|"},
                                            {"8", "|A|B|"},
                                            {"9", "|V|"}}));
  // The time after the date is dropped: stored at midnight, rows and control alike.
  EXPECT_EQ(Linhas(Tenant(),
                   "SELECT DISTINCT to_char(dt_movimento, 'YYYY-MM-DD HH24:MI:SS.MS') "
                   "FROM Pos_Arquivo"),
            (L{{"2016-10-09 00:00:00.000"}}));
  EXPECT_EQ(pgtest::QueryText(Tenant(),
                              "SELECT to_char(dt_movimento, 'YYYY-MM-DD HH24:MI:SS') "
                              "FROM POS_Controle"),
            "2016-10-09 00:00:00");
  // The procedure saw the same lines: a sale per stored line, the values it could read.
  EXPECT_EQ(Linhas(Tenant(),
                   "SELECT nr_ordem, coalesce(vl_venda::text, '-') FROM Pos_Venda "
                   "ORDER BY nr_ordem"),
            (L{{"1", "10.00"},
               {"3", "20.00"},
               {"5", "-"},
               {"6", "-"},
               {"7", "-"},
               {"8", "-"},
               {"9", "-"}}));
}

}  // namespace
}  // namespace tamrix::e2e::upload

// Sales-file uploads against the real server: a private main database whose first token leads
// to a private copy of tenant 1, the server started on it, the PUT call, its answer read back
// and the rows the upload left in the tenant tables.
#ifndef TAMRIX_TESTS_E2E_INTEGRACAO_E2E_H
#define TAMRIX_TESTS_E2E_INTEGRACAO_E2E_H

#include <boost/json.hpp>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_servidor.h"
#include "util/uBase64.h"

namespace tamrix::e2e::upload {

inline constexpr const char* kToken = pgtest::kTokenLoja1;
inline constexpr const char* kCnpj = "11222333000181";
inline constexpr const char* kCnpjPontuado = "11.222.333/0001-81";
inline constexpr const char* kCnpjPontuadoURL = "11.222.333%2F0001-81";  // as a path segment

// Base64 in one unbroken run, as terminals send it.
inline std::string Base64(std::string_view bytes) {
  std::string b = util::CodificarBase64(bytes);
  std::erase_if(b, [](char c) { return c == '\r' || c == '\n'; });
  return b;
}

// The request body carrying the file's bytes.
inline std::string Corpo(std::string_view arquivo) {
  return R"({"arquivo":")" + Base64(arquivo) + R"("})";
}

// One answer of the endpoint: status, raw body and, when the body is a result envelope
// holding the message object, its code and text (UTF-8).
struct TRespostaUpload {
  int Status = 0;
  std::string Body;
  std::optional<long long> Codigo;
  std::string Mensagem;
};

inline TRespostaUpload LerResposta(const TRespostaHTTP& r) {
  TRespostaUpload u{r.Status, r.Body, std::nullopt, {}};
  boost::system::error_code ec;
  const boost::json::value v = boost::json::parse(r.Body, ec);
  if (ec || !v.is_object()) return u;
  const auto* res = v.as_object().if_contains("result");
  if (res == nullptr || !res->is_array() || res->as_array().empty() ||
      !res->as_array()[0].is_object())
    return u;
  const auto& msg = res->as_array()[0].as_object();
  if (const auto* c = msg.if_contains("Código"); c != nullptr && c->is_int64())
    u.Codigo = c->as_int64();
  if (const auto* m = msg.if_contains("Mensagem"); m != nullptr && m->is_string())
    u.Mensagem = std::string(m->as_string());
  return u;
}

// PUT .../EnviarArquivoVendas with the four path segments as given (already percent-encoded
// where needed) and the body as given (none when empty).
inline TRespostaUpload Enviar(int porta, const std::string& token, const std::string& cnpj,
                              const std::string& data, const std::string& nome,
                              const std::string& corpo) {
  return LerResposta(Pedir(porta, "PUT",
                           "/tamrix/rest/TsmIntegracaoArquivo/EnviarArquivoVendas/" + token + "/" +
                               cnpj + "/" + data + "/" + nome,
                           {}, corpo));
}

// Every row of a query as texts (null as "").
inline std::vector<std::vector<std::string>> Linhas(const std::string& banco,
                                                    const std::string& sql) {
  db::TDBConnection c;
  pgtest::Configure(c, banco);
  c.Open();
  db::TDBQuery q(&c);
  q.SetSQL(sql);
  q.Open();
  std::vector<std::vector<std::string>> r;
  for (; !q.Eof(); q.Next()) {
    std::vector<std::string> linha;
    for (int i = 0; i < q.FieldCount(); ++i) linha.push_back(q.Fields(i).AsString());
    r.push_back(std::move(linha));
  }
  return r;
}

inline int Contar(const std::string& banco, const std::string& tabela) {
  return std::stoi(pgtest::QueryText(banco, "SELECT count(*) FROM " + tabela));
}

template <class F>
bool Esperar(F condicao, std::chrono::milliseconds limite = std::chrono::seconds(20)) {
  const auto fim = std::chrono::steady_clock::now() + limite;
  while (!condicao()) {
    if (std::chrono::steady_clock::now() >= fim) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// A private main database and tenant copy, and the server started on them.
class TUploadE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    TAMRIX_REQUIRE_DIST();
    main_.emplace(pgtest::Env()->mainTemplate);
    tenant_.emplace(pgtest::Env()->tenant1Template);
    pgtest::Exec(main_->Name(), "UPDATE ConfigBD SET nome_bd = '" + tenant_->Name() +
                                    "' WHERE token = '" + kToken + "'");
    servidor_.emplace(TConfigE2E{.MainDb = main_->Name()});
    ASSERT_TRUE(servidor_->Iniciar()) << servidor_->Erros();
  }

  const std::string& Main() const { return main_->Name(); }
  const std::string& Tenant() const { return tenant_->Name(); }
  TServidorE2E& Servidor() { return *servidor_; }

  TRespostaUpload Enviar(const std::string& cnpj, const std::string& data, const std::string& nome,
                         const std::string& corpo, const std::string& token = kToken) {
    return upload::Enviar(servidor_->Porta(), token, cnpj, data, nome, corpo);
  }
  // A well-formed upload of these file bytes for the test CNPJ.
  TRespostaUpload EnviarArquivo(const std::string& nome, const std::string& arquivo,
                                const std::string& data = "2016-10-09") {
    return Enviar(kCnpj, data, nome, Corpo(arquivo));
  }

  // The log rows: token, cnpj, cd_mensagem, ds_log, oldest first.
  std::vector<std::vector<std::string>> LogIntegracao() const {
    return Linhas(Tenant(),
                  "SELECT token, cnpj, cd_mensagem, ds_log FROM LogIntegracaoArquivo "
                  "ORDER BY id_log");
  }
  // The stored lines of a file: nr_ordem, linha.
  std::vector<std::vector<std::string>> LinhasArquivo(const std::string& arquivo) const {
    return Linhas(Tenant(), "SELECT nr_ordem, linha FROM Pos_Arquivo WHERE arquivo = '" + arquivo +
                                "' ORDER BY nr_ordem");
  }
  // Rows of Pos_Arquivo, POS_Controle and Pos_Venda together: what an import leaves.
  int LinhasImportadas() const {
    return Contar(Tenant(), "Pos_Arquivo") + Contar(Tenant(), "POS_Controle") +
           Contar(Tenant(), "Pos_Venda");
  }

 private:
  std::optional<pgtest::TPgScratchDatabase> main_, tenant_;
  std::optional<TServidorE2E> servidor_;
};

}  // namespace tamrix::e2e::upload

#endif  // TAMRIX_TESTS_E2E_INTEGRACAO_E2E_H

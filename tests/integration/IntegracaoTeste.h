// The server as the sales-file tests see it: copies of the test main database and of tenant
// 1 (the tenant registered under kToken), a data module started on them with the real
// sales-file class, uploads sent through the REST dispatcher from a thread of their own as
// the listener would, and a connection of the test's own to the tenant for driving
// TIntegracaoArquivo directly.
#ifndef TAMRIX_TESTS_INTEGRATION_INTEGRACAOTESTE_H
#define TAMRIX_TESTS_INTEGRATION_INTEGRACAOTESTE_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "config/uConfigServidor.h"
#include "core/udmServidor.h"
#include "diagnostics/uLogServidor.h"
#include "endpoints/uRegistroEndpoints.h"
#include "integration/usmIntegracaoArquivo.h"
#include "rest/uRestHTTPWebDispatcher.h"
#include "support/pgtest.h"
#include "support/servidorteste.h"
#include "util/uBase64.h"

namespace tamrix::integration::teste {

inline constexpr const char* kToken = "TkIntegracao-5A1";
inline constexpr const char* kCnpj = "11222333000181";

struct TResposta {
  int Status = 0;
  std::string Corpo;
  // The message object of {"result":[{...}]}; empty when the answer is not one.
  boost::json::object Mensagem() const {
    boost::system::error_code ec;
    const auto v = boost::json::parse(Corpo, ec);
    if (ec || !v.is_object() || !v.as_object().contains("result")) return {};
    const auto& r = v.as_object().at("result");
    if (!r.is_array() || r.as_array().empty() || !r.as_array()[0].is_object()) return {};
    return r.as_array()[0].as_object();
  }
  std::int64_t Codigo() const {
    const auto m = Mensagem();
    const auto* c = m.if_contains("Código");
    return c != nullptr && c->is_int64() ? c->as_int64() : -1;
  }
  std::string Texto() const {
    const auto m = Mensagem();
    const auto* t = m.if_contains("Mensagem");
    return t != nullptr && t->is_string() ? std::string(t->as_string()) : "<sem texto>";
  }
};

// The body a terminal sends for these file bytes.
inline std::string CorpoArquivo(const std::string& bytes) {
  std::string b64 = util::CodificarBase64(bytes);
  std::erase(b64, '\r');
  std::erase(b64, '\n');
  return boost::json::serialize(boost::json::object{{"arquivo", b64}});
}

class TAmbiente {
 public:
  TAmbiente()
      : servidor_("tamrix-integracao", kToken,
                  endpoints::ClassesServidor(TsmIntegracaoArquivo::Tabela())) {
    pgtest::Configure(conexao_, Tenant());
    conexao_.Open();
  }
  ~TAmbiente() { conexao_.Close(); }

  bool Iniciado() const { return servidor_.Iniciado(); }
  const std::string& Main() const { return servidor_.Main(); }
  const std::string& Tenant() const { return servidor_.Tenant(); }
  // The test's own connection to the tenant.
  db::TDBConnection& Conexao() { return conexao_; }

  // Empties the tables the uploads write.
  void Limpar() {
    pgtest::Exec(Tenant(), "TRUNCATE Pos_Arquivo, POS_Controle, Pos_Venda, LogIntegracaoArquivo");
  }
  std::string Tenant(const std::string& sql) { return pgtest::QueryText(Tenant(), sql); }
  int Contar(const std::string& tabela) {
    return std::stoi(Tenant("SELECT count(*) FROM " + tabela));
  }

  // One upload (PUT, new session) from a thread of its own.
  TResposta Enviar(const std::string& token, const std::string& cnpj, const std::string& data,
                   const std::string& nome, const std::string& corpo) {
    util::TWebRequest req = tamrix::teste::TServidorTeste::Pedido(
        "PUT",
        "TsmIntegracaoArquivo/EnviarArquivoVendas/" + token + "/" + cnpj + "/" + data + "/" + nome,
        corpo);
    req.DeclaredBody = true;
    const util::TWebResponse r = servidor_.Despachar(req);
    return {r.StatusCode, r.Content};
  }

  std::vector<std::string> LinhasLog() {
    return diagnostics::TLogServidorSingleton::GetInstance().Linhas();
  }

 private:
  tamrix::teste::TServidorTeste servidor_;
  db::TDBConnection conexao_;
};

// One server for all tests of the executable; each test starts with the upload tables empty.
class IntegracaoTest : public ::testing::Test {
 protected:
  static void TearDownTestSuite() { Ambiente().reset(); }
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    if (!Ambiente()) Ambiente() = std::make_unique<TAmbiente>();
    ASSERT_TRUE(Ambiente()->Iniciado());
    Ambiente()->Limpar();
  }
  static std::unique_ptr<TAmbiente>& Ambiente() {
    static std::unique_ptr<TAmbiente> a;
    return a;
  }
  TAmbiente& S() { return *Ambiente(); }
};

}  // namespace tamrix::integration::teste

#endif  // TAMRIX_TESTS_INTEGRATION_INTEGRACAOTESTE_H

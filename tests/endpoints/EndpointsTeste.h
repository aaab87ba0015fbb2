// The server as the endpoint tests see it: a data module registering every server class of
// this folder, started on a copy of the test main database, and REST calls sent through the
// REST dispatcher, each from a thread of its own as the listener would. Copies of the main
// database and of tenant 1 carry the rows of tests/sql/endpoints_*.sql.
#ifndef TAMRIX_TESTS_ENDPOINTS_ENDPOINTSTESTE_H
#define TAMRIX_TESTS_ENDPOINTS_ENDPOINTSTESTE_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/uConfigServidor.h"
#include "core/udmServidor.h"
#include "diagnostics/uLogServidor.h"
#include "endpoints/uRegistroEndpoints.h"
#include "endpoints/uSmBase.h"
#include "rest/uDataSetReader.h"
#include "rest/uRestHTTPWebDispatcher.h"
#include "rest/uRestSession.h"
#include "support/pgtest.h"
#include "support/servidorteste.h"

namespace tamrix::endpoints::teste {

// Token of the tenant 1 copy with the extra rows.
inline constexpr const char* kTokenExtra = "TkEndpoints-Extra";

struct TResposta {
  int Status = 0;
  std::string Corpo;
};

// The statements of one fixture file (comment lines dropped, split at ";" ending a line).
inline std::vector<std::string> ComandosSQL(const std::string& arquivo) {
  std::ifstream in(std::string(TAMRIX_SOURCE_DIR) + "/tests/sql/" + arquivo);
  std::vector<std::string> comandos;
  std::string linha, atual;
  while (std::getline(in, linha)) {
    const auto inicio = linha.find_first_not_of(' ');
    if (inicio == std::string::npos || linha.compare(inicio, 2, "--") == 0) continue;
    atual += linha + "\n";
    if (linha.back() == ';') {
      atual.erase(atual.size() - 2);
      comandos.push_back(atual);
      atual.clear();
    }
  }
  if (!atual.empty()) comandos.push_back(atual);
  return comandos;
}

inline void AplicarSQL(const std::string& banco, const std::string& arquivo) {
  const auto comandos = ComandosSQL(arquivo);
  ASSERT_FALSE(comandos.empty()) << arquivo;
  for (const auto& c : comandos) pgtest::Exec(banco, c);
}

class TAmbiente {
 public:
  TAmbiente()
      : servidor_("tamrix-endpoints", kTokenExtra,
                  ClassesServidor(rest::TTabelaClasse<TsmBase>("TsmIntegracaoArquivo")),
                  [](const std::string& main, const std::string& tenant) {
                    AplicarSQL(main, "endpoints_main.sql");
                    AplicarSQL(tenant, "endpoints_tenant.sql");
                  }) {}

  bool Iniciado() const { return servidor_.Iniciado(); }
  core::TdmServidor& Dm() { return servidor_.Dm(); }
  const std::string& Main() const { return servidor_.Main(); }
  const std::string& Tenant() const { return servidor_.Tenant(); }

  // One REST call from a thread of its own. sessao names the session; empty asks for a new
  // one, whose id comes back there.
  TResposta Chamar(const std::string& verbo, const std::string& caminho, std::string& sessao,
                   const std::string& corpo = {}) {
    util::TWebRequest req = tamrix::teste::TServidorTeste::Pedido(verbo, caminho, corpo);
    if (!sessao.empty()) req.Headers.push_back({"Pragma", "dssession=" + sessao});
    const util::TWebResponse r = servidor_.Despachar(req);
    static const std::regex kId("dssession=([^,]+)");
    for (const auto& h : r.CustomHeaders) {
      std::smatch m;
      if (h.Name == "Pragma" && std::regex_search(h.Value, m, kId)) sessao = m[1];
    }
    return {r.StatusCode, r.Content};
  }
  TResposta Get(const std::string& caminho, std::string& sessao) {
    return Chamar("GET", caminho, sessao);
  }
  TResposta Get(const std::string& caminho) {
    std::string sessao;
    return Chamar("GET", caminho, sessao);
  }

  // A value the caller's session holds.
  std::string DadoSessao(const std::string& sessao, const std::string& chave) {
    auto s = Dm().RestServer().Sessoes().ProcurarSessao(sessao);
    return s ? s->GetData(chave) : "<sem sessão>";
  }
  bool TemDadoSessao(const std::string& sessao, const std::string& chave) {
    auto s = Dm().RestServer().Sessoes().ProcurarSessao(sessao);
    return s && s->HasData(chave);
  }

  // A session logged in with Login; fails the test when the login does not succeed.
  std::string Sessao(const std::string& token, const std::string& usuario,
                     const std::string& senha) {
    std::string sessao;
    const TResposta r = Get("TsmUsuario/Login/" + usuario + "/" + senha + "/" + token, sessao);
    EXPECT_EQ(r.Corpo, R"({"result":["Sucesso",true]})");
    return sessao;
  }

 private:
  tamrix::teste::TServidorTeste servidor_;
};

// One server for all tests of the executable, started at the first test that needs it.
class EndpointsTest : public ::testing::Test {
 protected:
  static void TearDownTestSuite() { Ambiente().reset(); }
  void SetUp() override {
    TAMRIX_REQUIRE_PG();
    if (!Ambiente()) Ambiente() = std::make_unique<TAmbiente>();
    ASSERT_TRUE(Ambiente()->Iniciado());
  }
  static std::unique_ptr<TAmbiente>& Ambiente() {
    static std::unique_ptr<TAmbiente> a;
    return a;
  }
  TAmbiente& S() { return *Ambiente(); }
};

// The one data set of a data-set answer; fails the test on an error answer.
inline rest::TDataSetLido UmDataSet(const TResposta& r) {
  EXPECT_EQ(r.Status, 200) << r.Corpo;
  const auto ds = rest::LerRespostaDataSets(r.Corpo);
  if (ds.size() != 1) {
    ADD_FAILURE() << "esperado um conjunto de dados: " << r.Corpo;
    return {};
  }
  return ds[0];
}

inline std::vector<std::string> NomesColunas(const rest::TDataSetLido& ds) {
  std::vector<std::string> r;
  for (const auto& c : ds.Colunas) r.push_back(c.Nome);
  return r;
}

// The values of one column, "<null>" standing for null.
inline std::vector<std::string> Coluna(const rest::TDataSetLido& ds, const std::string& nome) {
  std::size_t i = 0;
  while (i < ds.Colunas.size() && ds.Colunas[i].Nome != nome) ++i;
  if (i == ds.Colunas.size()) {
    ADD_FAILURE() << "coluna " << nome << " ausente";
    return {};
  }
  std::vector<std::string> r;
  for (const auto& l : ds.Linhas) r.push_back(l[i] ? *l[i] : "<null>");
  return r;
}

}  // namespace tamrix::endpoints::teste

#endif  // TAMRIX_TESTS_ENDPOINTS_ENDPOINTSTESTE_H

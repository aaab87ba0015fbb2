// The REST server's registry as the generator sees it.
#include <gtest/gtest.h>

#include <boost/json/value.hpp>

#include "rest/uRestServer.h"
#include "rest/uRestServerClass.h"
#include "web/uRestServerMetaDataProvider.h"

namespace tamrix::web::teste {
namespace {

struct TsmExemplo {
  std::string InverterString(const std::string& s) { return {s.rbegin(), s.rend()}; }
  bool Login(std::string, std::string& msg) { return msg.empty(); }
  std::string updateUploadFile(std::string, boost::json::value) { return {}; }
  void cancelNada(std::int64_t, double) {}
};

TEST(RestServerMetaDataProvider, DescribesTheRegisteredClasses) {
  rest::TRestServer servidor;
  auto provedor = RestServerMetaDataProvider(servidor);
  EXPECT_TRUE(provedor().empty());
  servidor.RegistrarClasse(
      rest::TTabelaClasse<TsmExemplo>("TsmExemplo")
          .Metodo("InverterString", &TsmExemplo::InverterString, "pspTexto")
          .Metodo("Login", &TsmExemplo::Login, "pspUsuario", rest::Out("pspMsg"))
          .Metodo("updateUploadFile", &TsmExemplo::updateUploadFile, "psCNPJ", "pjoArquivo")
          .Metodo("cancelNada", &TsmExemplo::cancelNada, "pi", "pd"));
  auto classes = provedor();
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_EQ(classes[0].Nome, "TsmExemplo");
  const auto& m = classes[0].Metodos;
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m[0].Nome, "InverterString");
  EXPECT_EQ(m[0].Resultado, TProxyParamType::ptString);
  EXPECT_EQ(m[1].Parametros[1].Direcao, TProxyParamDirection::pdOut);
  EXPECT_EQ(m[1].Resultado, TProxyParamType::ptBoolean);
  EXPECT_EQ(m[2].Parametros[1].Tipo, TProxyParamType::ptJSONValue);
  EXPECT_EQ(m[3].Parametros[0].Tipo, TProxyParamType::ptInt64);
  EXPECT_EQ(m[3].Parametros[1].Tipo, TProxyParamType::ptDouble);
  EXPECT_FALSE(m[3].Resultado.has_value());
}

}  // namespace
}  // namespace tamrix::web::teste

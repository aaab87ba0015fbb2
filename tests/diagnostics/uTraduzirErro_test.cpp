#include "diagnostics/uTraduzirErro.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "diagnostics/uExcecoes.h"

namespace tamrix::diagnostics {
namespace {

// A descendant the server might define: the tests accept subclasses by their own name.
class EDBEngineExceptionFilha : public EDBEngineException {
 public:
  using EDBEngineException::EDBEngineException;
  std::string ClassName() const override { return "EDBEngineExceptionFilha"; }
};

const std::string kHttp =
    "Problemas ao tentar conexão com servidor. Algum dos problemas abaixo pode ter "
    "ocorrido:\r\n\r\n1. Parâmetros do arquivo config.ini incorretos;\r\n2. Rede desconectada "
    "ou inoperante;\r\n3. Servidor está inoperante.";

struct Caso {
  const char* nome;
  std::shared_ptr<std::exception> erro;
  std::string esperado;
};

TEST(TraduzirErro, Regras) {
  const std::string prefixo = "[unixODBC][FreeTDS][SQL Server]";
  const Caso casos[] = {
      {"generico com prefixo removido",
       std::make_shared<EDBEngineException>(prefixo + "Invalid object name 'X'.", ekOther),
       "Ocorreu um erro inesperado. Detalhes: Invalid object name 'X'. (EDBEngineException)."},
      {"faixa",
       std::make_shared<EDatabaseError>(
           "5 is not a valid value for field 'QTD'. The allowed range is 1 to 3"),
       "Intervalo de faixa incorreta. Valor mínimo: 1  Valor máximo: 3"},
      {"faixa com ' to ' no nome do campo",
       std::make_shared<EDatabaseError>(
           "9 is not a valid value for field 'GO TO X'. The allowed range is 1 to 3"),
       "Intervalo de faixa incorreta. Valor mínimo:   Valor máximo: x'. the allowed range is 1 "
       "to 3"},
      {"faixa sem ' to '", std::make_shared<EDatabaseError>("Bad. The allowed range is 5"),
       "Intervalo de faixa incorreta. Valor mínimo:   Valor máximo: . the allowed range is 5"},
      {"faixa sem ' to ' conta caracteres, não bytes",
       std::make_shared<EDatabaseError>("ÉÇÃo. The allowed range is 5"),
       "Intervalo de faixa incorreta. Valor mínimo:   Valor máximo: o. the allowed range is 5"},
      {"decimal",
       std::make_shared<EDatabaseError>(
           "'abc' is not a valid floating point value for field 'PRECO'"),
       "Valor decimal inválido."},
      {"fora de faixa", std::make_shared<EDatabaseError>("Value out of bounds."),
       "Valor fora de faixa."},
      {"servidor inalcançavel vence a faixa",
       std::make_shared<EDBEngineException>("x the allowed range is 1 to 2", ekServerGone),
       "IP ou instância do servidor de banco de dados inválido ou inalcançável."},
      {"login inválido em descendente",
       std::make_shared<EDBEngineExceptionFilha>(prefixo + "Login failed", ekUserPwdInvalid),
       "Usuário ou senha do banco de dados inválido."},
      {"outro tipo do motor mantém o passo 3",
       std::make_shared<EDBEngineException>("Value out of bounds.", ekOther),
       "Valor fora de faixa."},
      {"http", std::make_shared<ENetHTTPClientException>("timeout [a][b]"), kHttp},
      {"prefixo duas vezes mantém o segundo", std::make_shared<Exception>("[a][b]um [c][d]dois"),
       "Ocorreu um erro inesperado. Detalhes: um [c][d]dois (Exception)."},
      {"uma etiqueta só não é prefixo", std::make_shared<Exception>("[a] x [b]"),
       "Ocorreu um erro inesperado. Detalhes: [a] x [b] (Exception)."},
      {"mensagem vazia", std::make_shared<EDatabaseError>(""),
       "Ocorreu um erro inesperado. Detalhes:  (EDatabaseError)."},
      {"classe alheia", std::make_shared<std::runtime_error>("the allowed range is 1 to 2"),
       "Ocorreu um erro inesperado. Detalhes: the allowed range is 1 to 2 "
       "(std::runtime_error)."},
  };
  for (const Caso& c : casos) {
    EXPECT_EQ(TraduzirErro(*c.erro), c.esperado) << c.nome;
  }
}

TEST(TraduzirErro, NomeDaClasseRealDescendente) {
  EDBEngineExceptionFilha e("falhou", ekOther);
  EXPECT_EQ(TraduzirErro(e),
            "Ocorreu um erro inesperado. Detalhes: falhou (EDBEngineExceptionFilha).");
  EXPECT_EQ(NomeClasseExcecao(std::out_of_range("x")), "std::out_of_range");
}

}  // namespace
}  // namespace tamrix::diagnostics

// Writes the JavaScript client library of the server methods ("serverfunctions.js") from a
// plain description of the registered classes, so the browser pages can call any method.
#ifndef TAMRIX_WEB_URESTPROXYGENERATOR_H
#define TAMRIX_WEB_URESTPROXYGENERATOR_H

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamrix::web {

enum class TProxyParamDirection { pdIn, pdOut, pdInOut };

// Wire kinds of arguments and results, as the REST protocol converts them.
enum class TProxyParamType {
  ptString,
  ptInt32,
  ptInt64,
  ptBoolean,
  ptDouble,
  ptDateTime,
  ptJSONValue,  // JSON object, array or any value; travels in the body for POST and PUT
  ptDataSet,
  ptOther,
};

struct TProxyParam {
  std::string Nome;
  TProxyParamType Tipo = TProxyParamType::ptString;
  TProxyParamDirection Direcao = TProxyParamDirection::pdIn;
};

struct TProxyMethod {
  std::string Nome;  // as registered, verb prefix included ("updateUploadFile")
  std::vector<TProxyParam> Parametros;
  std::optional<TProxyParamType> Resultado;  // none for a procedure
};

struct TProxyClass {
  std::string Nome;
  std::vector<TProxyMethod> Metodos;
};

// HTTP verb and URL method segment of a registered method name: "update" gives POST,
// "accept" PUT, "cancel" DELETE (the prefix is dropped from the URL), anything else GET.
struct TVerboMetodo {
  std::string Verbo;
  std::string NomeURL;
};
TVerboMetodo VerboDoMetodo(std::string_view nomeMetodo);

class TRestProxyGenerator {
 public:
  // Classes whose name is listed here (exact case) are left out of the library.
  explicit TRestProxyGenerator(std::vector<std::string> classesExcluidas = {"RestMetadata"});

  // The library text: "JSProxyClassList", "JSProxyMethodInfo", one constructor per class
  // taking the connection information, one function per method and its "_URL" companion.
  // Pure ASCII. The page must load js/tamrixrest.js (ServerFunctionExecutor) first.
  std::string Gerar(const std::vector<TProxyClass>& classes) const;

  // Writes Gerar(classes) to arquivo through a temporary file in the same folder renamed
  // over it, so a reader sees the old file or the new one whole. Throws
  // diagnostics::Exception when it cannot be written; the old file then stays.
  void GravarArquivo(const std::filesystem::path& arquivo,
                     const std::vector<TProxyClass>& classes) const;

 private:
  std::vector<std::string> classesExcluidas_;
};

}  // namespace tamrix::web

#endif  // TAMRIX_WEB_URESTPROXYGENERATOR_H

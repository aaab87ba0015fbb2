// The value types a published server method may take and return, and the untyped argument
// the protocol hands to the conversion of each parameter.
#ifndef TAMRIX_REST_URESTTYPES_H
#define TAMRIX_REST_URESTTYPES_H

#include <boost/json/value.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

namespace tamrix::rest {

// The data-set collection a method returns (rest/uJSONDataSets.h).
class TJSONDataSets;
using TJSONDataSetsPtr = std::shared_ptr<TJSONDataSets>;

// Appends the data-set container of colecao to out; opens its data sets, so it may raise a
// database error. Defined with the collection in rest/uJSONDataSets.cpp.
void EscreverJSONDataSets(TJSONDataSets& colecao, std::string& out);

// A point in time as days since 30 December 1899, the fraction being the time of day.
struct TDateTime {
  double Valor = 0;
  friend bool operator==(TDateTime, TDateTime) = default;
};

// Declared type of a parameter or result. JSON parameters are always taken as trJSONValue:
// they may receive an object, a string (from a path segment) or null.
enum class TTipoRest {
  trVoid,
  trString,
  trInt32,
  trInt64,
  trBoolean,
  trDouble,
  trDateTime,
  trJSONValue,
  trJSONObject,
  trJSONArray,
  trDataSets,
};

enum class TDirecaoParametro { dpIn, dpOut, dpInOut };

// Type name as clients and error messages show it ("string", "Integer", "TJSONObject", ...).
const char* NomeTipoRest(TTipoRest tipo);
const char* NomeDirecao(TDirecaoParametro direcao);  // "in", "out", "var"

// What the protocol found for one input parameter before conversion: nothing (missing or
// "null"), the decoded text of a path segment, or a JSON value from the body.
struct TArgumentoTexto {
  std::string Texto;
};
using TArgumentoRest = std::variant<std::monostate, TArgumentoTexto, boost::json::value>;

// A text result already in its JSON form, quotes included (as EscreverTextoJSON writes it).
// Published as a string; lets a method build a big answer once, in the form it is sent.
struct TTextoJSON {
  std::string JSON;
};

// One element of the "result" array, still typed; written after the method has returned.
using TValorRest =
    std::variant<std::monostate, std::string, std::int32_t, std::int64_t, bool, double, TDateTime,
                 boost::json::value, TJSONDataSetsPtr, TTextoJSON>;

struct TSaidaRest {
  TTipoRest Tipo;
  TValorRest Valor;
};

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_URESTTYPES_H

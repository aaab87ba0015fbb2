// The JSON text the REST answers are made of: no white space, every character outside
// printable ASCII written as \uXXXX (UTF-16 units, upper-case hex) and '/' always escaped,
// so an answer body is pure ASCII whatever its data.
#ifndef TAMRIX_REST_UJSONWRITER_H
#define TAMRIX_REST_UJSONWRITER_H

#include <boost/json/value.hpp>
#include <string>
#include <string_view>

namespace tamrix::rest {

// Appends utf8 to out as a quoted JSON string. Bytes that are not valid UTF-8 are written
// as \uFFFD, one per offending byte, so the output stays valid JSON.
void EscreverTextoJSON(std::string& out, std::string_view utf8);

// Appends the inside of a JSON string (no quotes) holding bytes, each byte taken as the
// character of the same code (0-255): what EscreverTextoJSON writes for their UTF-8 form,
// without making that form.
void EscreverBytesJSON(std::string& out, std::string_view bytes);
// The length EscreverBytesJSON appends for bytes, to reserve it at once.
std::size_t TamanhoBytesJSON(std::string_view bytes);

// Appends v to out: objects keep their pair order, integers are written in decimal, floating
// values in their shortest round-trip form (a value that is not finite becomes null).
void EscreverValorJSON(std::string& out, const boost::json::value& v);

// Convenience: v as a new text.
std::string ValorParaJSON(const boost::json::value& v);

}  // namespace tamrix::rest

#endif  // TAMRIX_REST_UJSONWRITER_H

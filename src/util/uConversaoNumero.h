// Lenient text-to-number conversions: text that is not a number reads as 0, never raises.
#ifndef TAMRIX_UTIL_UCONVERSAONUMERO_H
#define TAMRIX_UTIL_UCONVERSAONUMERO_H

#include <cstdint>
#include <string_view>

namespace tamrix::util {

// The text as a floating-point number: optional sign, digits, the decimal separator of the
// process's numeric locale (LC_NUMERIC; "." in the C locale), optional exponent such as E3;
// no thousands separators. Surrounding characters of code 32 or less are ignored. 0 when
// the text is not such a number or is out of the range of double.
double TextoParaFloat(std::string_view texto);

// The same with an explicit decimal separator instead of the locale's.
double TextoParaFloat(std::string_view texto, std::string_view separadorDecimal);

// The text as a 32-bit signed integer: optional sign and decimal digits, surrounding
// characters of code 32 or less ignored. 0 when it is not one or does not fit.
std::int32_t TextoParaInteiro(std::string_view texto);

// The same rules, telling "0" from text that is not an integer: true and valor set when the
// text is one, false (valor untouched) otherwise.
bool TentarTextoParaInteiro(std::string_view texto, std::int32_t& valor);
bool TentarTextoParaInteiro(std::string_view texto, std::int64_t& valor);

}  // namespace tamrix::util

#endif  // TAMRIX_UTIL_UCONVERSAONUMERO_H

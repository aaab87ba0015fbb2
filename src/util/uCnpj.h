// Brazilian company registration number (CNPJ) check.
#ifndef TAMRIX_UTIL_UCNPJ_H
#define TAMRIX_UTIL_UCNPJ_H

#include <string_view>

namespace tamrix::util {

// True when the text, once its ",", ".", "-", "/" and blanks are removed and it is trimmed,
// is exactly 12 digits (not all zero) followed by their two correct check digits.
bool ValidarCnpj(std::string_view texto);

}  // namespace tamrix::util

#endif  // TAMRIX_UTIL_UCNPJ_H

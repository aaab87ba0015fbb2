// Comparison of names that match without regard to letter case (INI sections and keys,
// header names, class names). Only the ASCII letters A-Z and a-z are folded; every other
// byte, accented letters included, must match exactly.
#ifndef TAMRIX_UTIL_UCAIXATEXTO_H
#define TAMRIX_UTIL_UCAIXATEXTO_H

#include <string>
#include <string_view>

namespace tamrix::util {

// Negative, zero or positive as a sorts before, equal to or after b, letters folded.
int CompararSemCaixa(std::string_view a, std::string_view b);

// True when a and b are equal with letters folded.
bool TextoIgualSemCaixa(std::string_view a, std::string_view b);

// A copy with the letters A-Z lowered; nothing else changes.
std::string MinusculasASCII(std::string_view texto);

// A copy with the letters a-z raised; nothing else changes.
std::string MaiusculasASCII(std::string_view texto);

// Ordering for std::map / std::set keys that match without regard to case.
struct TMenorSemCaixa {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    return CompararSemCaixa(a, b) < 0;
  }
};

}  // namespace tamrix::util

#endif  // TAMRIX_UTIL_UCAIXATEXTO_H

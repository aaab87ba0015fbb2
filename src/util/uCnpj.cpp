#include "util/uCnpj.h"

#include <string>

#include "util/uAparar.h"
#include "util/uConversaoNumero.h"

namespace tamrix::util {

namespace {

// Check digit of the characters of texto under the weights; a non-digit counts as 0.
char DigitoVerificador(const std::string& texto, const int* pesos, std::size_t n) {
  int soma = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = i < texto.size() ? texto[i] : '0';
    if (c >= '0' && c <= '9') soma += (c - '0') * pesos[i];
  }
  const int d = 11 - soma % 11;
  return d >= 10 ? '0' : static_cast<char>('0' + d);
}

bool SoDigitos(const std::string& s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

bool ValidarCnpj(std::string_view texto) {
  static const int kPesos1[12] = {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
  static const int kPesos2[13] = {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
  try {
    std::string sem;
    for (char c : texto) {
      if (c != ',' && c != '.' && c != '-' && c != '/' && c != ' ') sem += c;
    }
    const std::string limpo = Aparar(sem);
    std::string calc = limpo.substr(0, 12);
    // Digits only: a number test alone would let "+" or an exponent such as "1E10" through.
    if (calc.empty() || !SoDigitos(calc) || TextoParaFloat(calc, ".") <= 0) return false;
    calc += DigitoVerificador(calc, kPesos1, 12);
    calc += DigitoVerificador(calc, kPesos2, 13);
    return calc == limpo;
  } catch (...) {
    return false;
  }
}

}  // namespace tamrix::util

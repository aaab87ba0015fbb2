#include "util/uAparar.h"

namespace tamrix::util {

namespace {
bool Corta(char c) {
  return static_cast<unsigned char>(c) <= 32;
}
}  // namespace

std::string_view ApararVisao(std::string_view texto) {
  std::size_t ini = 0;
  std::size_t fim = texto.size();
  while (ini < fim && Corta(texto[ini])) ++ini;
  while (fim > ini && Corta(texto[fim - 1])) --fim;
  return texto.substr(ini, fim - ini);
}

std::string Aparar(std::string_view texto) {
  return std::string(ApararVisao(texto));
}

bool EstaVazio(std::string_view texto) {
  return ApararVisao(texto).empty();
}

}  // namespace tamrix::util

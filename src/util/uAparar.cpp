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

std::string_view CortarUTF8(std::string_view texto, std::size_t maximo) {
  if (texto.size() <= maximo) return texto;
  std::size_t corte = maximo;
  // Back up over continuation bytes, so no character is split.
  while (corte > 0 && (static_cast<unsigned char>(texto[corte]) & 0xC0) == 0x80) --corte;
  return texto.substr(0, corte);
}

}  // namespace tamrix::util

#include "util/uCaixaTexto.h"

namespace tamrix::util {

namespace {
unsigned char Baixa(char c) {
  auto u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + ('a' - 'A')) : u;
}
unsigned char Alta(char c) {
  auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - ('a' - 'A')) : u;
}
}  // namespace

int CompararSemCaixa(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = Baixa(a[i]);
    const unsigned char y = Baixa(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool TextoIgualSemCaixa(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompararSemCaixa(a, b) == 0;
}

std::string MinusculasASCII(std::string_view texto) {
  std::string r(texto);
  for (char& c : r) c = static_cast<char>(Baixa(c));
  return r;
}

std::string MaiusculasASCII(std::string_view texto) {
  std::string r(texto);
  for (char& c : r) c = static_cast<char>(Alta(c));
  return r;
}

}  // namespace tamrix::util

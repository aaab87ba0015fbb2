#include "util/uBase64.h"

#include <array>
#include <cstdint>

namespace tamrix::util {

namespace {

constexpr char kAlfabeto[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kBytesLinha = 57;
constexpr std::uint8_t kPular = 255;

constexpr std::array<std::uint8_t, 256> MontarTabela() {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t) v = kPular;
  for (std::uint8_t i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlfabeto[i])] = i;
  return t;
}
constexpr std::array<std::uint8_t, 256> kTabela = MontarTabela();

}  // namespace

std::string CodificarBase64(std::string_view bytes) {
  const std::size_t n = bytes.size();
  if (n == 0) return {};
  std::string r;
  r.reserve(4 * ((n + 2) / 3) + 2 * ((n - 1) / kBytesLinha));
  for (std::size_t linha = 0; linha < n; linha += kBytesLinha) {
    if (linha > 0) r += "\r\n";
    const std::size_t fim = linha + kBytesLinha < n ? linha + kBytesLinha : n;
    for (std::size_t i = linha; i < fim; i += 3) {
      const std::size_t resto = fim - i;
      std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
      if (resto > 1) v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
      if (resto > 2) v |= static_cast<std::uint8_t>(bytes[i + 2]);
      r += kAlfabeto[(v >> 18) & 63];
      r += kAlfabeto[(v >> 12) & 63];
      r += resto > 1 ? kAlfabeto[(v >> 6) & 63] : '=';
      r += resto > 2 ? kAlfabeto[v & 63] : '=';
    }
  }
  return r;
}

namespace {

// Decodes texto into destino (room for 3 bytes per 4 characters); answers the bytes written.
// destino may be texto itself: each byte is written after the characters it comes from.
std::size_t Decodificar(const char* texto, std::size_t tamanho, char* destino) {
  std::size_t n = 0;
  std::uint32_t acumulado = 0;
  int pendentes = 0;
  for (std::size_t i = 0; i < tamanho; ++i) {
    const std::uint8_t v = kTabela[static_cast<unsigned char>(texto[i])];
    if (v == kPular) continue;
    acumulado = (acumulado << 6) | v;
    if (++pendentes == 4) {
      destino[n++] = static_cast<char>((acumulado >> 16) & 0xFF);
      destino[n++] = static_cast<char>((acumulado >> 8) & 0xFF);
      destino[n++] = static_cast<char>(acumulado & 0xFF);
      acumulado = 0;
      pendentes = 0;
    }
  }
  if (pendentes == 3) {
    destino[n++] = static_cast<char>((acumulado >> 10) & 0xFF);
    destino[n++] = static_cast<char>((acumulado >> 2) & 0xFF);
  } else if (pendentes == 2) {
    destino[n++] = static_cast<char>((acumulado >> 4) & 0xFF);
  }
  return n;
}

}  // namespace

std::string DecodificarBase64(std::string_view texto) {
  std::string r;
  if (texto.empty()) return r;
  r.resize(3 * ((texto.size() + 3) / 4));
  r.resize(Decodificar(texto.data(), texto.size(), r.data()));
  return r;
}

std::size_t DecodificarBase64NoLugar(char* texto, std::size_t tamanho) {
  return Decodificar(texto, tamanho, texto);
}

int ValorBase64(char c) {
  const std::uint8_t v = kTabela[static_cast<unsigned char>(c)];
  return v == kPular ? -1 : v;
}

}  // namespace tamrix::util
